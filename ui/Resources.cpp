#include "ui/Resources.h"

#include <QString>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitialiseEmbeddedFiles()
{
    Q_INIT_RESOURCE(varkonel);
}

namespace resources {

void Initialise()
{
    InitialiseEmbeddedFiles();
}

QPixmap Bitmap(int id)
{
    switch (id) {
    case kBitmapSkin:
        return QPixmap(QStringLiteral(":/skin134.png"));
    case kBitmapArrow:
        return QPixmap(QStringLiteral(":/arrow142.png"));
    default:
        return QPixmap();
    }
}

QIcon ApplicationIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon128-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icon128-16.png"), QSize(16, 16));
    // The larger sizes, rendered from the same drawing, for docks, task switchers and a
    // scaled display.
    for (int size : kLargerIconSizes)
        icon.addFile(QStringLiteral(":/icons/varkonel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace resources

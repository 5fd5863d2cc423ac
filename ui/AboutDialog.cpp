#include "ui/AboutDialog.h"

#include "ui/ProgramInfo.h"
#include "ui/Resources.h"

#include <QLabel>
#include <QPushButton>

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
    , units(font())
{
    setObjectName(QStringLiteral("100"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(units.ToPixels(245, 71));

    auto* icon = new QLabel(this);
    units.Place(icon, 0, 18, 22, 20, 20);
    icon->setPixmap(resources::ApplicationIcon().pixmap(32, 32));
    icon->resize(32, 32); // an icon control takes its icon's size

    auto* version = new QLabel(ProgramInfo::AboutVersionLine(), this);
    version->setTextFormat(Qt::PlainText);
    units.Place(version, 0, 47, 21, 119, 8);

    auto* line = new QLabel(QStringLiteral("An audio converter for WAV, MP3 and WMA"), this);
    line->setTextFormat(Qt::PlainText);
    units.Place(line, 0, 47, 36, 119, 8);
    line->adjustSize(); // the second line may be wider than the template's box

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    units.Place(ok, 1, 188, 7, 50, 20);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

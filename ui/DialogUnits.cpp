#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <QWidget>

#include <algorithm>

namespace {

// x * numerator / denominator, rounded half away from zero as integer scaling usually is.
int Scale(int x, int numerator, int denominator)
{
    const long long product = static_cast<long long>(x) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(
        product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters
        = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseWidth = std::max(1, (letters / 26 + 1) / 2);
    baseHeight = std::max(1, metrics.height());
}

DialogUnits::DialogUnits(int baseWidth, int baseHeight)
    : baseWidth(std::max(1, baseWidth))
    , baseHeight(std::max(1, baseHeight))
{ }

int DialogUnits::X(int units) const
{
    return Scale(units, baseWidth, 4);
}

int DialogUnits::Y(int units) const
{
    return Scale(units, baseHeight, 8);
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::ToPixels(int width, int height) const
{
    return QSize(X(width), Y(height));
}

void DialogUnits::Place(QWidget* control, int id, int x, int y, int width, int height) const
{
    if (id != 0)
        control->setObjectName(QString::number(id));
    control->setGeometry(ToPixels(x, y, width, height));
}

// Dialog units: the font-relative measure in which the dialogs' layouts are given. One
// horizontal unit is a quarter of the font's average character width, one vertical unit an
// eighth of its character height, so layouts keep their proportions with any dialog font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

class DialogUnits {
public:
    // Base units of the given font: average width of the 52 Latin letters, and line height.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseWidth, int baseHeight);

    int BaseWidth() const { return baseWidth; }
    int BaseHeight() const { return baseHeight; }

    // Units to pixels, rounded to the nearest pixel.
    int X(int units) const;
    int Y(int units) const;
    QRect ToPixels(int x, int y, int width, int height) const;
    QSize ToPixels(int width, int height) const;

    // Places a control at a rectangle given in units and names it after its control id
    // (object name "1019" and so on); controls without an id keep their name.
    void Place(QWidget* control, int id, int x, int y, int width, int height) const;

private:
    int baseWidth;
    int baseHeight;
};

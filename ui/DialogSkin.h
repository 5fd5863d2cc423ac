// The striped dialog background: one small bitmap tiled over a dialog's client area, anchored
// at its top-left corner. The skinned dialogs paint it as their background; their static
// texts and group boxes fill their own backgrounds over it.
#pragma once

#include <QPixmap>

class QPainter;

class DialogSkin {
public:
    // Replaces the bitmap with bitmap resource `id`. Id 0 leaves the skin empty and succeeds;
    // an unknown id leaves it empty and fails.
    bool LoadSkin(int id);
    // Loads a given picture (tests, other skins); a null picture empties the skin and fails.
    bool LoadSkin(const QPixmap& picture);

    // Tiles the bitmap over 0, 0 .. right - left, bottom - top of the painter's device. False
    // when no bitmap is loaded (the caller then paints the plain background).
    bool PaintSkin(QPainter& painter, int left, int top, int right, int bottom) const;

    bool IsLoaded() const { return !bitmap.isNull(); }
    int Width() const { return width; }
    int Height() const { return height; }

private:
    QPixmap bitmap;
    int width = 0;
    int height = 0;
};

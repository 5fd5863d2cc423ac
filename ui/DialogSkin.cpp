#include "ui/DialogSkin.h"

#include "ui/Resources.h"

#include <QPainter>

bool DialogSkin::LoadSkin(int id)
{
    bitmap = QPixmap();
    width = height = 0;
    if (id == 0)
        return true;
    return LoadSkin(resources::Bitmap(id));
}

bool DialogSkin::LoadSkin(const QPixmap& picture)
{
    bitmap = picture;
    width = bitmap.isNull() ? 0 : bitmap.width();
    height = bitmap.isNull() ? 0 : bitmap.height();
    return !bitmap.isNull();
}

bool DialogSkin::PaintSkin(QPainter& painter, int left, int top, int right, int bottom) const
{
    if (bitmap.isNull() || width <= 0 || height <= 0)
        return false;
    // Whole tiles from the origin; the last row and column are cut by the painter's clip.
    for (int y = 0; y < bottom - top; y += height) {
        for (int x = 0; x < right - left; x += width)
            painter.drawPixmap(x, y, bitmap);
    }
    return true;
}

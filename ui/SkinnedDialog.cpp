#include "ui/SkinnedDialog.h"

#include "ui/Look.h"
#include "ui/Resources.h"

#include <QPaintEvent>
#include <QPainter>

SkinnedDialog::SkinnedDialog(QWidget* parent)
    : QDialog(parent)
    , units(font())
{ }

void SkinnedDialog::ApplyLook()
{
    Look::Apply(this);
}

void SkinnedDialog::showEvent(QShowEvent* event)
{
    ApplyLook();
    skin.LoadSkin(resources::kBitmapSkin);
    QDialog::showEvent(event);
}

void SkinnedDialog::paintEvent(QPaintEvent* event)
{
    if (!Look::Striped()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setClipRegion(event->region());
    const QRect client = rect();
    if (!skin.PaintSkin(painter, client.left(), client.top(), client.right() + 1, client.bottom() + 1))
        painter.fillRect(client, palette().window());
}

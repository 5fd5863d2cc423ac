#include "ui/HotTrackDelegate.h"

void HotTrackDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->font.setUnderline((option->state & QStyle::State_MouseOver) != 0);
}

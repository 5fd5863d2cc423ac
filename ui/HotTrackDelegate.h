// Hot tracking for the file list: the row under the mouse is drawn underlined.
#pragma once

#include <QStyledItemDelegate>

class HotTrackDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

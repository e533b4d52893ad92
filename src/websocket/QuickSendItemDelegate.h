#pragma once

#include <QStyledItemDelegate>

// Draws a quick-send row as its name with its form ("Hex · 二进制帧") on the
// right, the name giving way when the row is narrow.
class QuickSendItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

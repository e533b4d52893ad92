#include "websocket/QuickSendItemDelegate.h"

#include "websocket/QuickSendPanel.h"

#include <QApplication>
#include <QPainter>

void QuickSendItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString form = QuickSendPanel::formText(index.data(QuickSendPanel::HexRole).toBool(),
                                                  index.data(QuickSendPanel::BinaryRole).toBool());
    QFont small = item.font;
    // A style sheet may size the font in pixels: then it has no point size.
    if (small.pointSizeF() > 0)
        small.setPointSizeF(small.pointSizeF() * 0.85);
    else if (small.pixelSize() > 0)
        small.setPixelSize(std::max(1, qRound(small.pixelSize() * 0.85)));
    const int formWidth = QFontMetrics(small).horizontalAdvance(form) + 16;
    item.text = item.fontMetrics.elidedText(item.text, Qt::ElideRight,
                                            std::max(0, item.rect.width() - formWidth - 12));
    const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);

    painter->save();
    painter->setFont(small);
    const bool selected = item.state & QStyle::State_Selected;
    painter->setPen(selected ? item.palette.color(QPalette::HighlightedText)
                             : QColor(QStringLiteral("#64748B")));
    const QRect formRect(item.rect.right() - formWidth, item.rect.top(), formWidth - 4,
                         item.rect.height());
    painter->drawText(formRect, Qt::AlignRight | Qt::AlignVCenter, form);
    painter->restore();
}

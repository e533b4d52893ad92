#include "comm/LogRowItem.h"

#include "comm/LogViewWidget.h"

#include <algorithm>

LogRowItem::LogRowItem(const QString& text, const LogViewWidget* view, quint64 serial,
                       LogEntry::Direction direction, int dataStart, bool rowDiffers, bool hex)
    : QListWidgetItem(nullptr, QListWidgetItem::UserType)
    , text(text)
    , view(view)
    , serial(serial)
    , direction(direction)
    , rowDiffers(rowDiffers)
    , hex(hex)
    , dataStart(quint8(std::clamp(dataStart, 0, 255)))
{}

QVariant LogRowItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text;
    case Qt::ForegroundRole:
        return brushFor(direction);
    case Qt::ToolTipRole: {
        const QString tip = view->rowToolTip(serial);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    default:
        return QListWidgetItem::data(role);
    }
}

QBrush LogRowItem::brushFor(LogEntry::Direction direction)
{
    static const QBrush brushes[] = {QBrush(LogViewWidget::directionColor(LogEntry::TX)),
                                     QBrush(LogViewWidget::directionColor(LogEntry::RX)),
                                     QBrush(LogViewWidget::directionColor(LogEntry::SYS))};
    const int index = int(direction);
    return index >= 0 && index < 3 ? brushes[index]
                                   : QBrush(LogViewWidget::directionColor(direction));
}

const LogRowItem* LogRowItem::from(const QListWidgetItem* item)
{
    return item && item->type() == QListWidgetItem::UserType ? static_cast<const LogRowItem*>(item)
                                                             : nullptr;
}

LogRowItem* LogRowItem::from(QListWidgetItem* item)
{
    return item && item->type() == QListWidgetItem::UserType ? static_cast<LogRowItem*>(item)
                                                             : nullptr;
}

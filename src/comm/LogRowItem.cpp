#include "comm/LogRowItem.h"

#include "comm/LogViewWidget.h"

#include <algorithm>

LogRowItem::LogRowItem(const QString& text, const LogViewWidget* view, quint64 serial,
                       LogEntry::Direction direction, int dataStart, bool rowDiffers, bool hex)
    : QListWidgetItem(text, nullptr, QListWidgetItem::UserType)
    , view(view)
    , serial(serial)
    , direction(direction)
    , rowDiffers(rowDiffers)
    , hex(hex)
    , dataStart(quint8(std::clamp(dataStart, 0, 255)))
{}

QVariant LogRowItem::data(int role) const
{
    if (role == Qt::ToolTipRole) {
        const QString tip = view->rowToolTip(serial);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    return QListWidgetItem::data(role);
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

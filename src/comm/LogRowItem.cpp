#include "comm/LogRowItem.h"

#include "comm/LogViewWidget.h"
#include "comm/TextCodec.h"

LogRowItem::LogRowItem(const QString& shownData, const LogEntry& entry, bool timed, bool rowDiffers,
                       bool hex)
    : QListWidgetItem(nullptr, QListWidgetItem::UserType)
    , m_msecsOfDay(entry.msecsOfDay())
    , m_shown(compactUtf8(shownData))
    , m_serial(entry.serial())
    , m_direction(quint64(entry.direction()) & 3)
    , m_timed(timed)
    , m_rowDiffers(rowDiffers)
    , m_hex(hex)
    , m_matched(false)
    , m_counted(false)
{
    static_assert(sizeof(LogRowItem) <= 72, "a row grew: a hundred thousand of them stay alive");
}

LogRowItem::LogRowItem(const QByteArray& shownUtf8, const LogEntry& entry, bool timed)
    : QListWidgetItem(nullptr, QListWidgetItem::UserType)
    , m_msecsOfDay(entry.msecsOfDay())
    , m_shown(shownUtf8)
    , m_serial(entry.serial())
    , m_direction(quint64(entry.direction()) & 3)
    , m_timed(timed)
    , m_rowDiffers(false)
    , m_hex(false)
    , m_matched(false)
    , m_counted(false)
{}

qint64 LogRowItem::memoryCost() const
{
    // The item, its data's block and the pointers and layout entry the list
    // and its view keep for every row.
    return qint64(sizeof(LogRowItem)) + 32 + m_shown.capacity() + 64;
}

const LogViewWidget* LogRowItem::logView() const
{
    // Asked only for a tooltip: a pointer in every row would cost more.
    for (const QObject* object = listWidget(); object; object = object->parent()) {
        if (const auto* view = qobject_cast<const LogViewWidget*>(object))
            return view;
    }
    return nullptr;
}

QString LogRowItem::linePrefix() const
{
    const QString separator = QStringLiteral("  ");
    const QString tag = LogEntry::tagFor(direction()) + separator;
    return m_timed ? LogEntry::timeOfDayString(m_msecsOfDay) + separator + tag : tag;
}
QVariant LogRowItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text();
    case Qt::ForegroundRole:
        return brushFor(direction());
    case SerialRole:
        return serial();
    case DataStartRole:
        return int(linePrefix().size());
    case DirectionRole:
        return int(direction());
    case Qt::ToolTipRole: {
        const LogViewWidget* view = logView();
        const QString tip = view ? view->rowToolTip(serial()) : QString();
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

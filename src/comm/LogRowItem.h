#pragma once

#include "comm/LogEntry.h"

#include <QListWidgetItem>

class LogViewWidget;

// A row of the log view that knows its entry: a row that shows its entry
// shortened or on one line copies the entry whole, the tooltip tells who sent
// or got it and how (looked up only when asked for), and the search reads the
// row's data without its time stamp and tag.
//
// A hundred thousand of these stay alive, so a row keeps only what it shows
// of its entry's data, as UTF-8, and its time of day; the line itself, its
// colour and tooltip are formed when the view asks for them.
class LogRowItem : public QListWidgetItem
{
public:
    // The row's serial, asked for by the painter that keeps visible rows' text.
    static constexpr int SerialRole = Qt::UserRole + 1;
    // Where the data starts in the line, and the entry's direction: what the
    // painter needs to mark matches in the data alone.
    static constexpr int DataStartRole = Qt::UserRole + 2;
    static constexpr int DirectionRole = Qt::UserRole + 3;

    LogRowItem(const QString& shownData, const LogEntry& entry, bool timed, bool rowDiffers,
               bool hex);
    // A row that shows its data as the entry's bytes are: it shares them.
    LogRowItem(const QByteArray& shownUtf8, const LogEntry& entry, bool timed);

    QVariant data(int role) const override;

    // The line as shown: time stamp (when the row was made with one), tag, data.
    QString text() const { return linePrefix() + shownData(); }
    // The line before its data: time stamp and tag, each followed by two spaces.
    QString linePrefix() const;
    // The data part of the line alone.
    QString shownData() const { return QString::fromUtf8(m_shown); }

    quint64 serial() const { return m_serial; }
    LogEntry::Direction direction() const { return LogEntry::Direction(m_direction); }
    // Whether the row shows its entry shortened or on one line.
    bool rowDiffers() const { return m_rowDiffers; }
    bool isHex() const { return m_hex; }
    // Whether the row matched the log's filter when it was last checked.
    bool matched() const { return m_matched; }
    void setMatched(bool matched) { m_matched = matched; }
    // Whether the row matched the search when it was last counted.
    bool counted() const { return m_counted; }
    void setCounted(bool counted) { m_counted = counted; }

    // Estimated heap use of the row, the list's own bookkeeping included.
    qint64 memoryCost() const;

    static QBrush brushFor(LogEntry::Direction direction);

    // The row as a LogRowItem; null for a row of another kind.
    static const LogRowItem* from(const QListWidgetItem* item);
    static LogRowItem* from(QListWidgetItem* item);

private:
    const LogViewWidget* logView() const;

    // Packed to fit the 72 bytes a row may take: -1 (no time) or the time of day.
    qint32 m_msecsOfDay;
    QByteArray m_shown;
    quint64 m_serial : 56;
    quint64 m_direction : 2;
    quint64 m_timed : 1;
    quint64 m_rowDiffers : 1;
    quint64 m_hex : 1;
    quint64 m_matched : 1;
    quint64 m_counted : 1;
};

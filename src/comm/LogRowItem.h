#pragma once

#include "comm/LogEntry.h"

#include <QListWidgetItem>

class LogViewWidget;

// A row of the log view that knows its entry: a row that shows its entry
// shortened or on one line copies the entry whole, the tooltip tells who sent
// or got it and how (looked up only when asked for), and the search reads the
// row's data without its time stamp and tag. It keeps its text and colour
// itself rather than in the item's role table: a hundred thousand rows of them.
class LogRowItem : public QListWidgetItem
{
public:
    LogRowItem(const QString& text, const LogViewWidget* view, quint64 serial,
               LogEntry::Direction direction, int dataStart, bool rowDiffers, bool hex);

    QVariant data(int role) const override;

    static QBrush brushFor(LogEntry::Direction direction);

    // The row as a LogRowItem; null for a row of another kind.
    static const LogRowItem* from(const QListWidgetItem* item);
    static LogRowItem* from(QListWidgetItem* item);

    const QString text;
    const LogViewWidget* view;
    quint64 serial;
    LogEntry::Direction direction;
    bool rowDiffers;
    bool hex;
    // Where the data begins in the row's text, after the time stamp and tag.
    quint8 dataStart;
    // Whether the row matched the log's filter when it was last checked.
    bool matched = false;
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// One record of the communication log, copied by value through signals.
struct LogEntry
{
    enum Direction : qint32
    {
        TX = 0,
        RX = 1,
        SYS = 2
    };

    LogEntry() = default;
    explicit LogEntry(const QString& message);
    LogEntry(Direction dir, const QByteArray& data, const QString& encodingName);

    QString timeString() const;
    QString directionTag() const;
    // Rough heap use of the entry, for the log's memory budget.
    qint64 memoryCost() const;

    QDateTime timestamp;
    Direction direction = TX;
    QByteArray rawData;
    QString text;
    QString hexText;
    // Given by the log when it stores the entry (0: never stored); rows find
    // their full text by it.
    quint64 serial = 0;
};

Q_DECLARE_METATYPE(LogEntry)

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

    QDateTime timestamp;
    Direction direction = TX;
    QByteArray rawData;
    QString text;
    QString hexText;
};

Q_DECLARE_METATYPE(LogEntry)

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

    // What went over the wire: a text frame (UTF-8 by definition), a binary
    // frame, or unknown (entries logged without a frame).
    enum class FrameKind : quint8
    {
        Unknown,
        Text,
        Binary
    };

    LogEntry() = default;
    explicit LogEntry(const QString& message);
    LogEntry(Direction dir, const QByteArray& data, const QString& encodingName);
    // A frame whose text is already known (a text frame's own text, or bytes
    // decoded once by the caller).
    LogEntry(Direction dir, const QByteArray& data, const QString& text, FrameKind kind,
             const QString& peer);

    QString timeString() const;
    QString directionTag() const;
    // Rough heap use of the entry, for the log's memory budget.
    qint64 memoryCost() const;

    QDateTime timestamp;
    Direction direction = TX;
    QByteArray rawData;
    QString text;
    QString hexText;
    // RX: who sent it; TX: who it went to (one client, "全部 (N)", or the
    // server in client mode). Empty for system messages.
    QString peer;
    // Given by the log when it stores the entry (0: never stored); rows find
    // their full text by it.
    quint64 serial = 0;
    FrameKind frameKind = FrameKind::Unknown;
};

Q_DECLARE_METATYPE(LogEntry)

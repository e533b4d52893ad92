#pragma once

#include <limits>

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// One record of the communication log, copied by value through signals.
//
// A frame's entry keeps only the bytes that were on the wire; its text and
// hexadecimal text are formed from them when asked for (the text with the
// encoding selected when the entry was made), so a log of 100000 small frames
// costs about a tenth of what it would with both kept.
class LogEntry
{
public:
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
    // A frame: a text frame's text is its UTF-8; other bytes read with the
    // encoding named.
    LogEntry(Direction dir, const QByteArray& data, FrameKind kind, const QString& peer,
             const QString& encodingName);

    // Local wall time of the moment the entry was made, millisecond resolution.
    QDateTime timestamp() const;
    void setTimestamp(const QDateTime& time);
    QString timeString() const;
    // Milliseconds since local midnight, -1 without a time; and the time
    // stamp formed from them, as timeString() forms it.
    int msecsOfDay() const;
    static QString timeOfDayString(int msecsOfDay);

    Direction direction() const { return Direction(m_direction); }
    QString directionTag() const { return tagFor(direction()); }
    static QString tagFor(Direction direction);
    // TX and RX: the bytes sent or received. SYS: empty.
    const QByteArray& rawData() const { return m_data; }
    // SYS: the message. TX and RX: the bytes as text.
    QString text() const;
    // SYS: the message. TX and RX: "48 65 0A".
    QString hexText() const;
    // A binary frame whose bytes are not clean text in its encoding: shown,
    // copied and exported as hexText() wherever text() would lose bytes.
    bool readsAsHex() const;
    // hexText() when asked for hex or when the entry reads as hex, else text().
    QString shownText(bool hex) const { return hex || readsAsHex() ? hexText() : text(); }
    // The first `maxChars` characters of text() or hexText(), formed without
    // the rest; `more` tells whether anything was left out.
    QString textPrefix(qsizetype maxChars, bool* more) const;
    QString hexPrefix(qsizetype maxChars, bool* more) const;

    // RX: who sent it; TX: who it went to (one client, "全部 (N)", or the
    // server in client mode). Empty for system messages.
    QString peer() const;
    // What made a frame that the user did not send, e.g. "自动回复: rpc";
    // empty for the rest. Kept beside the peer, so an entry grows by nothing.
    QString source() const;
    void setSource(const QString& source);
    FrameKind frameKind() const { return m_kind; }
    // The encoding the bytes are read with (a text frame's: UTF-8).
    QString encodingName() const;

    // Given by the log when it stores the entry (0: never stored).
    quint64 serial() const { return m_serial; }
    void setSerial(quint64 serial) { m_serial = serial; }

    // The same entry with only the first `bytes` bytes of its data.
    LogEntry withDataPrefix(qsizetype bytes) const;

    // Rough heap use of the entry, for the log's memory budget.
    qint64 memoryCost() const;

private:
    void keepOnlyTheBytes();
    static constexpr qint32 kNoTime = std::numeric_limits<qint32>::min();
    bool hasTime() const { return m_offsetSeconds != kNoTime; }

    QByteArray m_data;
    // A system entry's message, or a frame's peer: one never has the other.
    QString m_words;
    quint64 m_serial = 0;
    qint64 m_msecs = 0;
    // The offset from UTC of the time stamp; kNoTime for an entry without one.
    qint32 m_offsetSeconds = kNoTime;
    quint16 m_encoding = 0;
    // Kept in a byte: a hundred thousand entries fit 72 bytes each.
    qint8 m_direction = TX;
    FrameKind m_kind = FrameKind::Unknown;
};
static_assert(sizeof(LogEntry) <= 72, "an entry grew: the log keeps a hundred thousand");

// Moved as plain memory when a list grows: every member is.
Q_DECLARE_TYPEINFO(LogEntry, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(LogEntry)

#include "comm/LogEntry.h"

#include "comm/HexText.h"
#include "comm/LocalClock.h"
#include "comm/TextCodec.h"

#include <algorithm>

LogEntry::LogEntry(const QString& message)
    : m_words(message)
    , m_direction(qint8(SYS))
{
    LocalClock::now(&m_msecs, &m_offsetSeconds);
}

LogEntry::LogEntry(Direction dir, const QByteArray& data, const QString& encodingName)
    : m_data(data)
    , m_encoding(encodingId(encodingName))
    , m_direction(qint8(dir))
{
    LocalClock::now(&m_msecs, &m_offsetSeconds);
    keepOnlyTheBytes();
}

LogEntry::LogEntry(Direction dir, const QByteArray& data, FrameKind kind, const QString& peer,
                   const QString& encodingName)
    : m_data(data)
    , m_words(peer)
    , m_encoding(kind == FrameKind::Text ? quint16(0) : encodingId(encodingName))
    , m_direction(qint8(dir))
    , m_kind(kind)
{
    LocalClock::now(&m_msecs, &m_offsetSeconds);
    keepOnlyTheBytes();
}

void LogEntry::keepOnlyTheBytes()
{
    // Text turned into UTF-8 comes with room for three bytes a character: a
    // log of small text frames would keep twice what it holds.
    if (m_data.capacity() > m_data.size() + 32)
        m_data.squeeze();
}

QDateTime LogEntry::timestamp() const
{
    if (!hasTime())
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(m_msecs, Qt::OffsetFromUTC, m_offsetSeconds);
}

void LogEntry::setTimestamp(const QDateTime& time)
{
    const bool valid = time.isValid();
    m_msecs = valid ? time.toMSecsSinceEpoch() : 0;
    m_offsetSeconds = valid ? time.offsetFromUtc() : kNoTime;
}

QString LogEntry::timeString() const
{
    return timeOfDayString(msecsOfDay());
}

int LogEntry::msecsOfDay() const
{
    if (!hasTime())
        return -1;
    constexpr qint64 msPerDay = 24 * 60 * 60 * 1000;
    qint64 ms = (m_msecs + qint64(m_offsetSeconds) * 1000) % msPerDay;
    if (ms < 0)
        ms += msPerDay;
    return int(ms);
}

QString LogEntry::timeOfDayString(int ms)
{
    if (ms < 0)
        return QString();
    // Formed from the milliseconds by hand: going through QDateTime and its
    // locale machinery costs more than building the rest of a row.
    const int fields[] = {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60};
    QString out(12, QLatin1Char('0'));
    QChar* c = out.data();
    for (int i = 0; i < 3; ++i) {
        c[i * 3] = QLatin1Char(char('0' + fields[i] / 10));
        c[i * 3 + 1] = QLatin1Char(char('0' + fields[i] % 10));
        if (i < 2)
            c[i * 3 + 2] = QLatin1Char(':');
    }
    const int milli = ms % 1000;
    c[8] = QLatin1Char('.');
    c[9] = QLatin1Char(char('0' + milli / 100));
    c[10] = QLatin1Char(char('0' + milli / 10 % 10));
    c[11] = QLatin1Char(char('0' + milli % 10));
    return out;
}

QString LogEntry::tagFor(Direction direction)
{
    switch (direction) {
    case TX:
        return QStringLiteral("[TX]");
    case RX:
        return QStringLiteral("[RX]");
    case SYS:
        return QStringLiteral("[SYS]");
    }
    return QString();
}

namespace {
// Never in an address: parts a peer from a source.
constexpr char16_t sourceMark = 0x1f;
} // namespace

QString LogEntry::peer() const
{
    if (m_direction == SYS)
        return QString();
    const qsizetype mark = m_words.indexOf(QChar(sourceMark));
    return mark < 0 ? m_words : m_words.left(mark);
}

QString LogEntry::source() const
{
    const qsizetype mark = m_direction == SYS ? -1 : m_words.indexOf(QChar(sourceMark));
    return mark < 0 ? QString() : m_words.mid(mark + 1);
}

void LogEntry::setSource(const QString& source)
{
    if (m_direction == SYS)
        return;
    m_words = peer();
    if (!source.isEmpty())
        m_words += QChar(sourceMark) + source;
}

QString LogEntry::encodingName() const
{
    return encodingNameOf(m_encoding);
}

QString LogEntry::text() const
{
    if (m_direction != TX && m_direction != RX)
        return m_words;
    if (m_kind == FrameKind::Text)
        return QString::fromUtf8(m_data);
    return decodeBytes(m_data, encodingNameOf(m_encoding));
}

bool LogEntry::readsAsHex() const
{
    return m_kind == FrameKind::Binary && m_direction != SYS &&
           !decodesCleanly(m_data, encodingNameOf(m_encoding));
}

QString LogEntry::hexText() const
{
    if (m_direction == SYS && m_data.isEmpty())
        return m_words;
    return bytesToHex(m_data);
}

QString LogEntry::textPrefix(qsizetype maxChars, bool* more) const
{
    if (m_direction != TX && m_direction != RX) {
        *more = m_words.size() > maxChars;
        return *more ? m_words.left(maxChars) : m_words;
    }
    return decodePrefix(m_data, m_kind == FrameKind::Text ? QString() : encodingNameOf(m_encoding),
                        maxChars, more);
}

QString LogEntry::hexPrefix(qsizetype maxChars, bool* more) const
{
    if (m_direction == SYS && m_data.isEmpty())
        return textPrefix(maxChars, more);
    const qsizetype length = m_data.isEmpty() ? 0 : 3 * m_data.size() - 1;
    *more = length > maxChars;
    if (!*more)
        return bytesToHex(m_data);
    return bytesToHex(m_data.left(maxChars / 3 + 1)).left(maxChars);
}

LogEntry LogEntry::withDataPrefix(qsizetype bytes) const
{
    LogEntry prefix = *this;
    // A copy of its own: a view into the large frame would keep it alive.
    prefix.m_data = QByteArray(m_data.constData(), std::min(bytes, m_data.size()));
    return prefix;
}

qint64 LogEntry::memoryCost() const
{
    // A frame's peer text is shared by every entry of that peer.
    const qint64 words = m_direction == SYS ? qint64(sizeof(QChar)) * m_words.size() : 0;
    return qint64(sizeof(LogEntry)) + 32 + m_data.size() + words;
}

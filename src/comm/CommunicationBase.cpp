#include "comm/CommunicationBase.h"

#include "comm/CsvCell.h"

#include "comm/TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

CommunicationBase::CommunicationBase(QObject* parent)
    : QObject(parent)
    , m_encoding(QStringLiteral("UTF-8"))
{
    qRegisterMetaType<LogEntry>("LogEntry");
}

QStringList CommunicationBase::supportedEncodings()
{
    return {QStringLiteral("UTF-8"), QStringLiteral("ASCII"), QStringLiteral("GBK"),
            QStringLiteral("GB2312"), QStringLiteral("Unicode")};
}

QByteArray CommunicationBase::encode(const QString& text) const
{
    return encodeText(text, m_encoding);
}

QString CommunicationBase::decode(const QByteArray& bytes) const
{
    return decodeBytes(bytes, m_encoding);
}

void CommunicationBase::logSystem(const QString& message)
{
    addEntry(LogEntry(message));
}

void CommunicationBase::logSent(const QByteArray& data)
{
    addEntry(LogEntry(LogEntry::TX, data, m_encoding));
    m_txBytes += data.size();
    emit countersUpdated();
}

void CommunicationBase::logReceived(const QByteArray& data)
{
    addEntry(LogEntry(LogEntry::RX, data, m_encoding));
    m_rxBytes += data.size();
    emit countersUpdated();
}

void CommunicationBase::logFrame(LogEntry::Direction direction, const QByteArray& data,
                                 LogEntry::FrameKind kind, const QString& peer,
                                 const QString& source)
{
    LogEntry entry(direction, data, kind, peer, m_encoding);
    entry.setSource(source);
    addEntry(entry);
    if (direction == LogEntry::TX)
        m_txBytes += data.size();
    else
        m_rxBytes += data.size();
    emit countersUpdated();
}

void CommunicationBase::dropOldest()
{
    LogEntry& oldest = m_ring[m_head];
    m_storedBytes -= oldest.memoryCost();
    oldest = LogEntry();
    m_head = (m_head + 1) % m_ring.size();
    --m_count;
}

void CommunicationBase::addEntry(const LogEntry& entry)
{
    LogEntry stored = entry;
    {
        QMutexLocker lock(&m_entriesMutex);
        stored.setSerial(m_nextSerial++);
        const int cap = maxEntries();
        // The store is a ring reserved once: a full log replaces its oldest
        // entry in place instead of shifting or growing.
        if (m_ring.capacity() == 0 && cap >= 1)
            m_ring.reserve(std::min(cap, 1 << 20));
        while (cap >= 1 && m_count >= cap)
            dropOldest();
        if (m_count == m_ring.size()) {
            std::rotate(m_ring.begin(), m_ring.begin() + m_head, m_ring.end());
            m_head = 0;
            m_ring.append(stored);
        } else {
            m_ring[(m_head + m_count) % m_ring.size()] = stored;
        }
        ++m_count;
        m_storedBytes += stored.memoryCost();
        // The newest entry stays, even when it alone is over the budget.
        const qint64 total = maxEntryBytes();
        const qint64 budget = total > 0 ? std::max<qint64>(1, total - m_viewBytes) : 0;
        while (budget > 0 && m_storedBytes > budget && m_count > 1)
            dropOldest();
    }
    emit logEntryAdded(stored);
}

void CommunicationBase::clearLog()
{
    {
        QMutexLocker lock(&m_entriesMutex);
        m_ring.clear();
        m_head = 0;
        m_count = 0;
        m_storedBytes = 0;
    }
    emit logCleared();
}

void CommunicationBase::resetCounters()
{
    m_txBytes = 0;
    m_rxBytes = 0;
    emit countersUpdated();
}

QList<LogEntry> CommunicationBase::entries() const
{
    QMutexLocker lock(&m_entriesMutex);
    // A full ring that starts with the oldest is itself the answer, shared
    // rather than copied; the ring is never turned for a reader.
    if (m_head == 0 && m_count == m_ring.size())
        return m_ring;
    QList<LogEntry> ordered;
    ordered.reserve(m_count);
    const qsizetype firstPart = std::min(m_count, m_ring.size() - m_head);
    ordered.append(m_ring.constBegin() + m_head, m_ring.constBegin() + m_head + firstPart);
    ordered.append(m_ring.constBegin(), m_ring.constBegin() + (m_count - firstPart));
    return ordered;
}

int CommunicationBase::entryCount() const
{
    QMutexLocker lock(&m_entriesMutex);
    return int(m_count);
}

qint64 CommunicationBase::storedBytes() const
{
    QMutexLocker lock(&m_entriesMutex);
    return m_storedBytes;
}

LogEntry CommunicationBase::entryBySerial(quint64 serial) const
{
    QMutexLocker lock(&m_entriesMutex);
    // Serials of stored entries are consecutive, oldest first.
    if (serial == 0 || m_count == 0)
        return LogEntry();
    const quint64 first = m_ring.at(m_head).serial();
    if (serial < first || serial - first >= quint64(m_count))
        return LogEntry();
    return m_ring.at((m_head + qsizetype(serial - first)) % m_ring.size());
}

bool CommunicationBase::exportToFile(const QString& path, bool hex, bool csv) const
{
    QMutexLocker lock(&m_entriesMutex);

    // A save file keeps an earlier export intact when writing fails. Only a
    // regular file is written: opening a FIFO waits for a reader.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return false;
    QSaveFile file(path);
    // A writable file in a directory that takes no temporary file is
    // still written, directly.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;

    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    if (csv)
        out << "Timestamp,Direction,Data\n";
    for (qsizetype i = 0; i < m_count; ++i) {
        const LogEntry& entry = m_ring.at((m_head + i) % m_ring.size());
        const QString data = entry.shownText(hex);
        if (csv) {
            out << '"' << entry.timeString() << "\",\"" << entry.directionTag() << "\",\""
                << csvCellText(data) << "\"\n";
        } else {
            out << entry.timeString() << ' ' << entry.directionTag() << ' ' << data << '\n';
        }
    }
    out.flush();
    const bool written = out.status() == QTextStream::Ok;

    if (!written) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

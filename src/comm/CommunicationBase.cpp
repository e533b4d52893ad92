#include "comm/CommunicationBase.h"

#include "comm/TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QTextStream>

#include <memory>

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
                                 const QString& text, LogEntry::FrameKind kind, const QString& peer)
{
    addEntry(LogEntry(direction, data, text, kind, peer));
    if (direction == LogEntry::TX)
        m_txBytes += data.size();
    else
        m_rxBytes += data.size();
    emit countersUpdated();
}

void CommunicationBase::addEntry(const LogEntry& entry)
{
    LogEntry stored = entry;
    {
        QMutexLocker lock(&m_entriesMutex);
        stored.serial = m_nextSerial++;
        m_entries.append(stored);
        m_storedBytes += stored.memoryCost();
        const int cap = maxEntries();
        qsizetype drop = 0;
        if (cap >= 1 && m_entries.size() > cap)
            drop = m_entries.size() - cap;
        const qint64 budget = maxEntryBytes();
        qint64 bytes = m_storedBytes;
        for (qsizetype i = 0; i < drop; ++i)
            bytes -= m_entries.at(i).memoryCost();
        while (budget > 0 && bytes > budget && drop < m_entries.size() - 1)
            bytes -= m_entries.at(drop++).memoryCost();
        if (drop > 0) {
            m_entries.remove(0, drop);
            m_storedBytes = bytes;
        }
    }
    emit logEntryAdded(stored);
}

void CommunicationBase::clearLog()
{
    {
        QMutexLocker lock(&m_entriesMutex);
        m_entries.clear();
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
    return m_entries;
}

int CommunicationBase::entryCount() const
{
    QMutexLocker lock(&m_entriesMutex);
    return int(m_entries.size());
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
    if (serial == 0 || m_entries.isEmpty())
        return LogEntry();
    const quint64 first = m_entries.first().serial;
    if (serial < first || serial - first >= quint64(m_entries.size()))
        return LogEntry();
    return m_entries.at(qsizetype(serial - first));
}

namespace {

QString csvQuoted(const QString& data)
{
    QString quoted = data;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return quoted;
}

} // namespace

bool CommunicationBase::exportToFile(const QString& path, bool hex, bool csv) const
{
    QMutexLocker lock(&m_entriesMutex);

    // A save file keeps an earlier export intact when writing fails. Device
    // files and the like cannot be replaced by renaming, so they are written
    // directly.
    const QFileInfo info(path);
    const bool direct = info.exists() && !info.isFile();
    std::unique_ptr<QFileDevice> file;
    if (direct)
        file = std::make_unique<QFile>(path);
    else {
        auto saveFile = std::make_unique<QSaveFile>(path);
        // A writable file in a directory that takes no temporary file is
        // still written, directly.
        saveFile->setDirectWriteFallback(true);
        file = std::move(saveFile);
    }

    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;

    QTextStream out(file.get());
    out.setEncoding(QStringConverter::Utf8);
    if (csv)
        out << "Timestamp,Direction,Data\n";
    for (const LogEntry& entry : std::as_const(m_entries)) {
        const QString& data = hex ? entry.hexText : entry.text;
        if (csv) {
            out << '"' << entry.timeString() << "\",\"" << entry.directionTag() << "\",\""
                << csvQuoted(data) << "\"\n";
        } else {
            out << entry.timeString() << ' ' << entry.directionTag() << ' ' << data << '\n';
        }
    }
    out.flush();
    const bool written = out.status() == QTextStream::Ok;

    if (auto* saveFile = qobject_cast<QSaveFile*>(file.get())) {
        if (!written) {
            saveFile->cancelWriting();
            saveFile->commit();
            return false;
        }
        return saveFile->commit();
    }
    const bool flushed = file->flush();
    const bool clean = file->error() == QFileDevice::NoError;
    file->close();
    return written && flushed && clean;
}

#pragma once

#include "comm/LogEntry.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>

// The communication log: stored entries, byte counters, the display switches
// and the selected text encoding. Signals are emitted with the entry lock
// released, so receivers may call back in.
class CommunicationBase : public QObject
{
    Q_OBJECT

public:
    explicit CommunicationBase(QObject* parent = nullptr);

    virtual int maxEntries() const { return 100000; }
    // The entries' estimated heap use is kept under this as well (the newest
    // entry is always kept): a count alone lets large frames exhaust memory.
    // The budget covers what a view keeps of the log too (its queue and rows):
    // the store gets what the view leaves of it.
    virtual qint64 maxEntryBytes() const { return qint64(256) * 1024 * 1024; }
    void setViewBytes(qint64 bytes) { m_viewBytes = bytes; }

    static QStringList supportedEncodings();

    void setEncoding(const QString& name) { m_encoding = name; }
    QString encoding() const { return m_encoding; }
    QByteArray encode(const QString& text) const;
    QString decode(const QByteArray& bytes) const;

    void setShowTimestamp(bool on) { m_showTimestamp = on; }
    void setAutoScroll(bool on) { m_autoScroll = on; }
    void setHexDisplay(bool on) { m_hexDisplay = on; }
    bool showTimestamp() const { return m_showTimestamp; }
    bool autoScroll() const { return m_autoScroll; }
    bool hexDisplay() const { return m_hexDisplay; }

    void logSystem(const QString& message);
    void logSent(const QByteArray& data);
    void logReceived(const QByteArray& data);
    // A frame sent (TX) or received (RX): `data` are the bytes on the wire and
    // are what the counters count. A text frame shows its own text, a binary
    // one its bytes read with the selected encoding.
    void logFrame(LogEntry::Direction direction, const QByteArray& data, LogEntry::FrameKind kind,
                  const QString& peer, const QString& source = QString());
    void addEntry(const LogEntry& entry);
    void clearLog();
    void resetCounters();

    qint64 txBytes() const { return m_txBytes; }
    qint64 rxBytes() const { return m_rxBytes; }

    // A copy of the stored entries, oldest first.
    QList<LogEntry> entries() const;
    int entryCount() const;
    qint64 storedBytes() const;
    // The stored entry with this serial; a default entry (serial 0) once it
    // has been dropped or cleared.
    LogEntry entryBySerial(quint64 serial) const;

    // Writes every stored entry as text lines or CSV; false when the file
    // could not be opened or written completely.
    bool exportToFile(const QString& path, bool hex, bool csv) const;

signals:
    void logEntryAdded(LogEntry entry);
    void logCleared();
    void countersUpdated();
    void connectionStatusChanged(bool connected);

private:
    bool m_showTimestamp = true;
    bool m_autoScroll = true;
    bool m_hexDisplay = false;
    QString m_encoding;
    qint64 m_txBytes = 0;
    qint64 m_rxBytes = 0;
    void dropOldest();

    // A ring: m_count entries from m_head on, wrapping around.
    QList<LogEntry> m_ring;
    qsizetype m_head = 0;
    qsizetype m_count = 0;
    qint64 m_storedBytes = 0;
    std::atomic<qint64> m_viewBytes{0};
    quint64 m_nextSerial = 1;
    mutable QMutex m_entriesMutex;
};

#pragma once

#include "comm/LogEntry.h"
#include "session/RecordedExchange.h"

#include <QObject>

class ConnectionManager;
class QTimer;

// Sends a recording's client frames over the open client connection, with
// the recorded gaps scaled by a speed or in lock-step with the replies, and
// compares what comes back with what the recording received.
class ReplayRunner : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // The recorded gaps divided by this; 0: as fast as possible.
        double speed = 1.0;
        // Each frame waits until as many replies came as the recording had
        // before it.
        bool lockstep = false;
        bool compare = false;
        // How long a reply is waited for (lock-step, and the last replies).
        int replyTimeoutMs = 10000;
    };

    explicit ReplayRunner(ConnectionManager* connection, QObject* parent = nullptr);

    bool start(const RecordedExchange& exchange, const Options& options);
    void pause();
    void resume();
    // Ends the replay now; reports the result so far.
    void stop();

    bool isRunning() const { return m_running; }
    bool isPaused() const { return m_paused; }
    int sentCount() const { return int(m_next); }
    int total() const { return int(m_exchange.sent().size()); }
    int differences() const { return m_differences; }

signals:
    void progress(int sent, int total);
    // Every frame that left, for the log.
    void frameSent(const QByteArray& data, LogEntry::FrameKind kind, const QString& recipients);
    // What the log says about the replay: differences, waits that timed
    // out, the end.
    void notice(const QString& text);
    void finished(bool allMatched);

private:
    void step();
    void scheduleNext();
    void received(const QByteArray& data, bool binary);
    void checkDone();
    void reportMissing(qsizetype index);
    void finish(const QString& why);

    ConnectionManager* m_connection;
    RecordedExchange m_exchange;
    Options m_options;
    QTimer* m_timer;
    QTimer* m_replyTimer;
    qsizetype m_next = 0;
    qsizetype m_receivedCount = 0;
    int m_differences = 0;
    int m_matched = 0;
    bool m_running = false;
    bool m_paused = false;
    bool m_waitingForReplies = false;
};

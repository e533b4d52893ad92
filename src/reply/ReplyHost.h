#pragma once

#include "reply/Responder.h"
#include "websocket/ConnectionManager.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

class QTimer;

// Puts a responder chain on a connection: asks it about every client that
// connects and every frame that arrives, sends what it answers (after its
// delays), runs its timers while the connection or server is up, and forgets
// a client's pending replies when it leaves. Off, it does nothing at all.
class ReplyHost : public QObject
{
    Q_OBJECT

public:
    struct Sent
    {
        QByteArray data;
        LogEntry::FrameKind kind = LogEntry::FrameKind::Text;
        // As a send names them: a client, "全部 (N)" or the server.
        QString recipients;
        QString source;
    };

    explicit ReplyHost(ConnectionManager* connection, QObject* parent = nullptr);

    // Responders go in and out of it freely; after a change to their timers,
    // call restartTimers().
    ResponderChain& chain() { return m_chain; }

    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }
    // Takes the chain's timer intervals anew (they start again from now).
    void restartTimers();
    // Replies waiting for their delay.
    int pendingCount() const { return int(m_pending.size()); }

signals:
    void replySent(const ReplyHost::Sent& sent);
    void notice(const QString& text);

private:
    void onJoined(quint64 client, const QString& peer);
    void onLeft(quint64 client);
    void onFrame(quint64 client, const QString& peer, const QString* text, const QByteArray* data);
    void onStateChanged();
    // Deferred: even what is due now leaves from the event loop.
    void dispatch(quint64 client, const Responder::Replies& replies, bool deferred = false);
    void sendNow(quint64 client, const Responder::Reply& reply);
    void cancel(quint64 client);
    void cancelAll();
    void forwardNotices();
    bool isUp() const { return m_connection->isActive(); }

    ConnectionManager* m_connection;
    ResponderChain m_chain;
    bool m_enabled = false;
    // Who the chain was told of, so it hears of each one leaving exactly once.
    QSet<quint64> m_known;
    // Replies on their way, by the client whose frame caused them.
    QHash<QTimer*, quint64> m_pending;
    QList<QTimer*> m_timers;
    QList<QMetaObject::Connection> m_frameLinks;
};

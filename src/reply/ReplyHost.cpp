#include "reply/ReplyHost.h"

#include <QTimer>

#include <limits>

ReplyHost::ReplyHost(ConnectionManager* connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(connection, &ConnectionManager::clientJoined, this,
            [this](quint64 id, const QString& peer) { onJoined(id, peer); });
    connect(connection, &ConnectionManager::connectionOpened, this,
            [this](const QString& peer) { onJoined(ConnectionManager::everyClient, peer); });
    connect(connection, &ConnectionManager::clientLeft, this, [this](quint64 id) { onLeft(id); });
    connect(connection, &ConnectionManager::stateChanged, this, &ReplyHost::onStateChanged);
}

void ReplyHost::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    // Frames reach the host only while it is on: off, they cost it nothing.
    if (on) {
        m_frameLinks = {connect(m_connection, &ConnectionManager::textReceivedFrom, this,
                                [this](quint64 id, const QString& text, const QString& peer) {
                                    onFrame(id, peer, &text, nullptr);
                                }),
                        connect(m_connection, &ConnectionManager::binaryReceivedFrom, this,
                                [this](quint64 id, const QByteArray& data, const QString& peer) {
                                    onFrame(id, peer, nullptr, &data);
                                })};
    } else {
        for (const QMetaObject::Connection& link : std::as_const(m_frameLinks))
            disconnect(link);
        m_frameLinks.clear();
        cancelAll();
        for (quint64 client : std::as_const(m_known))
            m_chain.left(client);
        m_known.clear();
    }
    restartTimers();
}

void ReplyHost::restartTimers()
{
    qDeleteAll(m_timers);
    m_timers.clear();
    if (!m_enabled || !isUp())
        return;
    const QList<int> intervals = m_chain.timerIntervals();
    for (int index = 0; index < intervals.size(); ++index) {
        auto* timer = new QTimer(this);
        timer->setInterval(qMax(1, intervals.at(index)));
        connect(timer, &QTimer::timeout, this, [this, index] {
            // A server without clients: a tick no one gets is not counted.
            if (m_connection->state() == ConnectionManager::Listening &&
                m_connection->clientIds().isEmpty())
                return;
            const Responder::Replies replies = m_chain.timerFired(index);
            forwardNotices();
            dispatch(ConnectionManager::everyClient, replies);
        });
        timer->start();
        m_timers.append(timer);
    }
}

void ReplyHost::onJoined(quint64 client, const QString& peer)
{
    if (!m_enabled)
        return;
    m_known.insert(client);
    const Responder::Replies replies = m_chain.connected(client, peer);
    forwardNotices();
    // After the log has said that it connected.
    dispatch(client, replies, true);
}

void ReplyHost::onLeft(quint64 client)
{
    cancel(client);
    if (m_known.remove(client))
        m_chain.left(client);
}

void ReplyHost::onFrame(quint64 client, const QString& peer, const QString* text,
                        const QByteArray* data)
{
    if (!m_enabled)
        return;
    Responder::Incoming frame;
    frame.client = client;
    frame.peer = peer;
    if (text) {
        frame.kind = LogEntry::FrameKind::Text;
        frame.text = *text;
        frame.data = text->toUtf8();
    } else {
        frame.kind = LogEntry::FrameKind::Binary;
        frame.data = *data;
    }
    const std::optional<Responder::Replies> replies = m_chain.received(frame);
    forwardNotices();
    if (replies)
        dispatch(client, *replies);
}

void ReplyHost::onStateChanged()
{
    if (!isUp()) {
        cancelAll();
        for (quint64 client : std::as_const(m_known))
            m_chain.left(client);
        m_known.clear();
    }
    restartTimers();
}

void ReplyHost::dispatch(quint64 client, const Responder::Replies& replies, bool deferred)
{
    // Each delay counts from the reply before; replies due together leave
    // together, in their order.
    qint64 due = 0;
    Responder::Replies batch;
    auto flush = [&] {
        if (batch.isEmpty())
            return;
        if (due == 0 && !deferred) {
            for (const Responder::Reply& reply : std::as_const(batch))
                sendNow(client, reply);
        } else {
            auto* timer = new QTimer(this);
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
            connect(timer, &QTimer::timeout, this, [this, timer, client, batch] {
                m_pending.remove(timer);
                timer->deleteLater();
                for (const Responder::Reply& reply : batch)
                    sendNow(client, reply);
            });
            m_pending.insert(timer, client);
            timer->start(int(qMin<qint64>(due, std::numeric_limits<int>::max())));
            deferred = false;
        }
        batch.clear();
    };
    for (const Responder::Reply& reply : replies) {
        if (reply.delayMs > 0) {
            flush();
            due += reply.delayMs;
        }
        batch.append(reply);
    }
    flush();
}

void ReplyHost::sendNow(quint64 client, const Responder::Reply& reply)
{
    const ConnectionManager::ClientId target =
        reply.toAll ? ConnectionManager::everyClient : client;
    const ConnectionManager::SendResult result = m_connection->send(reply.data, reply.kind, target);
    if (result.status == ConnectionManager::SendStatus::NotText) {
        emit notice(QStringLiteral("%1: 回复不是 UTF-8 文本，未发送").arg(reply.source));
        return;
    }
    if (result.status != ConnectionManager::SendStatus::Sent)
        return;
    emit replySent(Sent{reply.data, reply.kind, result.recipients, reply.source});
}

void ReplyHost::cancel(quint64 client)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it.value() == client) {
            delete it.key();
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

void ReplyHost::cancelAll()
{
    qDeleteAll(m_pending.keys());
    m_pending.clear();
}

void ReplyHost::forwardNotices()
{
    const QStringList notices = m_chain.takeNotices();
    for (const QString& text : notices)
        emit notice(text);
}

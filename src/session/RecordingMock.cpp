#include "session/RecordingMock.h"

#include <QTimer>

RecordingMock::RecordingMock(ConnectionManager* connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(m_connection, &ConnectionManager::clientJoined, this,
            [this](ConnectionManager::ClientId id, const QString&) { joined(id); });
    connect(m_connection, &ConnectionManager::clientLeft, this,
            [this](ConnectionManager::ClientId id, const QString&) { left(id); });
    connect(
        m_connection, &ConnectionManager::textReceived, this,
        [this](const QString& text, const QString& peer) { received(peer, text.toUtf8(), false); });
    connect(m_connection, &ConnectionManager::binaryReceived, this,
            [this](const QByteArray& data, const QString& peer) { received(peer, data, true); });
}

void RecordingMock::setRecording(const RecordedExchange& exchange, bool recordedGaps)
{
    m_exchange = exchange;
    m_recordedGaps = recordedGaps;
}

void RecordingMock::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    for (const Client& client : std::as_const(m_clients))
        delete client.timer;
    m_clients.clear();
    if (!on)
        return;
    for (ConnectionManager::ClientId id : m_connection->clientIds())
        joined(id);
}

bool RecordingMock::covers(ConnectionManager::ClientId id) const
{
    const auto it = m_clients.constFind(id);
    return m_enabled && it != m_clients.cend() && it->clientFrames < m_exchange.sent().size();
}

void RecordingMock::joined(ConnectionManager::ClientId id)
{
    if (!m_enabled)
        return;
    Client& client = m_clients[id];
    client.timer = new QTimer(this);
    client.timer->setSingleShot(true);
    connect(client.timer, &QTimer::timeout, this, [this, id] { sendDue(id, true); });
    play(id, m_exchange.serverFramesAfter(0));
}

void RecordingMock::left(ConnectionManager::ClientId id)
{
    const auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    delete it->timer;
    m_clients.erase(it);
}

void RecordingMock::received(const QString& peer, const QByteArray& data, bool binary)
{
    if (!m_enabled)
        return;
    ConnectionManager::ClientId id = 0;
    for (ConnectionManager::ClientId candidate : m_connection->clientIds()) {
        if (m_connection->clientText(candidate) == peer)
            id = candidate;
    }
    const auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    const qsizetype index = it->clientFrames;
    if (index >= m_exchange.sent().size()) {
        emit uncovered(id, data, binary);
        return;
    }
    it->clientFrames = index + 1;
    const HarMessage& expected = m_exchange.sent()[index];
    if (!RecordedExchange::matches(expected, data, binary))
        emit notice(QStringLiteral("模拟服务器: %1 的第 %2 条与录制不同: 期望 %3 收到 %4")
                        .arg(peer)
                        .arg(index + 1)
                        .arg(RecordedExchange::shortText(expected.data, expected.binary),
                             RecordedExchange::shortText(data, binary)));
    play(id, m_exchange.serverFramesAfter(index + 1));
}

void RecordingMock::play(ConnectionManager::ClientId id,
                         const QList<RecordedExchange::ServerFrame>& frames)
{
    Client& client = m_clients[id];
    // Frames still due from the last step go first.
    client.queue.append(frames);
    if (!client.timer->isActive())
        sendDue(id, false);
}

void RecordingMock::sendDue(ConnectionManager::ClientId id, bool waited)
{
    const auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    while (!it->queue.isEmpty()) {
        const qint64 gap = it->queue.first().gapMs;
        if (m_recordedGaps && gap > 0 && !waited) {
            it->timer->start(int(std::min<qint64>(gap, 3600 * 1000)));
            return;
        }
        waited = false;
        const HarMessage message = it->queue.takeFirst().message;
        const LogEntry::FrameKind kind =
            message.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text;
        const ConnectionManager::SendResult result = m_connection->send(message.data, kind, id);
        if (result.status == ConnectionManager::SendStatus::Sent)
            emit frameSent(message.data, kind, result.recipients);
    }
}

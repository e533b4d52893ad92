#include "session/SessionRecorder.h"

#include "session/HarFile.h"
#include "websocket/SecretMask.h"

#include <QDateTime>
#include <QWebSocket>

SessionRecorder::SessionRecorder(ConnectionManager* connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    connect(connection, &ConnectionManager::connectionOpened, this, [this](const QString& peer) {
        QWebSocket* socket = m_connection->clientModeSocket();
        open(ConnectionManager::everyClient, peer,
             socket ? socket->requestUrl().toString() : QString());
    });
    connect(connection, &ConnectionManager::clientJoined, this,
            [this](ConnectionManager::ClientId id, const QString& peer) {
                if (m_open.contains(id))
                    return;
                QWebSocket* socket = m_connection->serverClientSocket(id);
                open(id, peer, socket ? socket->requestUrl().toString() : QString());
            });
    connect(connection, &ConnectionManager::clientLeft, this,
            [this](ConnectionManager::ClientId id) { m_open.remove(id); });
    connect(connection, &ConnectionManager::textReceivedFrom, this,
            [this](ConnectionManager::ClientId id, const QString& text, const QString& peer) {
                add(id, false, text.toUtf8(), false, peer);
            });
    connect(connection, &ConnectionManager::binaryReceivedFrom, this,
            [this](ConnectionManager::ClientId id, const QByteArray& data, const QString& peer) {
                add(id, false, data, true, peer);
            });
}

void SessionRecorder::open(ConnectionManager::ClientId id, const QString& peer, const QString& url)
{
    HarConnection connection;
    connection.url = SecretMask::address(url);
    connection.peer = peer;
    connection.started = QDateTime::currentDateTimeUtc();
    m_connections.insert(m_opened, connection);
    m_open.insert(id, m_opened++);
}

void SessionRecorder::add(ConnectionManager::ClientId id, bool sent, const QByteArray& data,
                          bool binary, const QString& peer)
{
    const auto it = m_open.constFind(id);
    if (it == m_open.cend())
        return;
    HarMessage message;
    message.sent = sent;
    message.msecs = QDateTime::currentMSecsSinceEpoch();
    message.binary = binary;
    message.data = data;
    message.peer = peer;
    m_connections[*it].messages.append(message);
}

void SessionRecorder::recordSent(const QByteArray& data, LogEntry::FrameKind kind,
                                 const QString& recipients)
{
    const bool binary = kind == LogEntry::FrameKind::Binary;
    // A reply to a client's arrival may leave before this hears of the arrival.
    for (const ConnectionManager::ClientId id : m_connection->clientIds()) {
        if (!m_open.contains(id) && m_connection->clientText(id) == recipients) {
            QWebSocket* socket = m_connection->serverClientSocket(id);
            open(id, recipients, socket ? socket->requestUrl().toString() : QString());
        }
    }
    for (auto it = m_open.cbegin(); it != m_open.cend(); ++it) {
        if (it.key() != ConnectionManager::everyClient &&
            m_connection->clientText(it.key()) == recipients) {
            add(it.key(), true, data, binary, recipients);
            return;
        }
    }
    // Client mode's server, or every client of the server.
    for (const ConnectionManager::ClientId id : m_open.keys())
        add(id, true, data, binary, recipients);
}

bool SessionRecorder::save(const QString& path, QString* error) const
{
    return HarFile::write(path, connections(), error);
}

#include "websocket/ServerSession.h"

#include "websocket/FrameLimits.h"
#include "websocket/ReadBufferTuner.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const char kClientIdProperty[] = "clientId";

} // namespace

ServerSession::ServerSession(QObject* parent)
    : QObject(parent)
{}

ServerSession::~ServerSession()
{
    // Clients still closing go with the session; they must not report into
    // it while it is destroyed.
    for (const Client& client : std::as_const(m_clients))
        client.socket->disconnect(this);
}

QString ServerSession::clientTextOf(const QHostAddress& address, quint16 port)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    const QString host = mapped && address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QHostAddress(ipv4).toString()
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}

bool ServerSession::listen(quint16 port, const QString& shownPath)
{
    auto* server =
        new QWebSocketServer(QStringLiteral("Wirebench WS"), QWebSocketServer::NonSecureMode, this);
    if (!server->listen(QHostAddress::Any, port)) {
        emit notice(QStringLiteral("监听失败: ") + server->errorString());
        delete server;
        return false;
    }
    m_server = server;
    connect(server, &QWebSocketServer::newConnection, this, &ServerSession::onNewConnection);
    emit notice(QStringLiteral("WebSocket服务器已启动，端口 %1，路径 %2")
                    .arg(QString::number(port), shownPath));
    return true;
}

void ServerSession::close()
{
    const QList<ClientId> order = m_order;
    const QHash<ClientId, Client> clients = m_clients;
    m_order.clear();
    m_clients.clear();
    // Gone from the lists first: a client reporting its disconnection during
    // close is then no longer ours.
    for (ClientId id : order) {
        QWebSocket* socket = clients.value(id).socket;
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->flush();
        socket->deleteLater();
    }
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
}

void ServerSession::closeClient(ClientId id)
{
    // The row and the message follow when the socket reports its departure.
    if (QWebSocket* socket = clientSocket(id))
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

qint64 ServerSession::sendText(ClientId id, const QString& text)
{
    QWebSocket* socket = clientSocket(id);
    return socket && socket->state() == QAbstractSocket::ConnectedState
               ? socket->sendTextMessage(text)
               : 0;
}

qint64 ServerSession::sendBinary(ClientId id, const QByteArray& data)
{
    QWebSocket* socket = clientSocket(id);
    return socket && socket->state() == QAbstractSocket::ConnectedState
               ? socket->sendBinaryMessage(data)
               : 0;
}

void ServerSession::onNewConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QWebSocket* socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(this);
        const ClientId id = m_nextId++;
        // Kept from arrival: a departing socket may no longer know its peer.
        const QString text = clientTextOf(socket->peerAddress(), socket->peerPort());
        socket->setProperty(kClientIdProperty, id);
        m_clients.insert(id, Client{text, socket});
        m_order.append(id);
        FrameLimits::apply(socket);
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, text](const QString& message) { emit textReceived(message, text); });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, text](const QByteArray& data) { emit binaryReceived(data, text); });
        connect(socket, &QWebSocket::disconnected, this, &ServerSession::onClientDisconnected);
        ReadBufferTuner::attach(socket, m_server, FrameLimits::maxFrameSize);
        emit clientJoined(id, text);
        emit notice(QStringLiteral("客户端连接 %1").arg(text));
    }
}

void ServerSession::onClientDisconnected()
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket)
        return;
    const ClientId id = socket->property(kClientIdProperty).toULongLong();
    const auto found = m_clients.constFind(id);
    if (found == m_clients.constEnd() || found->socket != socket)
        return;
    const QString text = found->text;
    m_clients.erase(found);
    m_order.removeOne(id);
    socket->disconnect(this);
    emit clientLeft(id, text);
    emit notice(QStringLiteral("客户端断开: %1").arg(text));
    const QString closeInfo = FrameLimits::closeInfo(socket);
    if (!closeInfo.isEmpty())
        emit notice(QStringLiteral("客户端 %1 关闭代码 %2").arg(text, closeInfo));
    socket->deleteLater();
}

#include "websocket/ClientSession.h"

#include "websocket/FrameLimits.h"
#include "websocket/ReadBufferTuner.h"

#include <QUrl>
#include <QWebSocket>

namespace {

const char kReportErrorsProperty[] = "reportErrors";

} // namespace

ClientSession::ClientSession(QObject* parent)
    : QObject(parent)
{}

ClientSession::~ClientSession()
{
    // Whatever is still open goes with the session, without reporting into a
    // receiver that may be half destroyed.
    if (QWebSocket* socket = release())
        socket->abort();
}

bool ClientSession::isPending() const
{
    return m_socket && m_socket->state() != QAbstractSocket::ConnectedState &&
           m_socket->state() != QAbstractSocket::UnconnectedState;
}

bool ClientSession::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

QString ClientSession::peerOf(const QUrl& url)
{
    return url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

QWebSocket* ClientSession::release(bool keepErrorReport)
{
    QWebSocket* socket = m_socket;
    m_socket = nullptr;
    if (socket) {
        socket->disconnect(this);
        // A refused attempt reports its error after its disconnection.
        if (keepErrorReport)
            connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                    &ClientSession::onError);
        socket->deleteLater();
    }
    return socket;
}

void ClientSession::open(const QUrl& url)
{
    abort();

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    m_peer = peerOf(url);
    socket->setProperty(kReportErrorsProperty, true);
    FrameLimits::apply(socket);
    connect(socket, &QWebSocket::connected, this, &ClientSession::onConnected);
    connect(socket, &QWebSocket::disconnected, this, &ClientSession::onDisconnected);
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &ClientSession::onError);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { emit textReceived(text, m_peer); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray& data) { emit binaryReceived(data, m_peer); });
    socket->open(url);
    ReadBufferTuner::attach(socket, socket, FrameLimits::maxFrameSize);
}

void ClientSession::close()
{
    if (QWebSocket* socket = release()) {
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        // Without this a window closed right after would drop the close frame.
        socket->flush();
    }
}

void ClientSession::abort()
{
    if (QWebSocket* socket = release())
        socket->abort();
}

qint64 ClientSession::sendText(const QString& text)
{
    return isOpen() ? m_socket->sendTextMessage(text) : 0;
}

qint64 ClientSession::sendBinary(const QByteArray& data)
{
    return isOpen() ? m_socket->sendBinaryMessage(data) : 0;
}

void ClientSession::onConnected()
{
    emit notice(QStringLiteral("WebSocket已连接"));
    emit connected();
}

void ClientSession::onDisconnected()
{
    QWebSocket* socket = m_socket;
    if (!socket)
        return;
    emit notice(QStringLiteral("WebSocket已断开"));
    const QString closeInfo = FrameLimits::closeInfo(socket);
    if (!closeInfo.isEmpty())
        emit notice(QStringLiteral("关闭代码 ") + closeInfo);
    release(true);
    emit disconnected();
}

void ClientSession::onError(QAbstractSocket::SocketError)
{
    // A refused attempt reports its disconnection before the error; one entry
    // per failed socket is enough either way.
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket || !socket->property(kReportErrorsProperty).toBool())
        return;
    socket->setProperty(kReportErrorsProperty, false);
    emit notice(QStringLiteral("连接错误: ") + socket->errorString());
}

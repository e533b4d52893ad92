#include "websocket/ServerSession.h"

#include "websocket/FrameLimits.h"
#include "websocket/ReadBufferPool.h"
#include "websocket/ReadBufferTuner.h"
#include "websocket/ServerAcceptor.h"
#include "websocket/WriteCap.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <optional>

namespace {

// A refused client gets this long to answer the close before it is dropped.
constexpr int kRefusalGraceMs = 2000;
// "Try again later": the server is full.
constexpr int kCloseCodeTryAgain = 1013;

QHostAddress bindAddress(const ServerOptions& options)
{
    switch (options.bind) {
    case ServerOptions::Bind::Any:
        return QHostAddress(QHostAddress::Any);
    case ServerOptions::Bind::LocalV4:
        return QHostAddress(QHostAddress::LocalHost);
    case ServerOptions::Bind::LocalV6:
        return QHostAddress(QHostAddress::LocalHostIPv6);
    case ServerOptions::Bind::Address:
        break;
    }
    return QHostAddress(options.address.trimmed());
}

using Code = ConnectionEvent::Code;

// `which`: 0 the certificate, 1 the key.
QByteArray readFile(const QString& path, int which, std::optional<ConnectionEvent>* problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = ConnectionEvent(Code::ListenUnreadable, path, file.errorString(), which);
        return QByteArray();
    }
    return file.readAll();
}

QSslKey readKey(const QByteArray& pem)
{
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        const QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return QSslKey();
}

// The certificate chain and key of a wss server; empty with a problem when a
// file cannot be used.
QSslConfiguration tlsConfiguration(const ServerOptions& options,
                                   std::optional<ConnectionEvent>* problem)
{
    if (options.certificateFile.isEmpty() || options.privateKeyFile.isEmpty()) {
        *problem = ConnectionEvent(Code::ListenTlsFilesMissing);
        return QSslConfiguration();
    }
    if (!QSslSocket::supportsSsl()) {
        *problem = ConnectionEvent(Code::ListenNoTls);
        return QSslConfiguration();
    }
    const QByteArray certificateData = readFile(options.certificateFile, 0, problem);
    if (*problem)
        return QSslConfiguration();
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateData, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *problem = ConnectionEvent(Code::ListenNotCertificate, options.certificateFile);
        return QSslConfiguration();
    }
    const QByteArray keyData = readFile(options.privateKeyFile, 1, problem);
    if (*problem)
        return QSslConfiguration();
    const QSslKey key = readKey(keyData);
    if (key.isNull()) {
        *problem = ConnectionEvent(Code::ListenNotKey, options.privateKeyFile);
        return QSslConfiguration();
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

} // namespace

std::optional<ConnectionEvent> ServerSession::tlsProblem(const ServerOptions& options)
{
    if (options.certificateFile.isEmpty() && options.privateKeyFile.isEmpty())
        return std::nullopt;
    std::optional<ConnectionEvent> problem;
    tlsConfiguration(options, &problem);
    return problem;
}

namespace {

QString normalisedPath(const QString& path)
{
    const QString trimmed = path.trimmed();
    return trimmed.startsWith(QLatin1Char('/')) ? trimmed : QLatin1Char('/') + trimmed;
}

} // namespace

ServerSession::ServerSession(QObject* parent)
    : QObject(parent)
    , m_readPool(new ReadBufferPool(FrameLimits::serverReadGrowthTotal, this))
{}

ServerSession::~ServerSession()
{
    // Clients still closing go with the session; they must not report into
    // it while it is destroyed.
    for (const Client& client : std::as_const(m_clients)) {
        client.socket->disconnect(this);
        client.writeCap->disconnect(this);
    }
}

void ServerSession::setReadGrowthTotal(qint64 bytes)
{
    // Less than one largest frame would stall such a frame for good.
    m_readPool->setTotal(std::max(bytes, FrameLimits::maxFrameSize));
}

qint64 ServerSession::readGrowthAvailable() const
{
    return m_readPool->available();
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

bool ServerSession::listen(quint16 port, const QString& shownPath, const ServerOptions& options)
{
    const QHostAddress address = bindAddress(options);
    if (address.isNull()) {
        emit happened(ConnectionEvent(Code::ListenBadAddress, QString(), options.address));
        return false;
    }
    const bool tls = !options.certificateFile.isEmpty() || !options.privateKeyFile.isEmpty();
    QSslConfiguration tlsSetup;
    if (tls) {
        std::optional<ConnectionEvent> problem;
        tlsSetup = tlsConfiguration(options, &problem);
        if (problem) {
            emit happened(*problem);
            return false;
        }
    }

    auto* upgrader = new QWebSocketServer(
        QStringLiteral("Wirebench WS"),
        tls ? QWebSocketServer::SecureMode : QWebSocketServer::NonSecureMode, this);
    upgrader->setSupportedSubprotocols(options.subprotocols);
    // The acceptor's deadline covers TLS and the upgrade alike.
    upgrader->setHandshakeTimeout(-1);
    auto* acceptor = new ServerAcceptor(upgrader, this);
    acceptor->setHandshakeTimeout(options.handshakeTimeoutSeconds * 1000);
    if (tls)
        acceptor->setTls(tlsSetup);
    if (!acceptor->start(address, port)) {
        ConnectionEvent failed(Code::ListenFailed, QString(), acceptor->errorString());
        failed.socketError = int(acceptor->serverError());
        emit happened(failed);
        delete acceptor;
        delete upgrader;
        return false;
    }
    m_upgrader = upgrader;
    m_acceptor = acceptor;
    m_onlyPath = options.restrictPath ? normalisedPath(shownPath) : QString();
    connect(upgrader, &QWebSocketServer::newConnection, this, &ServerSession::onNewConnection);
    connect(acceptor, &ServerAcceptor::happened, this, &ServerSession::happened);
    // Clients must be told to use wss: a ws:// attempt fails its handshake.
    emit happened(
        ConnectionEvent(tls ? Code::ListeningTls : Code::Listening, QString(), shownPath, port));
    if (!options.isDefault()) {
        ConnectionEvent inUse(Code::ServerOptionsInUse);
        const auto summary = options.summary();
        for (const auto& [label, value] : summary)
            inUse.items.append({label, value});
        emit happened(inUse);
    }
    return true;
}

void ServerSession::close()
{
    const QList<ClientId> order = m_order;
    const QHash<ClientId, Client> clients = m_clients;
    m_order.clear();
    m_clients.clear();
    m_ids.clear();
    // Gone from the lists first: a client reporting its disconnection during
    // close is then no longer ours.
    for (ClientId id : order) {
        QWebSocket* socket = clients.value(id).socket;
        socket->disconnect(this);
        clients.value(id).writeCap->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->flush();
        socket->deleteLater();
    }
    if (m_acceptor) {
        // Transports still upgrading go with it.
        delete m_acceptor;
        m_acceptor = nullptr;
        delete m_upgrader;
        m_upgrader = nullptr;
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
    const Client client = m_clients.value(id);
    return client.socket && client.socket->state() == QAbstractSocket::ConnectedState &&
                   client.writeCap->admits(text.toUtf8().size())
               ? client.socket->sendTextMessage(text)
               : 0;
}

qint64 ServerSession::sendBinary(ClientId id, const QByteArray& data)
{
    const Client client = m_clients.value(id);
    return client.socket && client.socket->state() == QAbstractSocket::ConnectedState &&
                   client.writeCap->admits(data.size())
               ? client.socket->sendBinaryMessage(data)
               : 0;
}

void ServerSession::onNewConnection()
{
    while (m_upgrader && m_upgrader->hasPendingConnections()) {
        QWebSocket* socket = m_upgrader->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(this);
        const ServerAcceptor::Arrival arrival = m_acceptor->takeArrival(socket);
        if (!arrival.transport && socket->peerPort() == 0) {
            // Its transport closed before it was announced: no peer to name,
            // never a client.
            socket->deleteLater();
            continue;
        }
        if (arrival.overLimit) {
            refuse(socket, kCloseCodeTryAgain, QStringLiteral("too many clients"));
            continue;
        }
        const QString& text = arrival.peer;
        if (!m_onlyPath.isEmpty() && socket->requestUrl().path() != m_onlyPath) {
            emit happened(
                ConnectionEvent(Code::ClientPathRefused, text, socket->requestUrl().path()));
            refuse(socket, QWebSocketProtocol::CloseCodePolicyViolated,
                   QStringLiteral("path not served"));
            continue;
        }
        const ClientId id = m_nextId++;
        m_ids.insert(socket, id);
        WriteCap* writeCap = WriteCap::attach(socket, text);
        connect(writeCap, &WriteCap::happened, this, &ServerSession::happened);
        m_clients.insert(id, Client{text, socket, writeCap});
        m_order.append(id);
        FrameLimits::apply(socket);
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, id, text](const QString& message) {
                    emit textReceived(message, text);
                    emit textReceivedFrom(id, message, text);
                });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, id, text](const QByteArray& data) {
                    emit binaryReceived(data, text);
                    emit binaryReceivedFrom(id, data, text);
                });
        // Not through sender(): its cost grows with the number of clients.
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { dropClient(socket); });
        ReadBufferTuner::attachToTransport(socket, arrival.transport, FrameLimits::maxFrameSize,
                                           m_readPool);
        emit clientJoined(id, text);
        const QString subprotocol = socket->subprotocol();
        emit happened(ConnectionEvent(Code::ClientJoined, text, subprotocol));
        // Gone before its upgrade was through: it will not report leaving.
        if (socket->state() != QAbstractSocket::ConnectedState)
            dropClient(socket);
    }
}

void ServerSession::refuse(QWebSocket* socket, int code, const QString& reason)
{
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    socket->close(QWebSocketProtocol::CloseCode(code), reason);
    QTimer::singleShot(kRefusalGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void ServerSession::dropClient(QWebSocket* socket)
{
    const ClientId id = m_ids.take(socket);
    const auto found = m_clients.constFind(id);
    if (found == m_clients.constEnd() || found->socket != socket)
        return;
    const QString text = found->text;
    found->writeCap->disconnect(this);
    m_clients.erase(found);
    m_order.removeOne(id);
    socket->disconnect(this);
    emit clientLeft(id, text);
    emit happened(ConnectionEvent(Code::ClientLeft, text));
    if (socket->closeCode() != QWebSocketProtocol::CloseCodeNormal) {
        ConnectionEvent closed(Code::ClientClosedWith, text, socket->closeReason());
        closed.closeCode = int(socket->closeCode());
        emit happened(closed);
    }
    socket->deleteLater();
}

#include "websocket/ClientSession.h"

#include "websocket/FrameLimits.h"
#include "websocket/ReadBufferTuner.h"
#include "websocket/RequestHeaders.h"
#include "websocket/SecretMask.h"
#include "websocket/SystemProxy.h"
#include "websocket/WriteCap.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QWebSocketHandshakeOptions>

#include <utility>

namespace {

const QByteArray kHeartbeatPayload = QByteArrayLiteral("heartbeat");
const QByteArray kPingPrefix = QByteArrayLiteral("ping-");

struct Refusal
{
    int status = 0; // 0: not a refused upgrade
    QString reason;
};

// Qt 6.4 has no accessor for the server's answer to a refused upgrade: it is
// only inside the error text ("...Unhandled http status code: 401
// (Unauthorized)."). This is the one place that reads it.
Refusal refusal(const QWebSocket* socket)
{
    static const QRegularExpression status(
        QStringLiteral("status code:?\\s*(\\d{3})(?:\\s*\\(([^)]*)\\))?"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = status.match(socket->errorString());
    if (!match.hasMatch())
        return Refusal();
    return Refusal{match.captured(1).toInt(), match.captured(2).trimmed()};
}

// A refusal the server will repeat however often it is asked (401, 403, 404,
// a redirect Qt does not follow); a timeout or "too many requests" may pass.
bool refusalIsFinal(int status)
{
    return status >= 300 && status < 500 && status != 408 && status != 425 && status != 429;
}

// Close codes that say the client's own frames or the endpoint are wrong:
// the next connection would end the same way.
bool closeIsFinal(QWebSocketProtocol::CloseCode code)
{
    switch (code) {
    case QWebSocketProtocol::CloseCodeProtocolError:
    case QWebSocketProtocol::CloseCodeDatatypeNotSupported:
    case QWebSocketProtocol::CloseCodeWrongDatatype:
    case QWebSocketProtocol::CloseCodePolicyViolated:
    case QWebSocketProtocol::CloseCodeTooMuchData:
    case QWebSocketProtocol::CloseCodeMissingExtension:
        return true;
    default:
        return false;
    }
}

} // namespace

using Code = ConnectionEvent::Code;

ClientSession::ClientSession(QObject* parent)
    : QObject(parent)
{
    m_handshakeTimer.setSingleShot(true);
    m_retryTimer.setSingleShot(true);
    connect(&m_handshakeTimer, &QTimer::timeout, this, &ClientSession::onHandshakeTimeout);
    connect(&m_heartbeatTimer, &QTimer::timeout, this, &ClientSession::onHeartbeat);
    connect(&m_retryTimer, &QTimer::timeout, this, &ClientSession::startAttempt);
    // An attempt given up before it opened a socket still ends after open()
    // has returned, as any other failed attempt does.
    m_giveUpTimer.setSingleShot(true);
    connect(&m_giveUpTimer, &QTimer::timeout, this, [this] { ended(false); });
    m_protocolTimer.setSingleShot(true);
    connect(&m_protocolTimer, &QTimer::timeout, this, &ClientSession::onProtocolDue);
    m_clock.start();
}

ClientSession::~ClientSession()
{
    // Whatever is still open goes with the session, without reporting into a
    // receiver that may be half destroyed.
    if (QWebSocket* socket = release())
        socket->abort();
}

bool ClientSession::isOpen() const
{
    return m_socket && m_socketOpen && m_socket->state() == QAbstractSocket::ConnectedState;
}

QString ClientSession::peerOf(const QUrl& url)
{
    return url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

void ClientSession::setRetryDelays(int firstMs, int maxMs, int stableMs)
{
    m_firstDelayMs = qMax(1, firstMs);
    m_maxDelayMs = qMax(m_firstDelayMs, maxMs);
    m_nextDelayMs = m_firstDelayMs;
    m_stableMs = qMax(0, stableMs);
}

void ClientSession::report(ConnectionEvent event)
{
    // Qt's error texts may quote the address as typed or as parsed.
    const auto masked = [this](const QString& text) {
        return SecretMask::inText(SecretMask::inText(text, m_address), m_url.toString());
    };
    event.detail = masked(event.detail);
    event.peer = masked(event.peer);
    emit happened(event);
}

void ClientSession::report(ConnectionEvent::Code code, const QString& detail, qint64 number)
{
    report(ConnectionEvent(code, QString(), detail, number));
}

ClientSession::SocketFlags& ClientSession::flags(QWebSocket* socket)
{
    const auto found = m_flags.find(socket);
    if (found != m_flags.end())
        return *found;
    connect(socket, &QObject::destroyed, this, [this, socket] { m_flags.remove(socket); });
    return m_flags[socket];
}

void ClientSession::stopTimers()
{
    m_handshakeTimer.stop();
    m_heartbeatTimer.stop();
    m_retryTimer.stop();
    m_giveUpTimer.stop();
    m_protocolTimer.stop();
}

QWebSocket* ClientSession::release(bool keepErrorReport)
{
    QWebSocket* socket = m_socket;
    m_socket = nullptr;
    m_socketOpen = false;
    m_handshakeTimer.stop();
    m_heartbeatTimer.stop();
    m_protocolTimer.stop();
    m_pings.clear();
    if (m_writeCap) {
        m_writeCap->disconnect(this);
        m_writeCap = nullptr;
    }
    if (socket) {
        socket->disconnect(this);
        // A refused attempt reports its error after its disconnection.
        if (keepErrorReport)
            connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                    [this, socket] { onError(socket); });
        socket->deleteLater();
    }
    return socket;
}

void ClientSession::open(const QString& address, const ClientOptions& options)
{
    abort();
    m_address = address;
    m_url = QUrl(address);
    m_peer = peerOf(m_url);
    m_options = options;
    m_nextDelayMs = m_firstDelayMs;
    m_retriesBeforeOpen = 0;
    startAttempt();
}

std::optional<QNetworkProxy> ClientSession::proxyForAttempt()
{
    const bool first = m_retry == 0;
    switch (m_options.proxy) {
    case ClientOptions::Proxy::None:
        break;
    case ClientOptions::Proxy::Http:
    case ClientOptions::Proxy::Socks5:
        return QNetworkProxy(m_options.proxy == ClientOptions::Proxy::Http
                                 ? QNetworkProxy::HttpProxy
                                 : QNetworkProxy::Socks5Proxy,
                             m_options.proxyHost.trimmed(), m_options.proxyPort,
                             m_options.proxyUser, m_options.proxyPassword);
    case ClientOptions::Proxy::System:
        if (const std::optional<QNetworkProxy> proxy = SystemProxy::forUrl(m_url)) {
            if (first && proxy->type() == QNetworkProxy::NoProxy)
                report(Code::SystemProxyNone);
            else if (first)
                report(ConnectionEvent(Code::SystemProxy, proxy->hostName(),
                                       proxy->type() == QNetworkProxy::Socks5Proxy
                                           ? QStringLiteral("SOCKS5")
                                           : QStringLiteral("HTTP"),
                                       proxy->port()));
            return *proxy;
        }
        // Going direct would pass by the proxy the user relies on.
        report(ConnectionEvent(
            Code::SystemProxyUnusable,
            SecretMask::address(QString::fromLocal8Bit(SystemProxy::valueFor(m_url)))));
        return std::nullopt;
    }
    // Explicitly none: an application-wide proxy must not apply either.
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

void ClientSession::startAttempt()
{
    m_phase = Phase::Attempting;
    m_socketOpen = false;
    m_heartbeatUnanswered = false;
    m_finalReason.reset();
    const QString shown = SecretMask::address(m_address);
    // Already masked: sent unchanged.
    if (m_retry == 0) {
        emit happened(ConnectionEvent(Code::Connecting, shown));
        ConnectionEvent options(Code::OptionsInUse);
        for (const auto& [label, value] : m_options.differences())
            options.items.append({label, value});
        if (!options.items.isEmpty())
            emit happened(options);
        const QStringList unkept = RequestHeaders::parse(m_options.headers).unkept;
        for (const QString& name : unkept)
            emit happened(ConnectionEvent(Code::HeaderNotKept, QString(), name));
    } else {
        ConnectionEvent retry(Code::Reconnecting, shown);
        retry.attempt = m_retry;
        emit happened(retry);
    }

    const std::optional<QNetworkProxy> proxy = proxyForAttempt();
    if (!proxy) {
        emit attemptStarted();
        m_giveUpTimer.start(0);
        return;
    }
    auto* socket = new QWebSocket(m_options.origin, QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    flags(socket).reportErrors = true;
    socket->setProxy(*proxy);
    if (!m_options.caFile.isEmpty()) {
        QSslConfiguration tls = socket->sslConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(m_options.caFile, QSsl::Pem));
        socket->setSslConfiguration(tls);
    }
    FrameLimits::apply(socket);
    connect(socket, &QWebSocket::connected, this, &ClientSession::onConnected);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this, socket] { onError(socket); });
    connect(socket, &QWebSocket::sslErrors, this,
            [this, socket](const QList<QSslError>& errors) { onSslErrors(socket, errors); });
    connect(socket, &QWebSocket::aboutToClose, this,
            [this, socket] { flags(socket).closing = true; });
    connect(socket, &QWebSocket::pong, this,
            [this](quint64, const QByteArray& payload) { onPong(payload); });
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { onFrame(WireFrame::ofText(text)); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray& data) { onFrame(WireFrame::ofBytes(data)); });

    m_protocol = WireProtocol::create(m_options.protocol, m_answers);
    QNetworkRequest request(m_protocol->url(m_url));
    for (const RequestHeaders::Header& header : RequestHeaders::parse(m_options.headers).headers)
        request.setRawHeader(header.first, header.second);
    QWebSocketHandshakeOptions handshake;
    handshake.setSubprotocols(m_options.subprotocols);
    if (m_options.handshakeTimeoutSeconds > 0)
        m_handshakeTimer.start(m_options.handshakeTimeoutSeconds * 1000);
    emit attemptStarted();
    socket->open(request, handshake);
    ReadBufferTuner::attachToTransport(socket, ReadBufferTuner::clientTransport(socket),
                                       FrameLimits::maxFrameSize);
}

void ClientSession::close()
{
    stopTimers();
    m_phase = Phase::Idle;
    m_retry = 0;
    if (isOpen() && m_protocol) {
        for (const WireFrame& frame : m_protocol->closing()) {
            if (write(frame))
                emit protocolSent(frame.binary ? frame.bytes : frame.text.toUtf8(), frame.binary,
                                  m_peer);
        }
    }
    if (QWebSocket* socket = release()) {
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        // Without this a window closed right after would drop the close frame.
        socket->flush();
    }
}

void ClientSession::abort()
{
    stopTimers();
    m_phase = Phase::Idle;
    m_retry = 0;
    if (QWebSocket* socket = release())
        socket->abort();
}

bool ClientSession::ping()
{
    if (!isOpen())
        return false;
    const QByteArray payload = kPingPrefix + QByteArray::number(++m_pingSerial);
    // Pongs that never come must not pile up.
    if (m_pings.size() > 64)
        m_pings.clear();
    m_pings[payload].start();
    m_socket->ping(payload);
    return true;
}

qint64 ClientSession::sendText(const QString& text)
{
    return isOpen() && m_writeCap->admits(text.toUtf8().size()) ? m_socket->sendTextMessage(text)
                                                                : 0;
}

qint64 ClientSession::sendBinary(const QByteArray& data)
{
    return isOpen() && m_writeCap->admits(data.size()) ? m_socket->sendBinaryMessage(data) : 0;
}

void ClientSession::onConnected()
{
    m_handshakeTimer.stop();
    m_socketOpen = true;
    m_phase = Phase::Open;
    // The wait before a retry starts small again only once a connection has
    // stayed up (dropped()); one that ends at once continues the cycle.
    m_retriesBeforeOpen = m_retry;
    m_writeCap = WriteCap::attach(m_socket, m_peer);
    connect(m_writeCap, &WriteCap::happened, this, [this](const ConnectionEvent& e) { report(e); });
    m_retry = 0;
    m_openFor.start();
    report(Code::Connected);
    if (!m_options.subprotocols.isEmpty()) {
        const QString chosen = m_socket->subprotocol();
        if (chosen.isEmpty())
            report(Code::NoSubprotocol);
        else
            report(Code::Subprotocol, chosen);
    }
    if (m_options.heartbeatSeconds > 0)
        m_heartbeatTimer.start(m_options.heartbeatSeconds * 1000);
    emit connected();
    if (isOpen())
        apply(m_protocol->opened(m_clock.elapsed()));
}

void ClientSession::onFrame(const WireFrame& frame)
{
    // Plain WebSocket passes every frame on as it came: no step to build per
    // frame of a flood.
    if (m_protocol->isPlain()) {
        if (frame.binary)
            emit binaryReceived(frame.bytes, m_peer);
        else
            emit textReceived(frame.text, m_peer);
        return;
    }
    apply(m_protocol->received(frame, m_clock.elapsed()));
}

void ClientSession::onProtocolDue()
{
    if (isOpen())
        apply(m_protocol->due(m_clock.elapsed()));
}

bool ClientSession::write(const WireFrame& frame)
{
    if (!isOpen())
        return false;
    return (frame.binary ? m_socket->sendBinaryMessage(frame.bytes)
                         : m_socket->sendTextMessage(frame.text)) > 0;
}

QList<WireFrame> ClientSession::sendMessage(const OutgoingMessage& message, QString* problem)
{
    if (!isOpen() || !m_protocol)
        return {};
    const ProtocolStep step = m_protocol->send(message, m_clock.elapsed());
    if (!step.problem.isEmpty()) {
        *problem = step.problem;
        return {};
    }
    qint64 size = 0;
    for (const WireFrame& frame : step.writes)
        size += frame.binary ? frame.bytes.size() : frame.text.size();
    // All of the message or none of it: half an event is no event.
    if (!m_writeCap->admits(size))
        return {};
    for (const WireFrame& frame : step.writes)
        write(frame);
    return step.shownSent;
}

void ClientSession::apply(const ProtocolStep& step)
{
    const QPointer<QWebSocket> socket = m_socket;
    for (const WireFrame& frame : step.writes)
        write(frame);
    for (const WireFrame& frame : step.received) {
        // A receiver may end the connection on the way.
        if (m_socket != socket || !socket)
            return;
        if (frame.binary)
            emit binaryReceived(frame.bytes, m_peer);
        else
            emit textReceived(frame.text, m_peer);
    }
    if (m_socket != socket || !socket)
        return;
    // Shown after what they answer.
    for (const WireFrame& frame : step.shownSent)
        emit protocolSent(frame.binary ? frame.bytes : frame.text.toUtf8(), frame.binary, m_peer);
    for (const ConnectionEvent& event : step.events)
        report(event);
    switch (step.end) {
    case ProtocolStep::End::None:
        break;
    case ProtocolStep::End::Drop:
        dropped();
        release()->abort();
        ended(true);
        return;
    case ProtocolStep::End::Finish:
        report(Code::Disconnected);
        if (QWebSocket* closing = release()) {
            closing->close(QWebSocketProtocol::CloseCodeNormal, QString());
            closing->flush();
        }
        ended(false);
        return;
    }
    if (m_protocol->isPlain())
        return;
    const qint64 deadline = m_protocol->deadline();
    if (deadline < 0)
        m_protocolTimer.stop();
    else
        m_protocolTimer.start(
            int(qBound<qint64>(qint64(0), deadline - m_clock.elapsed(), qint64(1) << 30)));
}

void ClientSession::onDisconnected(QWebSocket* socket)
{
    if (socket != m_socket)
        return;
    if (!m_socketOpen) {
        // Nothing was connected: its error, still on its way, is the entry,
        // and the attempt ends after it.
        QMetaObject::invokeMethod(
            this, [this, guard = QPointer<QWebSocket>(socket)] { endFailedAttempt(guard); },
            Qt::QueuedConnection);
        return;
    }
    report(Code::Disconnected);
    const QWebSocketProtocol::CloseCode code = socket->closeCode();
    if (code != QWebSocketProtocol::CloseCodeNormal) {
        ConnectionEvent closed(Code::ClosedWith, QString(), socket->closeReason());
        closed.closeCode = int(code);
        report(closed);
    }
    // A close frame of 1000 is the server's own decision; anything else (no
    // close frame at all, another code) is a drop worth retrying.
    const bool closing = flags(socket).closing;
    const bool asked = closing && code == QWebSocketProtocol::CloseCodeNormal;
    dropped();
    if (closing && closeIsFinal(code)) {
        m_finalReason = ConnectionEvent(Code::RetryStoppedByClose);
        m_finalReason->closeCode = int(code);
    }
    release(true);
    ended(!asked);
}

void ClientSession::onError(QWebSocket* socket)
{
    // A refused attempt reports its disconnection before the error; one entry
    // per failed socket is enough either way.
    SocketFlags& socketFlags = flags(socket);
    if (!socketFlags.reportErrors)
        return;
    socketFlags.reportErrors = false;
    const bool attempt = socket == m_socket && !m_socketOpen;
    const Refusal refused = refusal(socket);
    if (!(socket->error() == QAbstractSocket::SslHandshakeFailedError &&
          socketFlags.certificateRefused)) {
        ConnectionEvent error =
            refused.status > 0
                ? ConnectionEvent(Code::UpgradeRefused, QString(), refused.reason, refused.status)
                : ConnectionEvent(Code::ConnectionError, QString(), socket->errorString());
        error.socketError = int(socket->error());
        report(error);
    }
    if (attempt && refused.status > 0 && refusalIsFinal(refused.status))
        m_finalReason =
            ConnectionEvent(Code::RetryStoppedByRefusal, QString(), QString(), refused.status);
    // A failed handshake leaves the socket reading whatever the server sends.
    if (attempt)
        QMetaObject::invokeMethod(
            this, [this, guard = QPointer<QWebSocket>(socket)] { endFailedAttempt(guard); },
            Qt::QueuedConnection);
}

void ClientSession::endFailedAttempt(QWebSocket* socket)
{
    if (!socket || socket != m_socket || m_socketOpen)
        return;
    release(true)->abort();
    ended(true);
}

void ClientSession::onSslErrors(QWebSocket* socket, const QList<QSslError>& errors)
{
    const bool ignore = m_options.ignoreCertificateErrors;
    for (const QSslError& error : errors)
        report(ignore ? Code::CertificateIgnored : Code::CertificateError, error.errorString(),
               int(error.error()));
    if (ignore)
        socket->ignoreSslErrors();
    else
        flags(socket).certificateRefused = true;
}

void ClientSession::onPong(const QByteArray& payload)
{
    m_heartbeatUnanswered = false;
    const auto sent = m_pings.constFind(payload);
    if (sent == m_pings.constEnd())
        return;
    // In microseconds: on loopback a round trip is well under a millisecond.
    report(Code::Pong, QString(), sent->nsecsElapsed() / 1000);
    m_pings.erase(sent);
}

void ClientSession::onHandshakeTimeout()
{
    if (!m_socket || m_socketOpen)
        return;
    report(Code::HandshakeTimeout, QString(), m_options.handshakeTimeoutSeconds);
    release()->abort();
    ended(true);
}

void ClientSession::onHeartbeat()
{
    if (!isOpen())
        return;
    if (m_heartbeatUnanswered) {
        report(Code::HeartbeatTimeout, QString(), m_options.heartbeatSeconds);
        dropped();
        release()->abort();
        ended(true);
        return;
    }
    m_heartbeatUnanswered = true;
    m_socket->ping(kHeartbeatPayload);
}

void ClientSession::dropped()
{
    if (m_openFor.isValid() && m_openFor.elapsed() >= m_stableMs)
        m_nextDelayMs = m_firstDelayMs;
    else
        m_retry = m_retriesBeforeOpen;
}

void ClientSession::ended(bool retry)
{
    stopTimers();
    const std::optional<ConnectionEvent> finalReason = std::exchange(m_finalReason, std::nullopt);
    if (!retry || !m_options.autoReconnect || finalReason) {
        // Said only where a retry would otherwise have followed.
        if (retry && m_options.autoReconnect)
            report(*finalReason);
        m_phase = Phase::Idle;
        m_retry = 0;
        emit disconnected();
        return;
    }
    m_phase = Phase::Waiting;
    ++m_retry;
    const int delay = m_nextDelayMs;
    m_nextDelayMs = qMin(delay * 2, m_maxDelayMs);
    ConnectionEvent scheduled(Code::RetryScheduled, QString(), QString(), delay);
    scheduled.attempt = m_retry;
    report(scheduled);
    m_retryTimer.start(delay);
    emit retryScheduled(m_retry);
}

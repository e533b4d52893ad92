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

const char kReportErrorsProperty[] = "reportErrors";
// Set once the closing handshake began: a drop without it was not a close.
const char kClosingProperty[] = "closingHandshake";
// Set once a certificate was refused: the failed handshake that follows is
// the same event, already in the log.
const char kCertificateRefusedProperty[] = "certificateRefused";
const QByteArray kHeartbeatPayload = QByteArrayLiteral("heartbeat");
const QByteArray kPingPrefix = QByteArrayLiteral("ping-");

QString proxyText(const QNetworkProxy& proxy)
{
    return QStringLiteral("%1 %2:%3")
        .arg(proxy.type() == QNetworkProxy::Socks5Proxy ? QStringLiteral("SOCKS5")
                                                        : QStringLiteral("HTTP"),
             proxy.hostName())
        .arg(proxy.port());
}

// Qt gives the server's answer to a refused upgrade only inside its text:
// "...Unhandled http status code: 401 (Unauthorized)."
QRegularExpressionMatch refusal(const QWebSocket* socket)
{
    static const QRegularExpression status(
        QStringLiteral("status code:?\\s*(\\d{3})(?:\\s*\\(([^)]*)\\))?"),
        QRegularExpression::CaseInsensitiveOption);
    return status.match(socket->errorString());
}

QString describeError(const QWebSocket* socket)
{
    const QRegularExpressionMatch match = refusal(socket);
    if (!match.hasMatch())
        return QStringLiteral("连接错误: ") + socket->errorString();
    QString answer = QStringLiteral("HTTP ") + match.captured(1);
    if (!match.captured(2).trimmed().isEmpty())
        answer += QLatin1Char(' ') + match.captured(2).trimmed();
    return QStringLiteral("服务器拒绝升级: ") + answer;
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
}

ClientSession::~ClientSession()
{
    // Whatever is still open goes with the session, without reporting into a
    // receiver that may be half destroyed.
    if (QWebSocket* socket = release())
        socket->abort();
}

bool ClientSession::isPending() const
{
    return m_retryTimer.isActive() || m_giveUpTimer.isActive() ||
           (m_socket && m_socket->state() != QAbstractSocket::ConnectedState &&
            m_socket->state() != QAbstractSocket::UnconnectedState);
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

void ClientSession::say(const QString& text)
{
    // Qt's error texts may quote the address as typed or as parsed.
    const QString once = SecretMask::inText(text, m_address);
    emit notice(SecretMask::inText(once, m_url.toString()));
}

void ClientSession::stopTimers()
{
    m_handshakeTimer.stop();
    m_heartbeatTimer.stop();
    m_retryTimer.stop();
    m_giveUpTimer.stop();
}

QWebSocket* ClientSession::release(bool keepErrorReport)
{
    QWebSocket* socket = m_socket;
    m_socket = nullptr;
    m_socketOpen = false;
    m_handshakeTimer.stop();
    m_heartbeatTimer.stop();
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
            if (first)
                say(proxy->type() == QNetworkProxy::NoProxy
                        ? QStringLiteral("系统代理: 不使用代理")
                        : QStringLiteral("系统代理: ") + proxyText(*proxy));
            return *proxy;
        }
        // Going direct would pass by the proxy the user relies on.
        say(QStringLiteral("系统代理 %1 无法使用（仅支持 http:// 与 socks5:// 代理），已放弃连接")
                .arg(SecretMask::address(QString::fromLocal8Bit(SystemProxy::valueFor(m_url)))));
        return std::nullopt;
    }
    // Explicitly none: an application-wide proxy must not apply either.
    return QNetworkProxy(QNetworkProxy::NoProxy);
}

void ClientSession::startAttempt()
{
    m_socketOpen = false;
    m_heartbeatUnanswered = false;
    m_finalReason.clear();
    const QString shown = SecretMask::address(m_address);
    if (m_retry == 0) {
        emit notice(QStringLiteral("正在连接 %1...").arg(shown));
        QStringList options;
        for (const auto& [label, value] : m_options.differences())
            options.append(value.isEmpty() ? label : label + QStringLiteral(": ") + value);
        if (!options.isEmpty())
            emit notice(QStringLiteral("连接选项: ") + options.join(QStringLiteral("；")));
        const QStringList unkept = RequestHeaders::parse(m_options.headers).unkept;
        for (const QString& name : unkept)
            emit notice(
                QStringLiteral("请求头 %1 的值未保存，未发送；请在连接选项中重新填写").arg(name));
    } else {
        emit notice(QStringLiteral("第 %1 次重连：正在连接 %2...").arg(m_retry).arg(shown));
    }

    const std::optional<QNetworkProxy> proxy = proxyForAttempt();
    if (!proxy) {
        emit attemptStarted();
        m_giveUpTimer.start(0);
        return;
    }
    auto* socket = new QWebSocket(m_options.origin, QWebSocketProtocol::VersionLatest, this);
    m_socket = socket;
    socket->setProperty(kReportErrorsProperty, true);
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
            [socket] { socket->setProperty(kClosingProperty, true); });
    connect(socket, &QWebSocket::pong, this,
            [this](quint64, const QByteArray& payload) { onPong(payload); });
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { emit textReceived(text, m_peer); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray& data) { emit binaryReceived(data, m_peer); });

    QNetworkRequest request(m_url);
    for (const RequestHeaders::Header& header : RequestHeaders::parse(m_options.headers).headers)
        request.setRawHeader(header.first, header.second);
    QWebSocketHandshakeOptions handshake;
    handshake.setSubprotocols(m_options.subprotocols);
    if (m_options.handshakeTimeoutSeconds > 0)
        m_handshakeTimer.start(m_options.handshakeTimeoutSeconds * 1000);
    emit attemptStarted();
    socket->open(request, handshake);
    ReadBufferTuner::attach(socket, socket, FrameLimits::maxFrameSize);
}

void ClientSession::close()
{
    stopTimers();
    m_retry = 0;
    if (QWebSocket* socket = release()) {
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        // Without this a window closed right after would drop the close frame.
        socket->flush();
    }
}

void ClientSession::abort()
{
    stopTimers();
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
    // The wait before a retry starts small again only once a connection has
    // stayed up (dropped()); one that ends at once continues the cycle.
    m_retriesBeforeOpen = m_retry;
    m_writeCap = WriteCap::attach(m_socket, m_peer);
    connect(m_writeCap, &WriteCap::notice, this, &ClientSession::say);
    m_retry = 0;
    m_openFor.start();
    say(QStringLiteral("WebSocket已连接"));
    if (!m_options.subprotocols.isEmpty()) {
        const QString chosen = m_socket->subprotocol();
        say(chosen.isEmpty() ? QStringLiteral("服务器未选择子协议")
                             : QStringLiteral("子协议: ") + chosen);
    }
    if (m_options.heartbeatSeconds > 0)
        m_heartbeatTimer.start(m_options.heartbeatSeconds * 1000);
    emit connected();
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
    say(QStringLiteral("WebSocket已断开"));
    const QString closeInfo = FrameLimits::closeInfo(socket);
    if (!closeInfo.isEmpty())
        say(QStringLiteral("关闭代码 ") + closeInfo);
    // A close frame of 1000 is the server's own decision; anything else (no
    // close frame at all, another code) is a drop worth retrying.
    const QWebSocketProtocol::CloseCode code = socket->closeCode();
    const bool closing = socket->property(kClosingProperty).toBool();
    const bool asked = closing && code == QWebSocketProtocol::CloseCodeNormal;
    dropped();
    if (closing && closeIsFinal(code))
        m_finalReason = QStringLiteral("已停止自动重连：关闭代码 %1，重连无法解决").arg(int(code));
    release(true);
    ended(!asked);
}

void ClientSession::onError(QWebSocket* socket)
{
    // A refused attempt reports its disconnection before the error; one entry
    // per failed socket is enough either way.
    if (!socket->property(kReportErrorsProperty).toBool())
        return;
    socket->setProperty(kReportErrorsProperty, false);
    const bool attempt = socket == m_socket && !m_socketOpen;
    if (!(socket->error() == QAbstractSocket::SslHandshakeFailedError &&
          socket->property(kCertificateRefusedProperty).toBool()))
        say(describeError(socket));
    const QRegularExpressionMatch match = refusal(socket);
    if (attempt && match.hasMatch() && refusalIsFinal(match.captured(1).toInt()))
        m_finalReason = QStringLiteral("已停止自动重连：服务器以 HTTP %1 拒绝升级，重连无法解决")
                            .arg(match.captured(1));
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
        say((ignore ? QStringLiteral("已忽略证书错误: ") : QStringLiteral("证书错误: ")) +
            error.errorString());
    if (ignore)
        socket->ignoreSslErrors();
    else
        socket->setProperty(kCertificateRefusedProperty, true);
}

void ClientSession::onPong(const QByteArray& payload)
{
    m_heartbeatUnanswered = false;
    const auto sent = m_pings.constFind(payload);
    if (sent == m_pings.constEnd())
        return;
    say(QStringLiteral("Pong %1 ms").arg(sent->elapsed()));
    m_pings.erase(sent);
}

void ClientSession::onHandshakeTimeout()
{
    if (!m_socket || m_socketOpen)
        return;
    say(QStringLiteral("握手超时：%1 秒内未完成，已放弃连接")
            .arg(m_options.handshakeTimeoutSeconds));
    release()->abort();
    ended(true);
}

void ClientSession::onHeartbeat()
{
    if (!isOpen())
        return;
    if (m_heartbeatUnanswered) {
        say(QStringLiteral("心跳超时：%1 秒内未收到 Pong，已断开连接")
                .arg(m_options.heartbeatSeconds));
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
    const QString finalReason = std::exchange(m_finalReason, QString());
    if (!retry || !m_options.autoReconnect || !finalReason.isEmpty()) {
        // Said only where a retry would otherwise have followed.
        if (retry && m_options.autoReconnect)
            say(finalReason);
        m_retry = 0;
        emit disconnected();
        return;
    }
    ++m_retry;
    const int delay = m_nextDelayMs;
    m_nextDelayMs = qMin(delay * 2, m_maxDelayMs);
    say(QStringLiteral("%1 秒后第 %2 次重连").arg(QString::number(delay / 1000.0)).arg(m_retry));
    m_retryTimer.start(delay);
    emit retryScheduled(m_retry);
}

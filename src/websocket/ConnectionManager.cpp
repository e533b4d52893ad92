#include "websocket/ConnectionManager.h"

#include "protocol/SocketIoProtocol.h"
#include "websocket/AddressCheck.h"
#include "websocket/ClientOptionsCheck.h"
#include "websocket/ClientSession.h"
#include "websocket/EventFormatter.h"

#include <QStringDecoder>
#include <QUrl>
#include <QWebSocket>

ConnectionManager::ConnectionManager(QObject* parent)
    : QObject(parent)
    , m_client(new ClientSession(this))
    , m_server(new ServerSession(this))
{
    connect(m_client, &ClientSession::happened, this, &ConnectionManager::happened);
    connect(m_client, &ClientSession::attemptStarted, this, &ConnectionManager::refreshState);
    connect(m_client, &ClientSession::retryScheduled, this, [this](int number) {
        refreshState();
        emit reconnectScheduled(number);
    });
    connect(m_client, &ClientSession::connected, this, [this] {
        refreshState();
        emit connectionOpened(m_client->peer());
    });
    connect(m_client, &ClientSession::disconnected, this, &ConnectionManager::refreshState);
    // One call per frame for both signals: the one with the id costs next to
    // nothing while no one answers frames.
    connect(m_client, &ClientSession::textReceived, this,
            [this](const QString& text, const QString& peer) {
                emit textReceived(text, peer);
                emit textReceivedFrom(everyClient, text, peer);
            });
    connect(m_client, &ClientSession::binaryReceived, this,
            [this](const QByteArray& data, const QString& peer) {
                emit binaryReceived(data, peer);
                emit binaryReceivedFrom(everyClient, data, peer);
            });
    connect(m_client, &ClientSession::protocolSent, this,
            [this](const QByteArray& data, bool binary, const QString& peer) {
                emit protocolSent(
                    data, binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text, peer);
            });

    connect(m_server, &ServerSession::happened, this, &ConnectionManager::happened);
    connect(m_server, &ServerSession::clientJoined, this, &ConnectionManager::clientJoined);
    connect(m_server, &ServerSession::clientLeft, this, &ConnectionManager::clientLeft);
    connect(m_server, &ServerSession::textReceivedFrom, this,
            [this](ClientId id, const QString& text, const QString& peer) {
                emit textReceived(text, peer);
                emit textReceivedFrom(id, text, peer);
            });
    connect(m_server, &ServerSession::binaryReceivedFrom, this,
            [this](ClientId id, const QByteArray& data, const QString& peer) {
                emit binaryReceived(data, peer);
                emit binaryReceivedFrom(id, data, peer);
            });
}

ConnectionManager::~ConnectionManager() = default;

ConnectionManager::State ConnectionManager::state() const
{
    if (m_server->isListening())
        return Listening;
    switch (m_client->phase()) {
    case ClientSession::Phase::Idle:
        break;
    case ClientSession::Phase::Attempting:
        return m_client->retryNumber() > 0 ? Reconnecting : Connecting;
    case ClientSession::Phase::Open:
        return Connected;
    case ClientSession::Phase::Waiting:
        return Reconnecting;
    }
    return Idle;
}

void ConnectionManager::refreshState()
{
    const State now = state();
    if (now == m_signalled)
        return;
    m_signalled = now;
    emit stateChanged(now);
}

void ConnectionManager::setClientOptions(const ClientOptions& options)
{
    if (options == m_clientOptions)
        return;
    m_clientOptions = options;
    emit clientOptionsChanged();
    emit optionsChanged();
}

void ConnectionManager::setServerOptions(const ServerOptions& options)
{
    if (options == m_serverOptions)
        return;
    m_serverOptions = options;
    emit optionsChanged();
}

std::optional<ConnectionEvent> ConnectionManager::addressFault(const QString& address)
{
    return AddressCheck::fault(address);
}

QString ConnectionManager::addressProblem(const QString& address)
{
    return AddressCheck::problem(address);
}

bool ConnectionManager::connectTo(const QString& typed)
{
    const QString address = typed.trimmed();
    // Socket.IO servers are named by their http(s):// address as often as not.
    const QString checked = m_clientOptions.protocol.isSocketIo()
                                ? SocketIoProtocol::webSocketAddress(address)
                                : address;
    if (const std::optional<ConnectionEvent> fault = addressFault(checked)) {
        emit happened(*fault);
        return false;
    }
    // One thing at a time; what runs is stopped by closeAll first.
    if (isActive())
        return false;
    const QList<OptionProblem> problems = ClientOptionsCheck::problems(m_clientOptions);
    for (const OptionProblem& problem : problems)
        emit happened(
            ConnectionEvent(ConnectionEvent::Code::OptionsRefused, QString(), problem.text()));
    if (!problems.isEmpty())
        return false;
    m_client->open(address, m_clientOptions);
    return true;
}

bool ConnectionManager::listen(quint16 port, const QString& shownPath)
{
    // An attempt still pending would later mark the running server as gone.
    abortPendingClient();
    if (m_client->isOpen() || m_server->isListening())
        return false;
    if (!m_server->listen(port, shownPath, m_serverOptions))
        return false;
    refreshState();
    return true;
}

void ConnectionManager::abortPendingClient()
{
    if (m_client->isPending()) {
        m_client->abort();
        refreshState();
    }
}

void ConnectionManager::cancelAttempt()
{
    if (!m_client->isPending())
        return;
    m_client->abort();
    emit happened(ConnectionEvent(ConnectionEvent::Code::AttemptCancelled));
    refreshState();
}

void ConnectionManager::stopReconnecting(ConnectionEvent::Code why)
{
    if (state() != Reconnecting)
        return;
    m_client->abort();
    emit happened(ConnectionEvent(why));
    refreshState();
}

int ConnectionManager::reconnectAttempt() const
{
    return m_client->retryNumber();
}

void ConnectionManager::setReconnectDelays(int firstMs, int maxMs, int stableMs)
{
    m_client->setRetryDelays(firstMs, maxMs, stableMs);
}

bool ConnectionManager::ping()
{
    return m_client->ping();
}

void ConnectionManager::closeAll()
{
    m_client->close();
    m_server->close();
    refreshState();
    emit happened(ConnectionEvent(ConnectionEvent::Code::Closed));
}

QList<ConnectionManager::ClientId> ConnectionManager::clientIds() const
{
    return m_server->clientIds();
}

QString ConnectionManager::clientText(ClientId id) const
{
    return m_server->clientText(id);
}

void ConnectionManager::closeClient(ClientId id)
{
    m_server->closeClient(id);
}

QWebSocket* ConnectionManager::clientModeSocket() const
{
    return m_client->socket();
}

QWebSocket* ConnectionManager::serverClientSocket(ClientId id) const
{
    return m_server->clientSocket(id);
}

QString ConnectionManager::clientAddressProblem(const QString& address) const
{
    return addressProblem(m_clientOptions.protocol.isSocketIo()
                              ? SocketIoProtocol::webSocketAddress(address)
                              : address);
}

bool ConnectionManager::speaksProtocol() const
{
    return !m_client->speaksPlain();
}

void ConnectionManager::setAnswerSource(const WireProtocol::AnswerSource& answers)
{
    m_client->setAnswerSource(answers);
}

ConnectionManager::SendResult ConnectionManager::sendMessage(const OutgoingMessage& message)
{
    SendResult result;
    if (!m_client->isOpen())
        return result; // NotConnected
    result.recipients = m_client->peer();
    const QList<WireFrame> shown = m_client->sendMessage(message, &result.problem);
    if (!result.problem.isEmpty()) {
        result.status = SendStatus::Refused;
        return result;
    }
    result.status = shown.isEmpty() ? SendStatus::Failed : SendStatus::Sent;
    result.frames = int(shown.size());
    for (const WireFrame& frame : shown)
        result.shown.append(
            {frame.binary ? frame.bytes : frame.text.toUtf8(),
             frame.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text});
    return result;
}

ConnectionManager::SendResult ConnectionManager::sendText(const QString& text, ClientId target)
{
    return sendFrame(&text, nullptr, target);
}

ConnectionManager::SendResult ConnectionManager::send(const QByteArray& data,
                                                      LogEntry::FrameKind kind, ClientId target)
{
    if (kind != LogEntry::FrameKind::Text)
        return sendFrame(nullptr, &data, target);
    // Never replace what is not UTF-8 by U+FFFD behind the user's back.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(data);
    if (utf8.hasError()) {
        SendResult refused;
        refused.status = SendStatus::NotText;
        return refused;
    }
    return sendFrame(&text, nullptr, target);
}

ConnectionManager::SendResult ConnectionManager::sendFrame(const QString* text,
                                                           const QByteArray* data, ClientId target)
{
    SendResult result;
    if (m_client->isOpen()) {
        const qint64 sent = text ? m_client->sendText(*text) : m_client->sendBinary(*data);
        result.recipients = m_client->peer();
        result.frames = sent > 0 ? 1 : 0;
        result.status = sent > 0 ? SendStatus::Sent : SendStatus::Failed;
        return result;
    }
    if (!m_server->isListening())
        return result; // NotConnected

    QList<ClientId> targets;
    if (target == everyClient)
        targets = m_server->clientIds();
    else if (m_server->hasClient(target))
        targets.append(target);
    if (targets.isEmpty()) {
        result.status = SendStatus::NoClients;
        return result;
    }
    for (ClientId id : std::as_const(targets)) {
        const qint64 sent = text ? m_server->sendText(id, *text) : m_server->sendBinary(id, *data);
        if (sent > 0)
            ++result.frames;
    }
    result.status = result.frames > 0 ? SendStatus::Sent : SendStatus::Failed;
    result.recipients = target == everyClient ? QStringLiteral("全部 (%1)").arg(result.frames)
                                              : m_server->clientText(target);
    return result;
}

#include "websocket/ServerAcceptor.h"

#include "websocket/ServerSession.h"

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kBackOffMs = 1000;
// Accepted in one pass before the loop may run other events.
constexpr int kAcceptBatch = 64;
// Refusals less than this apart belong to one burst.
constexpr int kBurstGapMs = 5000;

using Code = ConnectionEvent::Code;

} // namespace

// What the acceptor knows of one of its transports.
struct TransportState
{
    QPointer<ServerAcceptor> acceptor;
    QString peer;
    bool refused = false;
    // Given to the upgrader; then taken back as a WebSocket's transport.
    bool handed = false;
    bool claimed = false;

    virtual ~TransportState() = default;

    void release(QAbstractSocket* self)
    {
        if (acceptor)
            acceptor->released(self, *this);
    }
};

namespace {

template<typename Socket> class Transport : public Socket, public TransportState
{
public:
    explicit Transport(ServerAcceptor* owner)
        : Socket(owner)
    {
        acceptor = owner;
    }
    ~Transport() override { release(this); }
};

} // namespace

ServerAcceptor::ServerAcceptor(QWebSocketServer* upgrader, QObject* parent)
    : QTcpServer(parent)
    , m_upgrader(upgrader)
    , m_burst(new QTimer(this))
    , m_backOff(new QTimer(this))
{
    m_burst->setSingleShot(true);
    m_burst->setInterval(kBurstGapMs);
    m_backOff->setSingleShot(true);
    m_backOff->setInterval(kBackOffMs);
    connect(m_backOff, &QTimer::timeout, this, [this] {
        m_errorPaused = false;
        updateAccepting();
    });
}

ServerAcceptor::~ServerAcceptor()
{
    // Transports that go with us must not report back.
    const QList<QAbstractSocket*> transports =
        findChildren<QAbstractSocket*>(QString(), Qt::FindDirectChildrenOnly);
    for (QAbstractSocket* transport : transports) {
        if (auto* state = dynamic_cast<TransportState*>(transport))
            state->acceptor = nullptr;
    }
}

bool ServerAcceptor::start(const QHostAddress& address, quint16 port)
{
    setListenBacklogSize(listenBacklog);
    if (!listen(address, port))
        return false;
    // QTcpServer would accept with no word of the peer; from here on the
    // listening socket is read here alone.
    pauseAccepting();
    m_ready = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_ready, &QSocketNotifier::activated, this, &ServerAcceptor::acceptPending);
    return true;
}

void ServerAcceptor::acceptPending()
{
    for (int i = 0; i < kAcceptBatch && m_ready->isEnabled(); ++i) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int descriptor = accept4(int(socketDescriptor()), reinterpret_cast<sockaddr*>(&peer),
                                       &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                onAcceptError(errno);
            return;
        }
        const QHostAddress address(reinterpret_cast<const sockaddr*>(&peer));
        const quint16 port = ntohs(peer.ss_family == AF_INET6
                                       ? reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port
                                       : reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
        take(descriptor, address, port);
    }
}

int ServerAcceptor::defaultClientLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return maxClientLimit;
    const rlim_t usable =
        limit.rlim_cur > rlim_t(descriptorReserve) ? limit.rlim_cur - descriptorReserve : 1;
    return int(std::min<rlim_t>(usable, maxClientLimit));
}

void ServerAcceptor::setTls(const QSslConfiguration& configuration)
{
    m_tls = configuration;
    m_useTls = true;
}

void ServerAcceptor::take(int descriptor, const QHostAddress& address, quint16 port)
{
    if (m_errorReported) {
        m_errorReported = false;
        emit happened(ConnectionEvent(Code::AcceptResumed));
    }
    const bool overLimit = m_held >= m_clientLimit;
    if (overLimit && m_refusing >= refusalSlots) {
        // Only reached if accepting was not paused in time.
        ::close(descriptor);
        return;
    }

    QAbstractSocket* transport = nullptr;
    TransportState* state = nullptr;
    if (m_useTls) {
        auto* tls = new Transport<QSslSocket>(this);
        transport = tls;
        state = tls;
    } else {
        auto* plain = new Transport<QTcpSocket>(this);
        transport = plain;
        state = plain;
    }
    state->refused = overLimit;
    if (overLimit)
        ++m_refusing;
    else
        ++m_held;
    state->peer = ServerSession::clientTextOf(address, port);
    if (!transport->setSocketDescriptor(descriptor)) {
        ::close(descriptor);
        delete transport;
        return;
    }
    connect(transport, &QAbstractSocket::disconnected, transport, &QObject::deleteLater);

    if (overLimit) {
        if (!m_burst->isActive()) {
            emit happened(
                ConnectionEvent(Code::ClientLimitReached, QString(), QString(), m_clientLimit));
        }
        m_burst->start();
        updateAccepting();
    }

    QTimer::singleShot(m_handshakeTimeoutMs, transport, [this, transport, state] {
        if (state->claimed)
            return;
        if (!state->refused) {
            emit happened(ConnectionEvent(Code::ClientHandshakeTimeout, state->peer, QString(),
                                          m_handshakeTimeoutMs));
        }
        transport->abort();
    });

    if (!m_useTls) {
        handOver(transport);
        return;
    }
    auto* tls = static_cast<QSslSocket*>(transport);
    tls->setSslConfiguration(m_tls);
    connect(tls, &QSslSocket::encrypted, tls, [this, tls] { handOver(tls); });
    connect(tls, &QAbstractSocket::errorOccurred, tls,
            [this, tls, state](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::SslHandshakeFailedError && !state->refused) {
                    ConnectionEvent failed(Code::ClientTlsFailed, state->peer, tls->errorString());
                    failed.socketError = int(error);
                    emit happened(failed);
                }
            });
    tls->startServerEncryption();
}

void ServerAcceptor::handOver(QAbstractSocket* transport)
{
    // The upgrader finds which socket spoke by a search among all those it
    // waits on: it gets a socket only once its request is coming in.
    if (transport->bytesAvailable() == 0) {
        connect(
            transport, &QIODevice::readyRead, transport, [this, transport] { handOver(transport); },
            Qt::SingleShotConnection);
        return;
    }
    auto* state = dynamic_cast<TransportState*>(transport);
    if (state) {
        state->handed = true;
        m_upgrading.insert(state->peer, transport);
    }
    m_upgrader->handleConnection(static_cast<QTcpSocket*>(transport));
}

ServerAcceptor::Arrival ServerAcceptor::takeArrival(QWebSocket* socket)
{
    Arrival arrival;
    // Its peer is its transport's, and no two transports share one while
    // they are connected.
    arrival.peer = ServerSession::clientTextOf(socket->peerAddress(), socket->peerPort());
    QAbstractSocket* transport = socket->peerPort() != 0 ? m_upgrading.take(arrival.peer) : nullptr;
    auto* state = dynamic_cast<TransportState*>(transport);
    if (!state)
        return arrival;
    state->claimed = true;
    arrival.peer = state->peer;
    arrival.transport = transport;
    arrival.overLimit = state->refused;
    return arrival;
}

void ServerAcceptor::onAcceptError(int error)
{
    // The pending connection stays queued: without a pause its readiness
    // would wake the loop again at once.
    m_errorPaused = true;
    updateAccepting();
    if (!m_errorReported) {
        m_errorReported = true;
        emit happened(ConnectionEvent(Code::AcceptFailed, QString(),
                                      QString::fromLocal8Bit(strerror(error)), kBackOffMs / 1000));
    }
    m_backOff->start();
}

void ServerAcceptor::released(QAbstractSocket* transport, const TransportState& state)
{
    const auto upgrading = m_upgrading.constFind(state.peer);
    if (upgrading != m_upgrading.constEnd() && *upgrading == transport)
        m_upgrading.erase(upgrading);
    if (state.refused)
        --m_refusing;
    else
        --m_held;
    // A descriptor is free again.
    m_errorPaused = false;
    updateAccepting();
}

void ServerAcceptor::updateAccepting()
{
    if (m_ready)
        m_ready->setEnabled(!m_errorPaused && m_refusing < refusalSlots);
}

#pragma once

#include "websocket/ConnectionEvent.h"

#include <QHash>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>

class QAbstractSocket;
class QSocketNotifier;
class QTimer;
class QWebSocket;
class QWebSocketServer;
struct TransportState;

// Server mode's TCP side. QTcpServer binds and listens; the acceptor accepts
// itself, so that each connection is known from its first moment (the peer
// that accept() names even when it has reset already, the transport, its
// deadline), runs TLS when set, and hands it to a QWebSocketServer for the
// upgrade. Keeps the descriptors it holds below a limit and pauses instead of
// spinning when accepting fails.
class ServerAcceptor : public QTcpServer
{
    Q_OBJECT

public:
    // Descriptors the program keeps for itself (files, its own sockets, the
    // toolkit's pipes) below the soft limit.
    static constexpr int descriptorReserve = 64;
    static constexpr int maxClientLimit = 10000;
    // Refused clients in flight at once; beyond that, accepting waits.
    static constexpr int refusalSlots = 16;
    // Connections the kernel queues before they are accepted: a burst of
    // clients beyond Qt's default of 50 would have its handshakes dropped
    // and retried seconds later. The kernel caps it at net.core.somaxconn.
    static constexpr int listenBacklog = 4096;

    // What was known of a connection before its upgrade.
    struct Arrival
    {
        QString peer;
        QAbstractSocket* transport = nullptr;
        // Came while the server was full: to be refused.
        bool overLimit = false;
    };

    ServerAcceptor(QWebSocketServer* upgrader, QObject* parent = nullptr);
    ~ServerAcceptor() override;

    // QTcpServer::listen, then accepting here.
    bool start(const QHostAddress& address, quint16 port);

    // Connections then run TLS before their upgrade.
    void setTls(const QSslConfiguration& configuration);
    void setHandshakeTimeout(int ms) { m_handshakeTimeoutMs = ms; }

    // The soft descriptor limit less the reserve, at most maxClientLimit.
    static int defaultClientLimit();

    // For the socket the upgrader has just announced, found by its peer's
    // address and port; an arrival without transport when it has none (gone
    // before it was announced).
    Arrival takeArrival(QWebSocket* socket);

signals:
    void happened(const ConnectionEvent& event);

private:
    friend struct TransportState;

    void acceptPending();
    void take(int descriptor, const QHostAddress& address, quint16 port);
    void handOver(QAbstractSocket* transport);
    void onAcceptError(int error);
    void released(QAbstractSocket* transport, const TransportState& state);
    void updateAccepting();

    QWebSocketServer* m_upgrader;
    QSslConfiguration m_tls;
    bool m_useTls = false;
    int m_handshakeTimeoutMs = 10000;
    int m_clientLimit = defaultClientLimit();
    int m_held = 0;
    int m_refusing = 0;
    QSocketNotifier* m_ready = nullptr;
    bool m_errorPaused = false;
    bool m_errorReported = false;
    // Set while the refusals of one burst come in: they share one event.
    QTimer* m_burst;
    QTimer* m_backOff;
    // Transports given to the upgrader and not yet taken back, by peer.
    QHash<QString, QAbstractSocket*> m_upgrading;
};

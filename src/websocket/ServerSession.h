#pragma once

#include "websocket/ConnectionEvent.h"
#include "websocket/ServerOptions.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QHostAddress;
class QWebSocket;
class QWebSocketServer;
class ReadBufferPool;
class ServerAcceptor;
class WriteCap;

// Server mode: the listening server and the clients it accepted, each known
// by an id that stays its own for as long as it is connected.
class ServerSession : public QObject
{
    Q_OBJECT

public:
    using ClientId = quint64;

    explicit ServerSession(QObject* parent = nullptr);
    ~ServerSession() override;

    bool isListening() const { return m_acceptor != nullptr; }
    // Reports Listening or why it failed; false when it failed. With options
    // other than the defaults, ServerOptionsInUse names them.
    bool listen(quint16 port, const QString& shownPath,
                const ServerOptions& options = ServerOptions());

    // Closes every client with 1000 and stops listening, without waiting for
    // the clients' closing handshakes.
    void close();
    void closeClient(ClientId id);

    // In order of arrival.
    QList<ClientId> clientIds() const { return m_order; }
    int clientCount() const { return int(m_order.size()); }
    bool hasClient(ClientId id) const { return m_clients.contains(id); }
    QString clientText(ClientId id) const { return m_clients.value(id).text; }
    QWebSocket* clientSocket(ClientId id) const { return m_clients.value(id).socket; }

    // Payload bytes handed to the client's socket; 0 when it is gone or has
    // stopped reading (see WriteCap).
    qint64 sendText(ClientId id, const QString& text);
    qint64 sendBinary(ClientId id, const QByteArray& data);

    // What the clients' read buffers may grow by together (at least one
    // largest frame); FrameLimits::serverReadGrowthTotal unless set.
    void setReadGrowthTotal(qint64 bytes);
    qint64 readGrowthAvailable() const;

    // "address:port" as the list and the log show it; an IPv4 address mapped
    // into IPv6 shows as IPv4.
    static QString clientTextOf(const QHostAddress& address, quint16 port);
    // Why a listen with these certificate and key files would fail, as the
    // listen itself would tell it; nothing for plain ws or usable files.
    static std::optional<ConnectionEvent> tlsProblem(const ServerOptions& options);

signals:
    void clientJoined(ServerSession::ClientId id, const QString& text);
    void clientLeft(ServerSession::ClientId id, const QString& text);
    void happened(const ConnectionEvent& event);
    void textReceived(const QString& text, const QString& peer);
    void binaryReceived(const QByteArray& data, const QString& peer);
    // The same frames with the client's id.
    void textReceivedFrom(ServerSession::ClientId id, const QString& text, const QString& peer);
    void binaryReceivedFrom(ServerSession::ClientId id, const QByteArray& data,
                            const QString& peer);

private slots:
    void onNewConnection();

private:
    // Closes an upgraded socket that is not taken as a client.
    void refuse(QWebSocket* socket, int code, const QString& reason);
    void dropClient(QWebSocket* socket);

    struct Client
    {
        QString text;
        QWebSocket* socket = nullptr;
        WriteCap* writeCap = nullptr;
    };

    QWebSocketServer* m_upgrader = nullptr;
    ServerAcceptor* m_acceptor = nullptr;
    ReadBufferPool* m_readPool;
    // Only this path is served, when set.
    QString m_onlyPath;
    QHash<ClientId, Client> m_clients;
    // A client's id by its socket, while it is a client.
    QHash<const QWebSocket*, ClientId> m_ids;
    QList<ClientId> m_order;
    ClientId m_nextId = 1;
};

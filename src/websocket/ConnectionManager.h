#pragma once

#include "comm/LogEntry.h"
#include "protocol/WireProtocol.h"
#include "websocket/ClientOptions.h"
#include "websocket/ConnectionEvent.h"
#include "websocket/ServerOptions.h"
#include "websocket/ServerSession.h"

#include <QObject>
#include <QString>

#include <optional>

class ClientSession;
class QWebSocket;

// The one connection or server that runs at a time, whatever the window's
// mode radio shows: its state, what a send actually reached, and everything
// that arrives. What the log tells comes out as events, in the order things
// happened (EventFormatter gives their texts).
class ConnectionManager : public QObject
{
    Q_OBJECT

public:
    enum State
    {
        Idle,
        Connecting,
        Connected,
        Listening,
        // Waiting to retry a client connection that dropped, or retrying it.
        Reconnecting
    };
    Q_ENUM(State)

    using ClientId = ServerSession::ClientId;
    // A send's target: one client of the server, or every client (also the
    // one server of client mode).
    static constexpr ClientId everyClient = 0;

    enum class SendStatus
    {
        Sent,
        NotConnected, // nothing runs
        NoClients,    // the server has no client (or the chosen one left)
        NotText,      // bytes for a text frame that are not UTF-8
        Failed,       // the socket took nothing
        Refused,      // the protocol would not frame it: `problem` says why
    };

    struct SendResult
    {
        SendStatus status = SendStatus::NotConnected;
        int frames = 0;
        // Who got it: the server in client mode, one client, or "全部 (N)".
        QString recipients;
        QString problem;
        // What the log shows as sent when the protocol framed the message
        // (an event: one or more frames); empty for a plain frame.
        QList<std::pair<QByteArray, LogEntry::FrameKind>> shown;
    };

    explicit ConnectionManager(QObject* parent = nullptr);
    ~ConnectionManager() override;

    // Read from the sessions: the server listening, else where the client is.
    State state() const;

    // Take effect with the next connection or listen.
    void setClientOptions(const ClientOptions& options);
    const ClientOptions& clientOptions() const { return m_clientOptions; }
    void setServerOptions(const ServerOptions& options);
    const ServerOptions& serverOptions() const { return m_serverOptions; }
    // Connected as a client or listening as a server.
    bool isActive() const { return state() == Connected || state() == Listening; }

    // Checks the address first: a mistyped one gets an Address… event
    // saying what is wrong and no attempt. Returns whether an attempt started.
    bool connectTo(const QString& address);
    bool listen(quint16 port, const QString& shownPath);
    // Closes whatever runs (a pending attempt too); reports Closed.
    void closeAll();
    // Drops a client attempt still pending, without a word.
    void abortPendingClient();

    // Client mode's options, attempts and pings.
    // Drops the pending attempt or the wait for a retry; reports AttemptCancelled.
    void cancelAttempt();
    // Stops the retries after a drop; reports `why`.
    void stopReconnecting(ConnectionEvent::Code why);
    // The retry under way or due; 0 outside a reconnect cycle.
    int reconnectAttempt() const;
    // Retry waits; see ClientSession::setRetryDelays.
    void setReconnectDelays(int firstMs, int maxMs, int stableMs = 10000);
    // One ping whose round trip is logged; false when no client connection is open.
    bool ping();

    QList<ClientId> clientIds() const;
    QString clientText(ClientId id) const;
    void closeClient(ClientId id);
    // The sockets, for inspection; null when there is none.
    QWebSocket* clientModeSocket() const;
    QWebSocket* serverClientSocket(ClientId id) const;

    // A text frame carries `data` as UTF-8 (refused when it is not UTF-8); a
    // binary frame carries it unchanged.
    SendResult send(const QByteArray& data, LogEntry::FrameKind kind,
                    ClientId target = everyClient);
    // A text frame of this text, on the wire as its UTF-8.
    SendResult sendText(const QString& text, ClientId target = everyClient);
    // Whether client mode's open connection speaks a protocol of its own
    // (Socket.IO): sends then go as messages of it.
    bool speaksProtocol() const;
    SendResult sendMessage(const OutgoingMessage& message);
    // Who answers a server's request for an acknowledgement.
    void setAnswerSource(const WireProtocol::AnswerSource& answers);
    // addressProblem() for the address as the client options will use it.
    QString clientAddressProblem(const QString& address) const;

    // What is wrong with an address that cannot be tried, or nothing.
    static std::optional<ConnectionEvent> addressFault(const QString& address);
    // Its text, or empty when the address can be tried.
    static QString addressProblem(const QString& address);

signals:
    void stateChanged(ConnectionManager::State state);
    void happened(const ConnectionEvent& event);
    void clientOptionsChanged();
    // Another retry is due; the state stays Reconnecting.
    void reconnectScheduled(int attempt);
    void clientJoined(ConnectionManager::ClientId id, const QString& text);
    void clientLeft(ConnectionManager::ClientId id, const QString& text);
    void textReceived(const QString& text, const QString& peer);
    void binaryReceived(const QByteArray& data, const QString& peer);
    // The same frames with the sender's id (everyClient: the server of client
    // mode), for whatever answers them.
    void textReceivedFrom(ConnectionManager::ClientId id, const QString& text, const QString& peer);
    void binaryReceivedFrom(ConnectionManager::ClientId id, const QByteArray& data,
                            const QString& peer);
    // Client mode's connection is open (each time a retry opens it too).
    void connectionOpened(const QString& peer);
    // A frame the client's protocol sent by itself, for the log.
    void protocolSent(const QByteArray& data, LogEntry::FrameKind kind, const QString& peer);
    // The client or server options were set to something else.
    void optionsChanged();

private:
    // Signals stateChanged when the state is no longer the one last signalled.
    void refreshState();
    SendResult sendFrame(const QString* text, const QByteArray* data, ClientId target);

    ClientSession* m_client = nullptr;
    ServerSession* m_server = nullptr;
    State m_signalled = Idle;
    ClientOptions m_clientOptions;
    ServerOptions m_serverOptions;
};

#pragma once

#include "protocol/WireProtocol.h"
#include "websocket/ClientOptions.h"
#include "websocket/ConnectionEvent.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <memory>
#include <optional>

class QSslError;
class WriteCap;

// Client mode's one connection: opening it with the user's options, its
// frames, pings, and how it ends, including the retries after a drop the user
// did not ask for. Every event the user should read in the log comes out as
// an event; addresses and Qt's texts in events have their secrets masked.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // Where the session is; with retryNumber() all there is of its state.
    enum class Phase
    {
        Idle,
        Attempting, // the first attempt or a retry, until it opens or fails
        Open,       // until the connection ends
        Waiting,    // for a retry's turn
    };

    explicit ClientSession(QObject* parent = nullptr);
    ~ClientSession() override;

    Phase phase() const { return m_phase; }
    // An attempt under way, or a retry waiting for its turn.
    bool isPending() const { return m_phase == Phase::Attempting || m_phase == Phase::Waiting; }
    bool isOpen() const;
    // 0 outside a reconnect cycle; else the number of the retry under way or due.
    int retryNumber() const { return m_retry; }
    QWebSocket* socket() const { return m_socket; }
    // The server as entries name it: the address without credentials or query.
    QString peer() const { return m_peer; }

    // Drops an attempt or connection still there, silently, and starts a new
    // one to the address as typed. The options must have no problems.
    void open(const QString& address, const ClientOptions& options = ClientOptions());
    // Closes with 1000 and lets the socket go; what it reports later is not news.
    // Stops retrying.
    void close();
    // Drops the socket at once without a word, and stops retrying.
    void abort();
    // One ping whose pong is logged with its round trip; false when not open.
    bool ping();

    // Bytes of payload handed to the socket; 0 when it is not open or the
    // server has stopped reading (see WriteCap).
    qint64 sendText(const QString& text);
    qint64 sendBinary(const QByteArray& data);
    // A message through the connection's protocol (an event for Socket.IO):
    // the frames the log shows for it, or why it did not go.
    QList<WireFrame> sendMessage(const OutgoingMessage& message, QString* problem);
    // Whether the open connection speaks plain WebSocket (or nothing is open).
    bool speaksPlain() const { return !m_protocol || m_protocol->isPlain() || !isOpen(); }
    // Answers a peer's request for an acknowledgement; empty ones without it.
    void setAnswerSource(const WireProtocol::AnswerSource& answers) { m_answers = answers; }

    // Retries wait `firstMs`, doubling up to `maxMs` (1 s and 30 s unless
    // set); the wait starts from `firstMs` again only after a connection that
    // stayed up for `stableMs`.
    void setRetryDelays(int firstMs, int maxMs, int stableMs = 10000);

    static QString peerOf(const QUrl& url);

signals:
    // A socket is opening (the first attempt or a retry).
    void attemptStarted();
    void connected();
    void retryScheduled(int number);
    // Nothing runs any more and nothing will be retried, without the user
    // asking (server close, lost connection, failed attempt); its events first.
    void disconnected();
    void happened(const ConnectionEvent& event);
    void textReceived(const QString& text, const QString& peer);
    void binaryReceived(const QByteArray& data, const QString& peer);
    // A frame the protocol sent by itself (a namespace connect, an
    // acknowledgement, a disconnect), as the log shows it.
    void protocolSent(const QByteArray& data, bool binary, const QString& peer);

private:
    void onFrame(const WireFrame& frame);
    // Writes, reports and delivers what the protocol asks, then waits for
    // its next deadline.
    void apply(const ProtocolStep& step);
    void onProtocolDue();
    bool write(const WireFrame& frame);
    void startAttempt();
    // Nothing when the proxy the user relies on cannot be used.
    std::optional<QNetworkProxy> proxyForAttempt();
    void onConnected();
    void onDisconnected(QWebSocket* socket);
    void onError(QWebSocket* socket);
    void onSslErrors(QWebSocket* socket, const QList<QSslError>& errors);
    void onPong(const QByteArray& payload);
    void onHandshakeTimeout();
    void onHeartbeat();
    // The attempt on `socket` did not make it (refused, failed handshake).
    void endFailedAttempt(QWebSocket* socket);
    // An open connection went: whether it stayed up long enough to count as
    // recovered decides where the retry cycle continues.
    void dropped();
    // Retry when the user wants it and the drop was not asked for; else done.
    void ended(bool retry);
    // Emits with secrets masked in the peer and the detail.
    void report(ConnectionEvent event);
    void report(ConnectionEvent::Code code, const QString& detail = QString(), qint64 number = 0);
    QWebSocket* release(bool keepErrorReport = false);
    void stopTimers();

    Phase m_phase = Phase::Idle;
    QPointer<QWebSocket> m_socket;
    bool m_socketOpen = false;
    // The open socket's; goes with it.
    WriteCap* m_writeCap = nullptr;
    QString m_address;
    QUrl m_url;
    QString m_peer;
    ClientOptions m_options;

    QTimer m_handshakeTimer;
    QTimer m_heartbeatTimer;
    QTimer m_retryTimer;
    QTimer m_giveUpTimer;
    // The current attempt's protocol; a new one for every attempt.
    std::unique_ptr<WireProtocol> m_protocol;
    WireProtocol::AnswerSource m_answers;
    QTimer m_protocolTimer;
    QElapsedTimer m_clock;
    QElapsedTimer m_openFor;
    int m_retry = 0;
    int m_retriesBeforeOpen = 0;
    int m_stableMs = 10000;
    // Set when this attempt or connection ended in a way a retry cannot mend.
    std::optional<ConnectionEvent> m_finalReason;
    int m_firstDelayMs = 1000;
    int m_maxDelayMs = 30000;
    int m_nextDelayMs = 1000;
    bool m_heartbeatUnanswered = false;
    quint64 m_pingSerial = 0;
    QHash<QByteArray, QElapsedTimer> m_pings;

    // What is known of a socket, the current one or one released that still
    // reports; dropped with the socket.
    struct SocketFlags
    {
        bool reportErrors = false;
        // The closing handshake began: a drop without it was not a close.
        bool closing = false;
        // A certificate was refused: the failed handshake that follows is the
        // same event, already in the log.
        bool certificateRefused = false;
    };
    SocketFlags& flags(QWebSocket* socket);
    QHash<const QWebSocket*, SocketFlags> m_flags;
};

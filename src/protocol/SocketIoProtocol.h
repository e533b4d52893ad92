#pragma once

#include "protocol/SocketIoPacket.h"
#include "protocol/WireProtocol.h"

#include <QHash>

// A Socket.IO client over one WebSocket: the Engine.IO handshake and
// heartbeat (Engine.IO 4: the server pings; 3: the client does), the
// namespace connect, events and acknowledgements both ways, and binary
// attachments assembled into the event that announced them.
class SocketIoProtocol : public WireProtocol
{
public:
    SocketIoProtocol(const ProtocolOptions& options, AnswerSource answers);

    // "http(s)://" as "ws(s)://"; other addresses as they are.
    static QString webSocketAddress(const QString& typed);
    // The answer given when no auto-reply rule has one: an empty acknowledgement.
    static QByteArray emptyAnswer(const QString& name, const QJsonArray& args);

    QUrl url(const QUrl& typed) const override;
    ProtocolStep opened(qint64 nowMs) override;
    ProtocolStep received(const WireFrame& frame, qint64 nowMs) override;
    ProtocolStep send(const OutgoingMessage& message, qint64 nowMs) override;
    qint64 deadline() const override;
    ProtocolStep due(qint64 nowMs) override;
    QList<WireFrame> closing() override;

    bool namespaceConnected() const { return m_connected; }

private:
    void onOpen(const SocketIoPacket& packet, qint64 nowMs, ProtocolStep& step);
    void onMessage(SocketIoPacket packet, const WireFrame& frame, qint64 nowMs, ProtocolStep& step);
    // An event or ack complete with its attachments.
    void onComplete(const SocketIoPacket& packet, const WireFrame& shown, qint64 nowMs,
                    ProtocolStep& step);
    WireFrame binaryFrame(const QByteArray& bytes) const;
    // What arrived of an assembly that cannot finish, as it came.
    void flushPending(ProtocolStep& step);

    ProtocolOptions m_options;
    AnswerSource m_answers;
    QString m_engineSid;
    bool m_connected = false;
    qint64 m_pingInterval = 25000;
    qint64 m_pingTimeout = 20000;
    // Engine.IO 4: the next ping is due by then. Engine.IO 3: the client's
    // next ping is due then, or (m_awaitingPong) its pong by then.
    qint64 m_deadline = -1;
    bool m_awaitingPong = false;
    qint64 m_nextAckId = 0;
    // Ack id -> when the event that asked for it left.
    QHash<qint64, qint64> m_acksAsked;
    // An event or ack waiting for its binary frames.
    std::optional<SocketIoPacket> m_pending;
    WireFrame m_pendingFrame;
    QList<QByteArray> m_attachments;
    qint64 m_pingSentAt = 0;
    bool m_unreadableReported = false;
};

#pragma once

#include "protocol/ProtocolOptions.h"
#include "websocket/ConnectionEvent.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// One WebSocket frame: a text frame's text, or a binary frame's bytes.
struct WireFrame
{
    QString text;
    QByteArray bytes;
    bool binary = false;

    static WireFrame ofText(const QString& text) { return WireFrame{text, {}, false}; }
    static WireFrame ofBytes(const QByteArray& bytes) { return WireFrame{{}, bytes, true}; }
};

// What the user sends: a payload and, for protocols with named messages, the
// name and whether an answer is asked for.
struct OutgoingMessage
{
    QByteArray payload;
    bool binary = false;
    QString name;
    bool wantAnswer = false;
};

// What one input to a protocol leads to, in this order: frames to write,
// frames to show in the log as sent and as received, events, and whether the
// connection ends.
struct ProtocolStep
{
    QList<WireFrame> writes;
    QList<WireFrame> shownSent;
    QList<WireFrame> received;
    QList<ConnectionEvent> events;
    enum class End
    {
        None,
        Drop,  // lost: aborted, retried when the user wants that
        Finish // over for good: closed, not retried
    };
    End end = End::None;
    // Why a user's message could not go.
    QString problem;
};

// What a client connection speaks over its WebSocket, between the session and
// the wire: bytes in, actions out, time given as milliseconds on a monotonic
// clock and asked back as a deadline. The plain protocol passes every frame
// through, as a WebSocket tool always did.
class WireProtocol
{
public:
    // The answer to a peer's request for an acknowledgement (Socket.IO):
    // the JSON array of its arguments.
    using AnswerSource = std::function<QByteArray(const QString& name, const QJsonArray& args)>;

    virtual ~WireProtocol() = default;

    // A fresh state for one connection attempt.
    static std::unique_ptr<WireProtocol> create(const ProtocolOptions& options,
                                                const AnswerSource& answers = {});

    virtual bool isPlain() const { return false; }
    // The URL to open for the address as typed.
    virtual QUrl url(const QUrl& typed) const { return typed; }
    virtual ProtocolStep opened(qint64 /*nowMs*/) { return {}; }
    virtual ProtocolStep received(const WireFrame& frame, qint64 nowMs) = 0;
    virtual ProtocolStep send(const OutgoingMessage& message, qint64 nowMs) = 0;
    // -1: nothing is due.
    virtual qint64 deadline() const { return -1; }
    virtual ProtocolStep due(qint64 /*nowMs*/) { return {}; }
    // Frames that go before the closing handshake the user asked for.
    virtual QList<WireFrame> closing() { return {}; }
};

class PlainWebSocket : public WireProtocol
{
public:
    bool isPlain() const override { return true; }
    ProtocolStep received(const WireFrame& frame, qint64) override;
    ProtocolStep send(const OutgoingMessage& message, qint64) override;
};

#include "protocol/SocketIoProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace {

using Code = ConnectionEvent::Code;
using Engine = SocketIoPacket::Engine;
using Type = SocketIoPacket::Type;

// Acks asked for and never answered must not pile up.
constexpr int kMaxAcksAsked = 1024;

QByteArray compact(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// The refusal's text: {"message": …} (Socket.IO 3+) or a bare string (2).
QString refusalMessage(const QByteArray& data)
{
    const std::optional<QJsonValue> value = SocketIoPacket::json(data);
    if (value && value->isString())
        return value->toString();
    if (value && value->isObject() && value->toObject().value(QLatin1String("message")).isString())
        return value->toObject().value(QLatin1String("message")).toString();
    return QString::fromUtf8(data);
}

} // namespace

SocketIoProtocol::SocketIoProtocol(const ProtocolOptions& options, AnswerSource answers)
    : m_options(options)
    , m_answers(answers ? std::move(answers) : AnswerSource(&SocketIoProtocol::emptyAnswer))
{
    if (m_options.nsp.isEmpty())
        m_options.nsp = QStringLiteral("/");
}

QString SocketIoProtocol::webSocketAddress(const QString& typed)
{
    if (typed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        return QStringLiteral("ws://") + typed.mid(7);
    if (typed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QStringLiteral("wss://") + typed.mid(8);
    return typed;
}

QByteArray SocketIoProtocol::emptyAnswer(const QString&, const QJsonArray&)
{
    return QByteArrayLiteral("[]");
}

QUrl SocketIoProtocol::url(const QUrl& typed) const
{
    QUrl url(webSocketAddress(typed.toString()));
    QUrlQuery query(url);
    // An address that names its Engine.IO version is taken as it is.
    if (query.hasQueryItem(QStringLiteral("EIO")))
        return url;
    if (url.path().isEmpty() || url.path() == QLatin1String("/"))
        url.setPath(m_options.path);
    query.addQueryItem(QStringLiteral("EIO"),
                       m_options.engineIo3 ? QStringLiteral("3") : QStringLiteral("4"));
    query.addQueryItem(QStringLiteral("transport"), QStringLiteral("websocket"));
    url.setQuery(query);
    return url;
}

ProtocolStep SocketIoProtocol::opened(qint64)
{
    // The server speaks first, with its handshake.
    return {};
}

WireFrame SocketIoProtocol::binaryFrame(const QByteArray& bytes) const
{
    // Engine.IO 3 marks a binary message with its packet type as a byte.
    return WireFrame::ofBytes(m_options.engineIo3 ? QByteArray(1, '\x04') + bytes : bytes);
}

void SocketIoProtocol::flushPending(ProtocolStep& step)
{
    if (!m_pending)
        return;
    step.received.append(m_pendingFrame);
    for (const QByteArray& bytes : std::as_const(m_attachments))
        step.received.append(WireFrame::ofBytes(bytes));
    m_pending.reset();
    m_attachments.clear();
}

ProtocolStep SocketIoProtocol::received(const WireFrame& frame, qint64 nowMs)
{
    ProtocolStep step;
    if (frame.binary) {
        if (!m_pending) {
            step.received.append(frame);
            return step;
        }
        QByteArray bytes = frame.bytes;
        if (m_options.engineIo3 && bytes.startsWith('\x04'))
            bytes.remove(0, 1);
        m_attachments.append(bytes);
        if (m_attachments.size() < m_pending->attachments)
            return step;
        SocketIoPacket packet = *std::exchange(m_pending, std::nullopt);
        const QList<QByteArray> attachments = std::exchange(m_attachments, {});
        if (!packet.fillAttachments(attachments)) {
            // Placeholders the bytes do not match: everything as it came.
            m_pending = packet;
            m_attachments = attachments;
            flushPending(step);
            return step;
        }
        onComplete(packet, WireFrame::ofText(QString::fromUtf8(packet.encode())), nowMs, step);
        return step;
    }
    // A text frame ends an assembly still waiting: the sender gave up on it.
    flushPending(step);
    const std::optional<SocketIoPacket> packet = SocketIoPacket::parse(frame.text.toUtf8());
    if (!packet) {
        step.received.append(frame);
        if (!std::exchange(m_unreadableReported, true))
            step.events.append(
                ConnectionEvent(Code::SocketIoUnreadable, QString(), frame.text.left(40)));
        return step;
    }
    switch (packet->engine) {
    case Engine::Open:
        step.received.append(frame);
        onOpen(*packet, nowMs, step);
        break;
    case Engine::Ping:
        // Heartbeats stay out of the log, as the WebSocket heartbeat does.
        step.writes.append(WireFrame::ofText(QLatin1Char('3') + frame.text.mid(1)));
        if (!m_options.engineIo3)
            m_deadline = nowMs + m_pingInterval + m_pingTimeout;
        break;
    case Engine::Pong:
        if (m_options.engineIo3 && m_awaitingPong) {
            m_awaitingPong = false;
            m_deadline = m_pingSentAt + m_pingInterval;
        }
        break;
    case Engine::Close:
        step.received.append(frame);
        step.end = ProtocolStep::End::Drop;
        break;
    case Engine::Message:
        onMessage(*packet, frame, nowMs, step);
        break;
    case Engine::Upgrade:
    case Engine::Noop:
        step.received.append(frame);
        break;
    }
    return step;
}

void SocketIoProtocol::onOpen(const SocketIoPacket& packet, qint64 nowMs, ProtocolStep& step)
{
    const QJsonObject open = SocketIoPacket::json(packet.enginePayload)->toObject();
    m_engineSid = open.value(QLatin1String("sid")).toString();
    if (open.value(QLatin1String("pingInterval")).toDouble() > 0)
        m_pingInterval = qint64(open.value(QLatin1String("pingInterval")).toDouble());
    if (open.value(QLatin1String("pingTimeout")).toDouble() > 0)
        m_pingTimeout = qint64(open.value(QLatin1String("pingTimeout")).toDouble());
    m_deadline = nowMs + m_pingInterval + (m_options.engineIo3 ? 0 : m_pingTimeout);
    m_awaitingPong = false;

    SocketIoPacket connect;
    connect.type = Type::Connect;
    connect.nsp = m_options.nsp;
    if (m_options.engineIo3) {
        // Socket.IO 2 joins "/" by itself, and knows no auth.
        if (connect.nsp == QLatin1String("/"))
            return;
    } else if (!m_options.auth.trimmed().isEmpty()) {
        connect.data =
            QJsonDocument::fromJson(m_options.auth.toUtf8()).toJson(QJsonDocument::Compact);
    }
    const WireFrame frame = WireFrame::ofText(QString::fromUtf8(connect.encode()));
    step.writes.append(frame);
    step.shownSent.append(frame);
}

void SocketIoProtocol::onMessage(SocketIoPacket packet, const WireFrame& frame, qint64 nowMs,
                                 ProtocolStep& step)
{
    const bool ours = packet.nsp == m_options.nsp;
    switch (packet.type) {
    case Type::Connect:
        step.received.append(frame);
        if (ours && !m_connected) {
            m_connected = true;
            const QString sid = SocketIoPacket::json(packet.data)
                                    .value_or(QJsonValue())
                                    .toObject()
                                    .value(QLatin1String("sid"))
                                    .toString();
            step.events.append(ConnectionEvent(Code::SocketIoConnected, packet.nsp,
                                               sid.isEmpty() ? m_engineSid : sid));
        }
        return;
    case Type::ConnectError:
        step.received.append(frame);
        if (ours) {
            step.events.append(
                ConnectionEvent(Code::SocketIoRefused, packet.nsp, refusalMessage(packet.data)));
            // The same connect would be refused again.
            step.end = ProtocolStep::End::Finish;
        }
        return;
    case Type::Disconnect:
        step.received.append(frame);
        if (ours) {
            m_connected = false;
            step.events.append(ConnectionEvent(Code::SocketIoNamespaceClosed, packet.nsp));
            step.end = ProtocolStep::End::Finish;
        }
        return;
    case Type::BinaryEvent:
    case Type::BinaryAck:
        if (packet.attachments > 0) {
            m_pending = packet;
            m_pendingFrame = frame;
            return;
        }
        break;
    case Type::Event:
    case Type::Ack:
        break;
    }
    onComplete(packet, frame, nowMs, step);
}

void SocketIoProtocol::onComplete(const SocketIoPacket& packet, const WireFrame& shown,
                                  qint64 nowMs, ProtocolStep& step)
{
    step.received.append(shown);
    if (packet.isAck()) {
        const auto asked = m_acksAsked.constFind(packet.id);
        if (asked != m_acksAsked.constEnd()) {
            ConnectionEvent ack(Code::SocketIoAck, QString(), QString(), packet.id);
            ack.attempt = int(qMin<qint64>(nowMs - *asked, std::numeric_limits<int>::max()));
            step.events.append(ack);
            m_acksAsked.erase(asked);
        }
        return;
    }
    if (packet.id < 0)
        return;
    // The server waits for an answer to this one.
    const QByteArray answer = m_answers(*packet.eventName(), packet.arguments());
    const std::optional<QJsonValue> value = SocketIoPacket::json(answer);
    SocketIoPacket ack;
    ack.type = Type::Ack;
    ack.nsp = packet.nsp;
    ack.id = packet.id;
    ack.data = value && value->isArray() ? answer.trimmed()
               : value                   ? compact(QJsonArray{*value})
                                         : QByteArrayLiteral("[]");
    const WireFrame frame = WireFrame::ofText(QString::fromUtf8(ack.encode()));
    step.writes.append(frame);
    step.shownSent.append(frame);
}

ProtocolStep SocketIoProtocol::send(const OutgoingMessage& message, qint64 nowMs)
{
    ProtocolStep step;
    if (!m_connected) {
        step.problem = QStringLiteral("未发送：Socket.IO 命名空间尚未连接");
        return step;
    }
    const QString name = message.name.trimmed();
    if (name.isEmpty()) {
        step.problem = QStringLiteral("未发送：请填写事件名称");
        return step;
    }
    QJsonArray data{name};
    if (message.binary) {
        data.append(
            QJsonObject{{QStringLiteral("_placeholder"), true}, {QStringLiteral("num"), 0}});
    } else if (!message.payload.trimmed().isEmpty()) {
        const std::optional<QJsonValue> args = SocketIoPacket::json(message.payload);
        if (!args) {
            step.problem =
                QStringLiteral("未发送：参数不是有效的 JSON（一个值，或多个参数的数组）");
            return step;
        }
        if (args->isArray()) {
            for (const QJsonValue& arg : args->toArray())
                data.append(arg);
        } else {
            data.append(*args);
        }
    }
    SocketIoPacket packet;
    packet.type = message.binary ? Type::BinaryEvent : Type::Event;
    packet.attachments = message.binary ? 1 : 0;
    packet.nsp = m_options.nsp;
    packet.data = compact(data);
    if (message.wantAnswer) {
        if (m_acksAsked.size() >= kMaxAcksAsked)
            m_acksAsked.clear();
        packet.id = m_nextAckId++;
        m_acksAsked.insert(packet.id, nowMs);
    }
    step.writes.append(WireFrame::ofText(QString::fromUtf8(packet.encode())));
    if (!message.binary) {
        step.shownSent.append(step.writes.first());
        return step;
    }
    step.writes.append(binaryFrame(message.payload));
    // One row for the event, its bytes in place.
    packet.fillAttachments({message.payload});
    step.shownSent.append(WireFrame::ofText(QString::fromUtf8(packet.encode())));
    return step;
}

qint64 SocketIoProtocol::deadline() const
{
    return m_deadline;
}

ProtocolStep SocketIoProtocol::due(qint64 nowMs)
{
    ProtocolStep step;
    if (m_deadline < 0 || nowMs < m_deadline)
        return step;
    if (!m_options.engineIo3 || m_awaitingPong) {
        step.events.append(
            ConnectionEvent(Code::SocketIoPingTimeout, QString(), QString(),
                            m_options.engineIo3 ? m_pingTimeout : m_pingInterval + m_pingTimeout));
        step.end = ProtocolStep::End::Drop;
        m_deadline = -1;
        return step;
    }
    step.writes.append(WireFrame::ofText(QStringLiteral("2")));
    m_awaitingPong = true;
    m_pingSentAt = nowMs;
    m_deadline = nowMs + m_pingTimeout;
    return step;
}

QList<WireFrame> SocketIoProtocol::closing()
{
    if (!m_connected)
        return {};
    SocketIoPacket disconnect;
    disconnect.type = Type::Disconnect;
    disconnect.nsp = m_options.nsp;
    m_connected = false;
    return {WireFrame::ofText(QString::fromUtf8(disconnect.encode()))};
}

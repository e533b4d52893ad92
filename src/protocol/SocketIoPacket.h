#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// One Socket.IO packet inside an Engine.IO message, as the text frame carries
// it: "42/admin,7[\"chat\",{...}]" is a message (4) holding an event (2) of
// namespace /admin with ack id 7. Engine.IO packets other than messages keep
// their payload as text.
struct SocketIoPacket
{
    enum class Engine : char
    {
        Open = '0',
        Close = '1',
        Ping = '2',
        Pong = '3',
        Message = '4',
        Upgrade = '5',
        Noop = '6',
    };
    enum class Type : char
    {
        Connect = '0',
        Disconnect = '1',
        Event = '2',
        Ack = '3',
        ConnectError = '4',
        BinaryEvent = '5',
        BinaryAck = '6',
    };

    Engine engine = Engine::Message;
    // Engine.IO packets other than messages: what follows the type.
    QByteArray enginePayload;

    Type type = Type::Event;
    int attachments = 0;
    QString nsp = QStringLiteral("/");
    qint64 id = -1; // no ack asked or answered
    // The JSON after the header as it came; empty when there is none.
    QByteArray data;

    bool isMessage() const { return engine == Engine::Message; }
    bool isEvent() const
    {
        return isMessage() && (type == Type::Event || type == Type::BinaryEvent);
    }
    bool isAck() const { return isMessage() && (type == Type::Ack || type == Type::BinaryAck); }

    // Nothing when the frame is no packet (unknown type, a malformed header or
    // data that is not JSON).
    static std::optional<SocketIoPacket> parse(const QByteArray& frame);
    QByteArray encode() const;

    // The event's name and arguments; nothing when the data is no event array.
    std::optional<QString> eventName() const;
    QJsonArray arguments() const;

    // What chart rules and the analysis read of an event:
    // {"event":"chat","args":[...]}. Empty for other packets.
    QByteArray document() const;
    // Packet type, namespace, event, ack id and arguments indented, one per
    // line, for the detail pane.
    QString describe() const;

    // Placeholders {"_placeholder":true,"num":n} replaced by the attachment's
    // bytes as {"_binary":"01 02"}; false when a number has no attachment.
    bool fillAttachments(const QList<QByteArray>& attachments);
    // Text of the attachment's bytes as it stands in place of a placeholder.
    static QString bytesText(const QByteArray& bytes);

    // Any JSON value (QJsonDocument alone takes only objects and arrays).
    static std::optional<QJsonValue> json(const QByteArray& text);
    // How a namespace goes in the header: nothing for "/".
    static QByteArray nspHeader(const QString& nsp);
};

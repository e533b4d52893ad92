#include "protocol/SocketIoPacket.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

// More attachments than any sender needs: each one waits in memory.
constexpr int kMaxAttachments = 256;
// An ack id fits a JavaScript number's exact range.
constexpr int kMaxIdDigits = 15;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Any JSON value, not only an object or an array as QJsonDocument takes.
std::optional<QJsonValue> jsonValue(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + data + ']', &error);
    if (error.error != QJsonParseError::NoError || !wrapped.isArray() ||
        wrapped.array().size() != 1)
        return std::nullopt;
    return wrapped.array().first();
}

QString indented(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented))
            .trimmed();
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented))
            .trimmed();
    const QByteArray one = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(one.mid(1, one.size() - 2));
}

QJsonValue filled(const QJsonValue& value, const QList<QByteArray>& attachments, bool* ok)
{
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& item : value.toArray())
            out.append(filled(item, attachments, ok));
        return out;
    }
    if (!value.isObject())
        return value;
    const QJsonObject object = value.toObject();
    if (object.value(QLatin1String("_placeholder")).toBool() &&
        object.value(QLatin1String("num")).isDouble()) {
        const double num = object.value(QLatin1String("num")).toDouble();
        if (num >= 0 && num < attachments.size() && num == int(num))
            return QJsonObject{
                {QStringLiteral("_binary"), SocketIoPacket::bytesText(attachments.at(int(num)))}};
        *ok = false;
        return value;
    }
    QJsonObject out;
    for (auto it = object.begin(); it != object.end(); ++it)
        out.insert(it.key(), filled(it.value(), attachments, ok));
    return out;
}

QString typeName(const SocketIoPacket& p)
{
    switch (p.engine) {
    case SocketIoPacket::Engine::Open:
        return QStringLiteral("open (Engine.IO 0)");
    case SocketIoPacket::Engine::Close:
        return QStringLiteral("close (Engine.IO 1)");
    case SocketIoPacket::Engine::Ping:
        return QStringLiteral("ping (Engine.IO 2)");
    case SocketIoPacket::Engine::Pong:
        return QStringLiteral("pong (Engine.IO 3)");
    case SocketIoPacket::Engine::Upgrade:
        return QStringLiteral("upgrade (Engine.IO 5)");
    case SocketIoPacket::Engine::Noop:
        return QStringLiteral("noop (Engine.IO 6)");
    case SocketIoPacket::Engine::Message:
        break;
    }
    static const char* const names[] = {"CONNECT",       "DISCONNECT",   "EVENT",     "ACK",
                                        "CONNECT_ERROR", "BINARY_EVENT", "BINARY_ACK"};
    const int index = int(p.type) - '0';
    return QStringLiteral("%1 (4%2)").arg(QLatin1String(names[index])).arg(index);
}

} // namespace

std::optional<QJsonValue> SocketIoPacket::json(const QByteArray& text)
{
    return jsonValue(text);
}

std::optional<SocketIoPacket> SocketIoPacket::parse(const QByteArray& frame)
{
    if (frame.isEmpty() || frame.at(0) < '0' || frame.at(0) > '6')
        return std::nullopt;
    SocketIoPacket p;
    p.engine = Engine(frame.at(0));
    if (p.engine != Engine::Message) {
        p.enginePayload = frame.mid(1);
        if (p.engine == Engine::Open && !jsonValue(p.enginePayload))
            return std::nullopt;
        return p;
    }
    qsizetype at = 1;
    if (at >= frame.size() || frame.at(at) < '0' || frame.at(at) > '6')
        return std::nullopt;
    p.type = Type(frame.at(at++));
    if (p.type == Type::BinaryEvent || p.type == Type::BinaryAck) {
        const qsizetype dash = frame.indexOf('-', at);
        if (dash <= at || dash - at > 3)
            return std::nullopt;
        bool ok = false;
        p.attachments = frame.mid(at, dash - at).toInt(&ok);
        if (!ok || p.attachments < 0 || p.attachments > kMaxAttachments || !isDigit(frame.at(at)))
            return std::nullopt;
        at = dash + 1;
    }
    if (at < frame.size() && frame.at(at) == '/') {
        qsizetype comma = frame.indexOf(',', at);
        if (comma < 0)
            comma = frame.size();
        p.nsp = QString::fromUtf8(frame.mid(at, comma - at));
        at = qMin(comma + 1, frame.size());
    }
    const qsizetype idStart = at;
    while (at < frame.size() && isDigit(frame.at(at)))
        ++at;
    if (at - idStart > kMaxIdDigits)
        return std::nullopt;
    if (at > idStart)
        p.id = frame.mid(idStart, at - idStart).toLongLong();
    p.data = frame.mid(at);
    if (!p.data.isEmpty() && !jsonValue(p.data))
        return std::nullopt;
    if ((p.isEvent() && !p.eventName()) || (p.isAck() && p.id < 0))
        return std::nullopt;
    return p;
}

QByteArray SocketIoPacket::nspHeader(const QString& nsp)
{
    return nsp.isEmpty() || nsp == QLatin1String("/") ? QByteArray() : nsp.toUtf8() + ',';
}

QByteArray SocketIoPacket::encode() const
{
    if (engine != Engine::Message)
        return char(engine) + enginePayload;
    QByteArray out = QByteArray(1, char(engine)) + char(type);
    if (type == Type::BinaryEvent || type == Type::BinaryAck)
        out += QByteArray::number(attachments) + '-';
    out += nspHeader(nsp);
    if (id >= 0)
        out += QByteArray::number(id);
    return out + data;
}

std::optional<QString> SocketIoPacket::eventName() const
{
    const std::optional<QJsonValue> value = jsonValue(data);
    if (!value || !value->isArray() || value->toArray().isEmpty() ||
        !value->toArray().first().isString())
        return std::nullopt;
    return value->toArray().first().toString();
}

QJsonArray SocketIoPacket::arguments() const
{
    const std::optional<QJsonValue> value = jsonValue(data);
    if (!value || !value->isArray())
        return {};
    QJsonArray args = value->toArray();
    if (isEvent() && !args.isEmpty())
        args.removeFirst();
    return args;
}

QByteArray SocketIoPacket::document() const
{
    const std::optional<QString> name = eventName();
    if (!isEvent() || !name)
        return {};
    return QJsonDocument(
               QJsonObject{{QStringLiteral("event"), *name}, {QStringLiteral("args"), arguments()}})
        .toJson(QJsonDocument::Compact);
}

QString SocketIoPacket::describe() const
{
    QStringList lines{QStringLiteral("类型: ") + typeName(*this)};
    if (!isMessage()) {
        if (const std::optional<QJsonValue> value = jsonValue(enginePayload))
            lines.append(indented(*value));
        else if (!enginePayload.isEmpty())
            lines.append(QString::fromUtf8(enginePayload));
        return lines.join(QLatin1Char('\n'));
    }
    lines.append(QStringLiteral("命名空间: ") + nsp);
    if (const std::optional<QString> name = eventName(); name && isEvent())
        lines.append(QStringLiteral("事件: ") + *name);
    if (id >= 0)
        lines.append(QStringLiteral("确认 ID: ") + QString::number(id));
    if (attachments > 0)
        lines.append(QStringLiteral("二进制附件: ") + QString::number(attachments));
    if (isEvent() || isAck()) {
        const QJsonArray args = arguments();
        lines.append(QStringLiteral("参数 (%1):").arg(args.size()));
        for (const QJsonValue& arg : args)
            lines.append(indented(arg));
    } else if (const std::optional<QJsonValue> value = jsonValue(data); value && !data.isEmpty()) {
        lines.append(QStringLiteral("数据:"));
        lines.append(indented(*value));
    }
    return lines.join(QLatin1Char('\n'));
}

bool SocketIoPacket::fillAttachments(const QList<QByteArray>& attachments)
{
    const std::optional<QJsonValue> value = jsonValue(data);
    if (!value)
        return false;
    bool ok = true;
    const QJsonValue out = filled(*value, attachments, &ok);
    const QByteArray wrapped = QJsonDocument(QJsonArray{out}).toJson(QJsonDocument::Compact);
    data = wrapped.mid(1, wrapped.size() - 2);
    return ok;
}

QString SocketIoPacket::bytesText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

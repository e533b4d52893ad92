#include "decode/FrameEncoder.h"

#include "decode/DecodeProblem.h"
#include "decode/MessagePack.h"
#include "decode/ProtoSchema.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

namespace {

// Whole numbers go as CBOR integers, which a reader takes as the JSON meant.
QCborValue toCbor(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Double: {
        // toInteger() keeps all 64 bits of what the parser read as an integer.
        const double d = value.toDouble();
        const qint64 whole = value.toInteger();
        if (std::floor(d) == d && double(whole) == d)
            return QCborValue(whole);
        return QCborValue(d);
    }
    case QJsonValue::Array: {
        QCborArray array;
        for (const QJsonValue& member : value.toArray())
            array.append(toCbor(member));
        return array;
    }
    case QJsonValue::Object: {
        QCborMap map;
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            map.insert(it.key(), toCbor(it.value()));
        return map;
    }
    default:
        return QCborValue::fromJsonValue(value);
    }
}

} // namespace

FrameEncoder::FrameEncoder(Format format, std::shared_ptr<const ProtoSchema> schema,
                           const QString& messageType)
    : m_format(format)
    , m_schema(std::move(schema))
    , m_type(messageType)
{}

bool FrameEncoder::encode(const QString& json, QByteArray* payload, QString* problem) const
{
    const QString name = FrameEncoder::name(m_format);
    // Inside brackets a lone number or string is JSON too.
    const QByteArray wrapped = "[" + json.toUtf8() + "]";
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || doc.array().size() != 1) {
        *problem = DecodeProblem::plain(
            name, QStringLiteral("发送框的内容不是一个 JSON 值（第 %1 字符：%2）"),
            {QString::number(std::max(0, error.offset - 1)), error.errorString()});
        return false;
    }
    const QJsonValue value = doc.array().at(0);
    switch (m_format) {
    case Format::Cbor:
        *payload = toCbor(value).toCbor();
        return true;
    case Format::MessagePack:
        *payload = MessagePack::encode(value);
        return true;
    case Format::Protobuf: {
        if (!m_schema || m_type.isEmpty()) {
            *problem = DecodeProblem::plain(name, QStringLiteral("尚未选择 .proto 文件和消息类型"));
            return false;
        }
        if (!value.isObject()) {
            *problem = DecodeProblem::plain(name, QStringLiteral("消息须是一个 JSON 对象"));
            return false;
        }
        QString why;
        if (!m_schema->encode(json.toUtf8(), m_type, payload, &why)) {
            *problem = DecodeProblem::plain(m_type, why);
            return false;
        }
        return true;
    }
    case Format::None:
        break;
    }
    *problem = DecodeProblem::plain(name, QStringLiteral("未选择编码"));
    return false;
}

QString FrameEncoder::name(Format format)
{
    switch (format) {
    case Format::None:
        return QStringLiteral("原样");
    case Format::Cbor:
        return QStringLiteral("CBOR");
    case Format::MessagePack:
        return QStringLiteral("MessagePack");
    case Format::Protobuf:
        return QStringLiteral("Protobuf");
    }
    return QString();
}

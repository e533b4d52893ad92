#include "decode/FrameDecoder.h"

#include "decode/CborDecoder.h"
#include "decode/DecodeProblem.h"
#include "decode/Inflater.h"
#include "decode/MessagePack.h"
#include "decode/ProtoSchema.h"
#include "decode/ProtobufWire.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

const QString kArrow = QStringLiteral(" \u2192 ");

QString formatName(Inflater::Format format)
{
    switch (format) {
    case Inflater::Format::Gzip:
        return QStringLiteral("gzip");
    case Inflater::Format::Zlib:
        return QStringLiteral("zlib");
    case Inflater::Format::Raw:
        return QStringLiteral("deflate");
    case Inflater::Format::None:
        break;
    }
    return QString();
}

QString inflateProblem(Inflater::Format format, Inflater::Status status, const DecodeLimits& limits)
{
    const QString name = formatName(format);
    switch (status) {
    case Inflater::Status::TooLarge:
        return DecodeProblem::plain(name, QStringLiteral("解压后超过 %1 MiB，已停止"),
                                    {QString::number(limits.maxInflated / (1024 * 1024))});
    case Inflater::Status::TooDense:
        return DecodeProblem::plain(name, QStringLiteral("压缩比超过 %1:1，疑似压缩炸弹，已停止"),
                                    {QString::number(limits.maxRatio)});
    case Inflater::Status::Truncated:
        return DecodeProblem::plain(name, QStringLiteral("压缩数据在帧末尾被截断"));
    case Inflater::Status::Trailing:
        return DecodeProblem::plain(name, QStringLiteral("压缩数据之后还有多余的字节"));
    case Inflater::Status::Corrupt:
    case Inflater::Status::Ok:
        break;
    }
    return DecodeProblem::plain(name, QStringLiteral("压缩数据已损坏"));
}

// JSON text, as a back end's gzip'ed reply holds.
DecodedFrame jsonText(const QByteArray& bytes)
{
    DecodedFrame frame;
    frame.decoder = QStringLiteral("JSON");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        frame.problem = DecodeProblem::at(frame.decoder, error.offset, error.errorString());
        return frame;
    }
    frame.ok = true;
    frame.json = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    frame.shown = frame.indented();
    return frame;
}

DecodedFrame wrapped(const QString& layer, DecodedFrame inner)
{
    inner.decoder = layer + kArrow + inner.decoder;
    return inner;
}

bool isContainer(const DecodedFrame& frame)
{
    return frame.ok && (frame.json.isObject() || frame.json.isArray());
}

} // namespace

FrameDecoder::FrameDecoder(DecoderKind kind, std::shared_ptr<const ProtoSchema> schema,
                           const QString& messageType, const DecodeLimits& limits)
    : m_kind(kind)
    , m_schema(std::move(schema))
    , m_type(messageType)
    , m_limits(limits)
{}

bool FrameDecoder::isBase64(const QByteArray& text)
{
    if (text.size() < 8)
        return false;
    qsizetype end = text.size();
    qsizetype padding = 0;
    while (end > 0 && text.at(end - 1) == '=' && padding < 2) {
        --end;
        ++padding;
    }
    bool standard = false;
    bool urlSafe = false;
    for (qsizetype k = 0; k < end; ++k) {
        const char c = text.at(k);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            continue;
        if (c == '+' || c == '/')
            standard = true;
        else if (c == '-' || c == '_')
            urlSafe = true;
        else
            return false;
    }
    if (standard && urlSafe)
        return false;
    // Padded, the length is whole quads; unpadded, one character short of a
    // byte is never left over.
    if (padding > 0)
        return text.size() % 4 == 0;
    return end % 4 != 1;
}

DecodedFrame FrameDecoder::decode(const QByteArray& bytes, bool textFrame) const
{
    if (m_kind == DecoderKind::None)
        return {};
    if (!textFrame)
        return decodeLayers(bytes, 0, true);
    if (!isBase64(bytes)) {
        DecodedFrame frame;
        frame.decoder = QStringLiteral("Base64");
        frame.problem =
            DecodeProblem::plain(frame.decoder, QStringLiteral("文本帧不是 Base64，不解码"));
        return frame;
    }
    const QByteArray decoded = QByteArray::fromBase64(
        bytes, bytes.contains('-') || bytes.contains('_') ? QByteArray::Base64UrlEncoding
                                                          : QByteArray::Base64Encoding);
    return wrapped(QStringLiteral("Base64"), decodeLayers(decoded, 1, true));
}

DecodedFrame FrameDecoder::decodeLayers(const QByteArray& bytes, int layer, bool mayBeRaw) const
{
    const Inflater::Format format = Inflater::sniff(bytes);
    if (format != Inflater::Format::None && layer < m_limits.maxLayers) {
        QByteArray inflated;
        const Inflater::Status status =
            Inflater::inflate(bytes, format, m_limits.maxInflated, m_limits.maxRatio, &inflated);
        if (status == Inflater::Status::Ok)
            return wrapped(formatName(format), decodeLayers(inflated, layer + 1, false));
        // A gzip magic is no accident; a zlib header may be a CBOR or
        // MessagePack value that happens to look like one.
        if (format == Inflater::Format::Gzip || status == Inflater::Status::TooLarge ||
            status == Inflater::Status::TooDense) {
            DecodedFrame frame;
            frame.decoder = formatName(format);
            frame.problem = inflateProblem(format, status, m_limits);
            return frame;
        }
    }
    DecodedFrame frame =
        m_kind == DecoderKind::Auto ? decodeAuto(bytes, layer > 0) : decodeAs(m_kind, bytes);
    if (frame.ok || !mayBeRaw || layer >= m_limits.maxLayers)
        return frame;
    // Raw deflate has no header: tried only once the bytes read no other way.
    QByteArray inflated;
    const Inflater::Status status = Inflater::inflate(
        bytes, Inflater::Format::Raw, m_limits.maxInflated, m_limits.maxRatio, &inflated);
    if (status == Inflater::Status::TooLarge || status == Inflater::Status::TooDense) {
        frame.problem = inflateProblem(Inflater::Format::Raw, status, m_limits);
        return frame;
    }
    if (status != Inflater::Status::Ok || inflated.isEmpty())
        return frame;
    DecodedFrame inner = decodeLayers(inflated, layer + 1, false);
    return inner.ok ? wrapped(formatName(Inflater::Format::Raw), inner) : frame;
}

DecodedFrame FrameDecoder::decodeAs(DecoderKind kind, const QByteArray& bytes) const
{
    switch (kind) {
    case DecoderKind::Cbor:
        return CborDecoder::decode(bytes, m_limits);
    case DecoderKind::MessagePack:
        return MessagePack::decode(bytes, m_limits);
    case DecoderKind::Protobuf:
        return ProtobufWire::decode(bytes, m_limits);
    case DecoderKind::ProtobufSchema: {
        DecodedFrame frame;
        frame.decoder = m_type.isEmpty() ? QStringLiteral("Protobuf (.proto)") : m_type;
        if (!m_schema || m_type.isEmpty()) {
            frame.problem = DecodeProblem::plain(frame.decoder,
                                                 QStringLiteral("尚未选择 .proto 文件和消息类型"));
            return frame;
        }
        QByteArray json;
        QString error;
        if (!m_schema->decode(bytes, m_type, &json, &error)) {
            frame.problem = DecodeProblem::plain(frame.decoder, error);
            return frame;
        }
        DecodedFrame read = jsonText(json);
        read.decoder = frame.decoder;
        return read;
    }
    case DecoderKind::Auto:
    case DecoderKind::None:
        break;
    }
    return {};
}

DecodedFrame FrameDecoder::decodeAuto(const QByteArray& bytes, bool inflated) const
{
    // What came out of a compressed frame is most often JSON text.
    if (inflated) {
        const DecodedFrame json = jsonText(bytes);
        if (json.ok)
            return json;
    }
    // CBOR's self-described tag (d9 d9 f7) leaves no doubt.
    if (bytes.startsWith("\xd9\xd9\xf7"))
        return CborDecoder::decode(bytes, m_limits);
    // Each reads the whole frame or nothing, so a wrong guess rarely
    // passes; a structure beats a lone scalar, and the wire format, which
    // reads almost anything, comes last.
    DecodedFrame fallback;
    QStringList problems;
    for (const DecoderKind kind :
         {DecoderKind::Cbor, DecoderKind::MessagePack, DecoderKind::Protobuf}) {
        DecodedFrame frame = decodeAs(kind, bytes);
        if (isContainer(frame))
            return frame;
        if (frame.ok && !fallback.ok)
            fallback = frame;
        if (!frame.ok)
            problems.append(frame.problem);
    }
    if (fallback.ok)
        return fallback;
    DecodedFrame none;
    none.decoder = name(DecoderKind::Auto);
    none.problem = DecodeProblem::plain(none.decoder, QStringLiteral("没有解码器能读出这一帧")) +
                   QLatin1Char('\n') + problems.join(QLatin1Char('\n'));
    return none;
}

QString FrameDecoder::name(DecoderKind kind)
{
    switch (kind) {
    case DecoderKind::None:
        return QStringLiteral("无");
    case DecoderKind::Auto:
        return QStringLiteral("Auto");
    case DecoderKind::Cbor:
        return QStringLiteral("CBOR");
    case DecoderKind::MessagePack:
        return QStringLiteral("MessagePack");
    case DecoderKind::Protobuf:
        return QStringLiteral("Protobuf");
    case DecoderKind::ProtobufSchema:
        return QStringLiteral("Protobuf (.proto)");
    }
    return QString();
}

DecoderKind FrameDecoder::kindNamed(const QString& name)
{
    for (const DecoderKind kind : kinds()) {
        if (FrameDecoder::name(kind) == name)
            return kind;
    }
    return DecoderKind::None;
}

QList<DecoderKind> FrameDecoder::kinds()
{
    return {DecoderKind::None,        DecoderKind::Auto,     DecoderKind::Cbor,
            DecoderKind::MessagePack, DecoderKind::Protobuf, DecoderKind::ProtobufSchema};
}

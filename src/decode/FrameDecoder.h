#pragma once

#include "decode/DecodeLimits.h"
#include "decode/DecodedFrame.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class ProtoSchema;

// Which reading of binary payloads the user chose.
enum class DecoderKind
{
    None,
    Auto,
    Cbor,
    MessagePack,
    Protobuf,
    ProtobufSchema
};

// One chosen decoder, the layers around it taken off first: a text frame
// that is all Base64, then gzip, zlib or raw deflate. Copied freely.
class FrameDecoder
{
public:
    FrameDecoder() = default;
    explicit FrameDecoder(DecoderKind kind, std::shared_ptr<const ProtoSchema> schema = {},
                          const QString& messageType = QString(), const DecodeLimits& limits = {});

    DecoderKind kind() const { return m_kind; }
    bool isOn() const { return m_kind != DecoderKind::None; }
    const std::shared_ptr<const ProtoSchema>& schema() const { return m_schema; }
    QString messageType() const { return m_type; }

    // A frame's bytes read; `textFrame` says they came in a text frame, which
    // only a Base64 text is decoded from.
    DecodedFrame decode(const QByteArray& bytes, bool textFrame = false) const;

    // A text of at least 8 characters that is Base64 through and through,
    // standard or URL-safe alphabet, padding right where it is.
    static bool isBase64(const QByteArray& text);

    // The names the choices show ("Auto", "CBOR", ..); settings keep these.
    static QString name(DecoderKind kind);
    static DecoderKind kindNamed(const QString& name);
    static QList<DecoderKind> kinds();

private:
    DecodedFrame decodeLayers(const QByteArray& bytes, int layer, bool mayBeRaw) const;
    DecodedFrame decodeAs(DecoderKind kind, const QByteArray& bytes) const;
    DecodedFrame decodeAuto(const QByteArray& bytes, bool inflated) const;

    DecoderKind m_kind = DecoderKind::None;
    std::shared_ptr<const ProtoSchema> m_schema;
    QString m_type;
    DecodeLimits m_limits;
};

#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class ProtoSchema;

// The send box's JSON as a binary payload: CBOR, MessagePack or, with a
// .proto and a type, a Protocol Buffers message.
class FrameEncoder
{
public:
    enum class Format
    {
        None,
        Cbor,
        MessagePack,
        Protobuf
    };

    FrameEncoder() = default;
    explicit FrameEncoder(Format format, std::shared_ptr<const ProtoSchema> schema = {},
                          const QString& messageType = QString());

    Format format() const { return m_format; }
    bool isOn() const { return m_format != Format::None; }

    // The payload, or false with `problem` saying why the JSON does not fit.
    bool encode(const QString& json, QByteArray* payload, QString* problem) const;

    static QString name(Format format);

private:
    Format m_format = Format::None;
    std::shared_ptr<const ProtoSchema> m_schema;
    QString m_type;
};

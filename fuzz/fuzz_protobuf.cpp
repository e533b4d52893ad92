// Protocol Buffers frames read from the wire format alone, and as sw.Reading
// of the suite's reading.proto; a message the schema reads encodes back from
// its JSON to the same JSON.
#include "FrameChecks.h"
#include "decode/FrameDecoder.h"
#include "decode/ProtoSchema.h"
#include "decode/ProtobufWire.h"

#include <cstdint>

namespace {

const QString kType = QStringLiteral("sw.Reading");

std::shared_ptr<const ProtoSchema> readingSchema()
{
    QString error;
    static const std::shared_ptr<const ProtoSchema> schema =
        ProtoSchema::load(QStringLiteral(SOCKWISE_READING_PROTO), &error);
    check(schema != nullptr, "Protobuf", "reading.proto loads");
    return schema;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    DecodeLimits limits;
    limits.maxDepth = 32;
    limits.maxItems = 500;
    const DecodedFrame wire = ProtobufWire::decode(input, limits);
    checkFrame(wire, "Protobuf");
    check(!wire.ok || wire.json.isObject(), "Protobuf", "a message is an object");

    static const FrameDecoder schemaDecoder(DecoderKind::ProtobufSchema, readingSchema(), kType,
                                            limits);
    const DecodedFrame typed = schemaDecoder.decode(input);
    checkFrame(typed, "sw.Reading");
    if (!typed.ok)
        return 0;
    QByteArray payload;
    QString problem;
    check(FrameEncoder(FrameEncoder::Format::Protobuf, readingSchema(), kType)
              .encode(typed.compact(), &payload, &problem),
          "sw.Reading", "its JSON encodes");
    const DecodedFrame again = schemaDecoder.decode(payload);
    check(again.ok && again.compact() == typed.compact(), "sw.Reading",
          "the same JSON after a round trip");
    return 0;
}

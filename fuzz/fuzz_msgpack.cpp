// MessagePack frames under tight limits; what reads exactly as JSON goes
// through the send box's MessagePack encoding and back.
#include "FrameChecks.h"
#include "decode/MessagePack.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    DecodeLimits limits;
    limits.maxDepth = 32;
    limits.maxItems = 500;
    const DecodedFrame frame = MessagePack::decode(input, limits);
    checkFrame(frame, "MessagePack");
    checkRoundTrip(
        frame, FrameEncoder::Format::MessagePack,
        [](const QByteArray& bytes) { return MessagePack::decode(bytes); }, "MessagePack");
    return 0;
}

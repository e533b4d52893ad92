// CBOR frames under tight limits, so that depth and item counts are reached
// on small inputs; what reads exactly as JSON goes through the send box's
// CBOR encoding and back.
#include "FrameChecks.h"
#include "decode/CborDecoder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    DecodeLimits limits;
    limits.maxDepth = 32;
    limits.maxItems = 500;
    const DecodedFrame frame = CborDecoder::decode(input, limits);
    checkFrame(frame, "CBOR");
    checkRoundTrip(
        frame, FrameEncoder::Format::Cbor,
        [](const QByteArray& bytes) { return CborDecoder::decode(bytes); }, "CBOR");
    return 0;
}

// The layers around a payload: the bytes as a binary frame and as a text
// frame (Base64), gzip, zlib and raw deflate inside, then every decoder in
// turn, all under small limits so that a few kilobytes reach them.
#include "FrameChecks.h"
#include "decode/FrameDecoder.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    DecodeLimits limits;
    limits.maxDepth = 32;
    limits.maxItems = 2000;
    limits.maxInflated = 256 * 1024;
    limits.maxRatio = 50;
    static const FrameDecoder decoder(DecoderKind::Auto, {}, {}, limits);
    checkFrame(decoder.decode(input), "Auto");
    const DecodedFrame text = decoder.decode(input, true);
    checkFrame(text, "Auto (text frame)");
    check(!text.ok || text.decoder.startsWith(QStringLiteral("Base64")), "Auto (text frame)",
          "a text frame decodes only as Base64");
    return 0;
}

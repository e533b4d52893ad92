#pragma once

// What every decoder owes a frame, whatever its bytes: a value or a reason,
// never both; and, for the send box's encoders, that a value read exactly as
// JSON is written back to the same JSON.
#include "decode/DecodedFrame.h"
#include "decode/FrameEncoder.h"

#include <cstdio>
#include <cstdlib>

inline void check(bool condition, const char* decoder, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "%s invariant broken: %s\n", decoder, what);
        std::abort();
    }
}

inline void checkFrame(const DecodedFrame& frame, const char* decoder)
{
    check(frame.ok != !frame.problem.isEmpty(), decoder, "a value or a problem, not both");
    if (frame.ok)
        check(!frame.shown.isEmpty() && !frame.compact().isEmpty(), decoder, "a value is shown");
}

// Compared as text: QJsonValue's == takes 2^63-1 and its nearest double alike.
template<typename Decode>
void checkRoundTrip(const DecodedFrame& frame, FrameEncoder::Format format, Decode decode,
                    const char* decoder)
{
    if (!frame.ok || !frame.exact)
        return;
    QByteArray payload;
    QString problem;
    check(FrameEncoder(format).encode(frame.compact(), &payload, &problem), decoder,
          "exact JSON encodes");
    const DecodedFrame again = decode(payload);
    check(again.ok && again.exact, decoder, "what it encodes decodes exactly");
    if (again.compact() != frame.compact()) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(frame.compact()), qPrintable(again.compact()));
        check(false, decoder, "the same JSON after a round trip");
    }
}

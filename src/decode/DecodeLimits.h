#pragma once

#include <QtGlobal>

// How far a decoder goes on bytes it has never seen: a hostile frame must
// stop with a message, not exhaust the stack or the memory.
struct DecodeLimits
{
    int maxDepth = 256;
    // Values (every array member, map entry, field) in one frame.
    qint64 maxItems = 1000000;
    // Inflated bytes of a compressed frame, and how much larger than its
    // compressed form it may grow once past a mebibyte.
    qint64 maxInflated = qint64(64) * 1024 * 1024;
    qint64 maxRatio = 200;
    // Nested layers (Base64 of gzip of zlib ...).
    int maxLayers = 4;
    // The indented text for the detail pane; rows and rules read the JSON only.
    bool withShown = true;

    // What a row may spend: it decodes on the window's thread.
    static DecodeLimits forRows()
    {
        DecodeLimits limits;
        limits.maxInflated = qint64(4) * 1024 * 1024;
        limits.maxItems = 100000;
        limits.withShown = false;
        return limits;
    }
};

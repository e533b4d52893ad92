#pragma once

#include "decode/DecodeLimits.h"
#include "decode/DecodedFrame.h"

#include <QByteArray>

// A Protocol Buffers message read without its schema, from the wire format
// alone: an object keyed by field number, a field seen twice becomes an
// array. Varints show unsigned and zig-zag ({"varint": 300, "zigzag": 150}),
// fixed32/64 also as float/double; length-delimited bytes are text when they
// are printable UTF-8, else a nested message when they parse as one, else
// packed varints ({"packed": [..]}), else {"bytes": hex}.
class ProtobufWire
{
public:
    static DecodedFrame decode(const QByteArray& bytes, const DecodeLimits& limits = {});

    ProtobufWire() = delete;
};

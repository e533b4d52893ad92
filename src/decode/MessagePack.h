#pragma once

#include "decode/DecodeLimits.h"
#include "decode/DecodedFrame.h"

#include <QByteArray>
#include <QJsonValue>

// MessagePack, every type: nil, booleans, integers to 64 bits, float 32/64,
// str, bin (hex in the JSON), arrays, maps (keys that are no strings by their
// JSON text), ext as {"ext": type, "data": hex} and the timestamp extension
// (-1) as an ISO 8601 time in UTC to the nanosecond.
class MessagePack
{
public:
    static DecodedFrame decode(const QByteArray& bytes, const DecodeLimits& limits = {});
    // The smallest form of each value: integral numbers as integers.
    static QByteArray encode(const QJsonValue& value);

    MessagePack() = delete;
};

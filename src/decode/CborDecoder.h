#pragma once

#include "decode/DecodeLimits.h"
#include "decode/DecodedFrame.h"

#include <QByteArray>
#include <QCborValue>

// CBOR (RFC 8949) read with Qt's stream reader under the limits: exactly one
// item filling the frame. Shown as JSON when it maps to JSON, in CBOR's
// diagnostic notation otherwise; byte strings become hex in the JSON.
class CborDecoder
{
public:
    static DecodedFrame decode(const QByteArray& bytes, const DecodeLimits& limits = {});
    // The JSON form of a value; `exact` is cleared where JSON cannot hold it.
    static QJsonValue toJson(const QCborValue& value, bool* exact);

    CborDecoder() = delete;
};

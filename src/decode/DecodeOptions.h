#pragma once

#include "decode/FrameDecoder.h"
#include "decode/FrameEncoder.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

// How one connection's binary frames read and how its binary sends encode
// the box's JSON: kept with the address (or the server), so a device's CBOR
// choice does not follow the user to the next server.
struct DecodeOptions
{
    DecoderKind rows = DecoderKind::None;
    FrameEncoder::Format send = FrameEncoder::Format::None;
    // The .proto and the message type that Protocol Buffers read and write.
    QString protoFile;
    QString messageType;

    bool operator==(const DecodeOptions& o) const;
    bool operator!=(const DecodeOptions& o) const { return !(*this == o); }
    bool isDefault() const { return *this == DecodeOptions(); }

    // (label, value) as ClientOptions::differences gives them.
    QList<QPair<QString, QString>> differences() const;
    // Stored under "decode*" keys beside the connection's other options.
    void write(QVariantMap& map) const;
    static DecodeOptions read(const QVariantMap& map, QStringList* rejected);
};

#include "decode/DecodeOptions.h"

#include "websocket/OptionMap.h"

#include <QFileInfo>

namespace {

// Settings files keep these names, whatever the choices are called on screen.
const QStringList& rowNames()
{
    static const QStringList names{QStringLiteral("none"),     QStringLiteral("auto"),
                                   QStringLiteral("cbor"),     QStringLiteral("msgpack"),
                                   QStringLiteral("protobuf"), QStringLiteral("proto")};
    return names;
}

const QStringList& sendNames()
{
    static const QStringList names{QStringLiteral("none"), QStringLiteral("cbor"),
                                   QStringLiteral("msgpack"), QStringLiteral("protobuf")};
    return names;
}

} // namespace

bool DecodeOptions::operator==(const DecodeOptions& o) const
{
    return rows == o.rows && send == o.send && protoFile == o.protoFile &&
           messageType == o.messageType;
}

QList<QPair<QString, QString>> DecodeOptions::differences() const
{
    QList<QPair<QString, QString>> out;
    if (rows != DecoderKind::None)
        out.append({QStringLiteral("二进制解码"), FrameDecoder::name(rows)});
    if (send != FrameEncoder::Format::None)
        out.append({QStringLiteral("发送编码"), FrameEncoder::name(send)});
    if (!protoFile.isEmpty())
        out.append({QStringLiteral(".proto"),
                    QFileInfo(protoFile).fileName() +
                        (messageType.isEmpty() ? QString() : QStringLiteral(" ") + messageType)});
    return out;
}

void DecodeOptions::write(QVariantMap& map) const
{
    map.insert(QStringLiteral("decodeRows"), rowNames().at(int(rows)));
    map.insert(QStringLiteral("decodeSend"), sendNames().at(int(send)));
    map.insert(QStringLiteral("decodeProtoFile"), protoFile);
    map.insert(QStringLiteral("decodeMessageType"), messageType);
}

DecodeOptions DecodeOptions::read(const QVariantMap& map, QStringList* rejected)
{
    DecodeOptions options;
    const OptionMap in(map, rejected);
    int rows = int(options.rows);
    in.readChoice("decodeRows", &rows, rowNames());
    options.rows = DecoderKind(rows);
    int send = int(options.send);
    in.readChoice("decodeSend", &send, sendNames());
    options.send = FrameEncoder::Format(send);
    in.read("decodeProtoFile", &options.protoFile);
    in.read("decodeMessageType", &options.messageType);
    return options;
}

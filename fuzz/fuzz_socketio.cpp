// The Socket.IO packet parser and client state on a server's frames: frames
// split at NUL bytes, those starting with 0x01 binary, the rest text.
#include "protocol/SocketIoPacket.h"
#include "protocol/SocketIoProtocol.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "Socket.IO invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    ProtocolOptions options;
    options.kind = ProtocolOptions::Kind::SocketIo;
    options.engineIo3 = size % 2;
    SocketIoProtocol protocol(options, {});
    qint64 now = 0;
    qsizetype shown = 0;
    for (const QByteArray& frame : input.split('\0')) {
        if (const std::optional<SocketIoPacket> packet = SocketIoPacket::parse(frame)) {
            // What it writes reads back as the same packet.
            const std::optional<SocketIoPacket> again = SocketIoPacket::parse(packet->encode());
            check(again && again->encode() == packet->encode(), "encode parses back");
            packet->describe();
            packet->document();
        }
        const bool binary = frame.startsWith('\x01');
        const ProtocolStep step = protocol.received(
            binary ? WireFrame::ofBytes(frame.mid(1)) : WireFrame::ofText(QString::fromUtf8(frame)),
            now);
        shown += step.received.size();
        protocol.send(OutgoingMessage{frame, binary, QStringLiteral("e"), true}, now);
        now += 100;
        protocol.due(now);
    }
    // An assembled event is one row for several frames; none is shown twice.
    check(shown <= input.split('\0').size(), "no frame shown twice");
    return 0;
}

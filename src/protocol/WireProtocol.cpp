#include "protocol/WireProtocol.h"

#include "protocol/SocketIoProtocol.h"

std::unique_ptr<WireProtocol> WireProtocol::create(const ProtocolOptions& options,
                                                   const AnswerSource& answers)
{
    if (options.isSocketIo())
        return std::make_unique<SocketIoProtocol>(options, answers);
    return std::make_unique<PlainWebSocket>();
}

ProtocolStep PlainWebSocket::received(const WireFrame& frame, qint64)
{
    ProtocolStep step;
    step.received.append(frame);
    return step;
}

ProtocolStep PlainWebSocket::send(const OutgoingMessage& message, qint64)
{
    ProtocolStep step;
    const WireFrame frame = message.binary ? WireFrame::ofBytes(message.payload)
                                           : WireFrame::ofText(QString::fromUtf8(message.payload));
    step.writes.append(frame);
    step.shownSent.append(frame);
    return step;
}

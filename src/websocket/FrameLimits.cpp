#include "websocket/FrameLimits.h"

#include <QWebSocket>

void FrameLimits::apply(QWebSocket* socket)
{
    socket->setMaxAllowedIncomingFrameSize(quint64(maxFrameSize));
    socket->setMaxAllowedIncomingMessageSize(quint64(maxFrameSize));
}

#include "websocket/FrameLimits.h"

#include <QWebSocket>

void FrameLimits::apply(QWebSocket* socket)
{
    socket->setMaxAllowedIncomingFrameSize(quint64(maxFrameSize));
    socket->setMaxAllowedIncomingMessageSize(quint64(maxFrameSize));
}

QString FrameLimits::closeInfo(const QWebSocket* socket)
{
    const QWebSocketProtocol::CloseCode code = socket->closeCode();
    if (code == QWebSocketProtocol::CloseCodeNormal)
        return QString();
    QString info = QString::number(int(code));
    const QString reason = socket->closeReason();
    if (!reason.isEmpty())
        info += QStringLiteral("，原因: ") + reason;
    return info;
}

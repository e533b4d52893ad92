#include "websocket/WriteCap.h"

#include <QWebSocket>

namespace {

constexpr qint64 kMaxFrameHeader = 14;

} // namespace

WriteCap::WriteCap(QWebSocket* socket, const QString& peer)
    : QObject(socket)
    , m_socket(socket)
    , m_peer(peer)
{
    connect(socket, &QWebSocket::bytesWritten, this, &WriteCap::onBytesWritten);
}

WriteCap* WriteCap::attach(QWebSocket* socket, const QString& peer)
{
    return new WriteCap(socket, peer);
}

QString WriteCap::sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QString::number(bytes / (1024.0 * 1024.0), 'f', 1).remove(QStringLiteral(".0")) +
               QStringLiteral(" MiB");
    if (bytes >= 1024)
        return QString::number(bytes / 1024.0, 'f', 1).remove(QStringLiteral(".0")) +
               QStringLiteral(" KiB");
    return QString::number(bytes) + QStringLiteral(" B");
}

bool WriteCap::admits(qint64 payloadBytes)
{
    // Once stalled, sends wait for the drain: a cap that opens for every
    // small frame would give one notice per frame.
    if (m_stalled)
        return false;
    // A frame larger than the cap goes while little is pending: it could
    // never go otherwise, and what waits stays bound by the frame.
    const qint64 pending = m_socket->bytesToWrite();
    if (pending <= maxPendingBytes / 2 ||
        pending + payloadBytes + kMaxFrameHeader <= maxPendingBytes)
        return true;
    m_stalled = true;
    emit notice(QStringLiteral("对方未读取数据，已暂停向 %1 发送（待发送 %2）")
                    .arg(m_peer, sizeText(pending)));
    return false;
}

void WriteCap::onBytesWritten()
{
    if (!m_stalled || m_socket->bytesToWrite() > maxPendingBytes / 2)
        return;
    m_stalled = false;
    emit notice(QStringLiteral("%1 已恢复接收").arg(m_peer));
}

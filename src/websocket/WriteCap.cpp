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

bool WriteCap::admits(qint64 payloadBytes)
{
    // Once stalled, sends wait for the drain: a cap that opens for every
    // small frame would give one event per frame.
    if (m_stalled)
        return false;
    // A frame larger than the cap goes while little is pending: it could
    // never go otherwise, and what waits stays bound by the frame.
    const qint64 pending = m_socket->bytesToWrite();
    if (pending <= maxPendingBytes / 2 ||
        pending + payloadBytes + kMaxFrameHeader <= maxPendingBytes)
        return true;
    m_stalled = true;
    emit happened(ConnectionEvent(ConnectionEvent::Code::PeerStalled, m_peer, QString(), pending));
    return false;
}

void WriteCap::onBytesWritten()
{
    if (!m_stalled || m_socket->bytesToWrite() > maxPendingBytes / 2)
        return;
    m_stalled = false;
    emit happened(ConnectionEvent(ConnectionEvent::Code::PeerResumed, m_peer));
}

#include "websocket/ReadBufferTuner.h"

#include "websocket/ReadBufferPool.h"

#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

namespace {

constexpr qint64 kMaxFrameHeader = 14;

// The transport is not public: Qt 6.4 makes it a child of the client socket
// it opens.
QAbstractSocket* findTransport(const QWebSocket* socket, const QObject* owner)
{
    const QList<QTcpSocket*> candidates = owner->findChildren<QTcpSocket*>();
    for (QTcpSocket* candidate : candidates) {
        if (owner == socket)
            return candidate;
        if (candidate->state() == QAbstractSocket::ConnectedState &&
            candidate->peerPort() == socket->peerPort() &&
            candidate->localPort() == socket->localPort() &&
            candidate->peerAddress() == socket->peerAddress())
            return candidate;
    }
    return nullptr;
}

} // namespace

ReadBufferTuner::ReadBufferTuner(QWebSocket* socket, QAbstractSocket* transport,
                                 qint64 largestBuffer, ReadBufferPool* pool)
    : QObject(socket)
    , m_socket(socket)
    , m_transport(transport)
    , m_largest(largestBuffer)
    , m_pool(pool)
{
    // Connected after the WebSocket's own handler, so it sees what is left.
    connect(transport, &QIODevice::readyRead, this, &ReadBufferTuner::adjust);
}

ReadBufferTuner::~ReadBufferTuner()
{
    if (m_reserved && m_pool)
        m_pool->give(growth());
}

qint64 ReadBufferTuner::growth() const
{
    return m_largest - smallBufferSize;
}

void ReadBufferTuner::attach(QWebSocket* socket, QObject* transportOwner, qint64 largestFrame)
{
    attachToTransport(socket, transportOwner ? findTransport(socket, transportOwner) : nullptr,
                      largestFrame);
}

void ReadBufferTuner::attachToTransport(QWebSocket* socket, QAbstractSocket* transport,
                                        qint64 largestFrame, ReadBufferPool* pool)
{
    const qint64 largestBuffer = largestFrame + kMaxFrameHeader;
    if (!transport) {
        socket->setReadBufferSize(largestBuffer);
        return;
    }
    socket->setReadBufferSize(smallBufferSize);
    new ReadBufferTuner(socket, transport, largestBuffer, pool);
}

void ReadBufferTuner::adjust()
{
    if (!m_transport)
        return;
    const qint64 size = m_transport->readBufferSize();
    const qint64 buffered = m_transport->bytesAvailable();
    if (size > 0 && buffered + kMaxFrameHeader >= size && size < m_largest) {
        // Full, and the WebSocket took nothing out: a frame is waiting for
        // more of its payload than fits.
        if (!m_reserved && m_pool) {
            if (!m_pool->take(growth())) {
                // The transport reads no more while full: the pool's word
                // is the only one that will come.
                connect(m_pool, &ReadBufferPool::freed, this, &ReadBufferTuner::adjust,
                        Qt::UniqueConnection);
                return;
            }
            m_pool->disconnect(this);
            m_reserved = true;
        }
        m_socket->setReadBufferSize(std::min(size * 2, m_largest));
    } else if (size > smallBufferSize && buffered < smallBufferSize) {
        m_socket->setReadBufferSize(smallBufferSize);
        if (m_reserved && m_pool) {
            m_reserved = false;
            m_pool->give(growth());
        }
    }
}

#include "websocket/ReadBufferTuner.h"

#include "websocket/ReadBufferPool.h"

#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>

namespace {

constexpr qint64 kMaxFrameHeader = 14;

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

QAbstractSocket* ReadBufferTuner::clientTransport(const QWebSocket* socket)
{
    return socket->findChild<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
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

#include "websocket/ReadBufferPool.h"

ReadBufferPool::ReadBufferPool(qint64 total, QObject* parent)
    : QObject(parent)
    , m_total(total)
{}

bool ReadBufferPool::take(qint64 bytes)
{
    if (bytes > available())
        return false;
    m_taken += bytes;
    return true;
}

void ReadBufferPool::give(qint64 bytes)
{
    m_taken -= bytes;
    emit freed();
}

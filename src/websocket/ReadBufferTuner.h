#pragma once

#include <QObject>
#include <QPointer>

class QAbstractSocket;
class QWebSocket;
class ReadBufferPool;

// Keeps a WebSocket's read buffer small so that a flood is handled in short
// events, and grows it while a frame larger than the buffer is arriving: Qt
// only parses a frame once its whole payload is buffered, so a frame that does
// not fit would stall the connection. Shrinks again once the frame is through.
class ReadBufferTuner : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 smallBufferSize = 128 * 1024;

    // The transport of a client socket that open() has been called on, or
    // null. Qt 6.4 has no accessor: open() makes it a direct child of the
    // socket, the only one of its kind there.
    static QAbstractSocket* clientTransport(const QWebSocket* socket);
    // Attaches a tuner (a child of `socket`) to the socket's TCP transport;
    // without one (null) gives the socket a buffer that holds the largest
    // frame whole. With a pool, growing takes the growth up to the largest
    // frame from it first and waits while it has not enough; the pool must
    // hold at least that.
    static void attachToTransport(QWebSocket* socket, QAbstractSocket* transport,
                                  qint64 largestFrame, ReadBufferPool* pool = nullptr);
    ~ReadBufferTuner() override;

    QAbstractSocket* transport() const { return m_transport; }

private slots:
    void adjust();

private:
    ReadBufferTuner(QWebSocket* socket, QAbstractSocket* transport, qint64 largestBuffer,
                    ReadBufferPool* pool);
    qint64 growth() const;

    QWebSocket* m_socket;
    QPointer<QAbstractSocket> m_transport;
    qint64 m_largest;
    QPointer<ReadBufferPool> m_pool;
    // Holds growth() from the pool.
    bool m_reserved = false;
};

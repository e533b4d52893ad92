#pragma once

#include <QObject>

// Bytes that read buffers may grow by beyond their small size, shared by the
// clients of one server: without it every client could hold a buffer the
// size of the largest frame at once. A buffer takes the whole growth it may
// need in one piece (never part of it and then wait for the rest), so that
// buffers that wait never hold what the others need to finish.
class ReadBufferPool : public QObject
{
    Q_OBJECT

public:
    explicit ReadBufferPool(qint64 total, QObject* parent = nullptr);

    qint64 total() const { return m_total; }
    // Growth already taken beyond a smaller total is kept until it is given.
    void setTotal(qint64 total) { m_total = total; }
    qint64 available() const { return m_total - m_taken; }

    // Whether `bytes` were taken; when not, freed() says when to try again.
    bool take(qint64 bytes);
    void give(qint64 bytes);

signals:
    void freed();

private:
    qint64 m_total;
    qint64 m_taken = 0;
};

#pragma once

#include <QByteArray>
#include <QObject>

class QNetworkReply;

// Holds a reply's body in memory up to a cap, whatever the server sends and
// for as long as it sends. The reply buffers little (Qt stops reading from the
// socket while its read buffer is full), the body is taken from it as it
// arrives, and once the body would grow past the cap, or the server announces
// more, the reply is aborted, which also drops its connection.
class CappedReply : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 readBufferBytes = 64 * 1024;

    // Starts watching a reply that has just been sent; the watcher is a child
    // of the reply and goes with it.
    static CappedReply* watch(QNetworkReply* reply, qint64 maxBytes);

    // The body of a finished reply; false when it went past the cap. A reply
    // nobody watched is read here, at most up to the cap.
    static bool takeBody(QNetworkReply* reply, qint64 maxBytes, QByteArray* body);

    bool exceeded() const { return m_exceeded; }

private:
    CappedReply(QNetworkReply* reply, qint64 maxBytes);

    void readAvailable();
    void checkAnnouncedLength();
    void giveUp();

    QNetworkReply* m_reply;
    qint64 m_max;
    QByteArray m_body;
    bool m_exceeded = false;
};

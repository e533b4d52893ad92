#pragma once

#include "websocket/ConnectionEvent.h"

#include <QObject>
#include <QString>

class QWebSocket;

// Keeps what a peer has not yet taken below a cap: Qt's write buffer grows
// without bound for a peer that stops reading. A send that would pass the cap
// is not made (unless less than half of it is pending: a larger frame must go
// some time); the peer counts as stalled (one event) until half the cap has
// drained (one event again).
class WriteCap : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maxPendingBytes = 16 * 1024 * 1024;

    // A cap (a child of `socket`) for the peer the log calls `peer`.
    static WriteCap* attach(QWebSocket* socket, const QString& peer);

    // Whether a frame of this payload may be handed to the socket now.
    bool admits(qint64 payloadBytes);
    bool isStalled() const { return m_stalled; }

signals:
    // PeerStalled or PeerResumed.
    void happened(const ConnectionEvent& event);

private:
    WriteCap(QWebSocket* socket, const QString& peer);
    void onBytesWritten();

    QWebSocket* m_socket;
    QString m_peer;
    bool m_stalled = false;
};

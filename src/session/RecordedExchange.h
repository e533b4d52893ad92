#pragma once

#include "session/HarModel.h"

#include <QList>

// A recorded connection read as a conversation: what the client sent, what
// came back before each of its frames, and what the server sent after each.
class RecordedExchange
{
public:
    RecordedExchange() = default;
    explicit RecordedExchange(const HarConnection& connection);

    const QList<HarMessage>& sent() const { return m_sent; }
    const QList<HarMessage>& received() const { return m_received; }
    // How many frames had come back before the client's frame `sendIndex`.
    qsizetype receivedBefore(qsizetype sendIndex) const
    {
        return m_receivedBefore.value(sendIndex);
    }
    // The recorded time between the client's frame `sendIndex` and the one
    // before it (or the start of the recording), never negative.
    qint64 gapBeforeSend(qsizetype sendIndex) const;

    struct ServerFrame
    {
        HarMessage message;
        // Since the client frame before it, or the server frame before it.
        qint64 gapMs = 0;
    };
    // The server's frames after the client's `clientFrames`-th one (0: on
    // connect, before the first).
    QList<ServerFrame> serverFramesAfter(qsizetype clientFrames) const;

    // Whether a frame is what the recording has: the same kind, and the same
    // text (or JSON equal as values) or the same bytes.
    static bool matches(const HarMessage& expected, const QByteArray& data, bool binary);
    // A frame in a few words for a system entry: its text or its hex, cut short.
    static QString shortText(const QByteArray& data, bool binary);

private:
    QList<HarMessage> m_sent;
    QList<HarMessage> m_received;
    QList<qsizetype> m_receivedBefore;
    qint64 m_start = 0;
    // The server's frames grouped by how many client frames came before.
    QList<QList<ServerFrame>> m_serverAfter;
};

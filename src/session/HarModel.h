#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

// One frame of a recorded WebSocket connection.
struct HarMessage
{
    // Sent by the client (the side that recorded, in a browser capture).
    bool sent = true;
    // Milliseconds since the epoch, UTC.
    qint64 msecs = 0;
    bool binary = false;
    QByteArray data;
    // Who the frame went to or came from, when the log knew it; empty
    // otherwise.
    QString peer;
};
Q_DECLARE_TYPEINFO(HarMessage, Q_RELOCATABLE_TYPE);

// A system entry of the log, kept beside the frames: it came before the
// frame with index `beforeMessage` (the message count: after the last one).
struct HarNote
{
    qint64 msecs = 0;
    qsizetype beforeMessage = 0;
    QString text;
};

// One WebSocket entry of a HAR document.
struct HarConnection
{
    using Header = QPair<QString, QString>;

    QString url;
    QDateTime started;
    QString httpVersion = QStringLiteral("HTTP/1.1");
    QList<Header> requestHeaders;
    int status = 101;
    QList<Header> responseHeaders;
    // The side the frames' default peer is: the server's address, or a
    // client's in server mode.
    QString peer;
    QList<HarMessage> messages;
    QList<HarNote> notes;

    qsizetype sentCount() const;
};

#pragma once

#include "comm/LogEntry.h"
#include "decode/FrameEncoder.h"
#include "websocket/SendBoxContent.h"

#include <QByteArray>
#include <QString>

class CommunicationBase;

// What the send box becomes on the wire: the payload and its frame kind, or
// the reason it cannot go.
struct SendComposition
{
    enum class Outcome
    {
        // An empty box sends nothing and says nothing.
        Empty,
        Refused,
        Ready
    };

    Outcome outcome = Outcome::Empty;
    // Why it was refused, as logged.
    QString problem;
    LogEntry::FrameKind kind = LogEntry::FrameKind::Text;
    // The bytes on the wire; for a plain text frame the UTF-8 of `text`.
    QByteArray payload;
    // A plain text frame goes as text, so that the connection can refuse what
    // is not valid UTF-8.
    bool asText = false;
    QString text;
};

class SendComposer
{
public:
    // A binary frame carries plain text in the log's selected encoding; a
    // text frame is UTF-8 whatever encoding is selected.
    // With an encoder on, a binary frame's plain text is JSON to encode.
    static SendComposition compose(const SendBoxContent& content, const CommunicationBase& codec,
                                   const FrameEncoder& encoder = FrameEncoder());
};

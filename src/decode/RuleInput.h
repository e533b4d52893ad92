#pragma once

#include "comm/LogEntry.h"

#include <QByteArray>
#include <QString>

#include <functional>

class FrameDecoder;

// What chart rules and smart analysis read of a received frame: with a
// decoder chosen, a binary frame's decoded value as JSON on one line, just
// as they read a JSON text frame; otherwise (or when it does not decode)
// the frame's own text.
class RuleInput
{
public:
    // Empty when the frame is to be read as it is.
    static QString forFrame(const QByteArray& bytes, LogEntry::FrameKind kind,
                            const FrameDecoder& decoder, bool* decoded = nullptr);

    using EntryReader = std::function<QString(const LogEntry&)>;
    // What is read of a logged entry: a binary frame's decoded value, else
    // what the protocol reads of it (a Socket.IO event's document), else its text.
    static EntryReader reader(const FrameDecoder& decoder, EntryReader protocol);

    RuleInput() = delete;
};

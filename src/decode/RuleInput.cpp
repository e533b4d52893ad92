#include "decode/RuleInput.h"

#include "decode/FrameDecoder.h"

QString RuleInput::forFrame(const QByteArray& bytes, LogEntry::FrameKind kind,
                            const FrameDecoder& decoder, bool* decoded)
{
    if (decoded)
        *decoded = false;
    if (!decoder.isOn() || kind != LogEntry::FrameKind::Binary)
        return QString();
    const DecodedFrame frame = decoder.decode(bytes);
    if (!frame.ok)
        return QString();
    if (decoded)
        *decoded = true;
    return frame.compact();
}

RuleInput::EntryReader RuleInput::reader(const FrameDecoder& decoder, EntryReader protocol)
{
    return [decoder, protocol = std::move(protocol)](const LogEntry& entry) {
        const QString decoded = forFrame(entry.rawData(), entry.frameKind(), decoder);
        if (!decoded.isEmpty())
            return decoded;
        return protocol ? protocol(entry) : entry.text();
    };
}

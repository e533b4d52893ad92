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

#include "websocket/SendComposer.h"

#include "comm/CommunicationBase.h"
#include "comm/HexText.h"

SendComposition SendComposer::compose(const SendBoxContent& content, const CommunicationBase& codec,
                                      const FrameEncoder& encoder)
{
    SendComposition c;
    if (content.text.isEmpty())
        return c;
    c.kind = content.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text;
    if (content.hex) {
        const QString problem = hexProblem(content.text);
        if (!problem.isEmpty()) {
            c.outcome = SendComposition::Outcome::Refused;
            c.problem = QStringLiteral("无效的十六进制数据: ") + problem;
            return c;
        }
        c.payload = hexToBytes(content.text);
    } else if (content.binary && encoder.isOn()) {
        QString problem;
        if (!encoder.encode(content.text, &c.payload, &problem)) {
            c.outcome = SendComposition::Outcome::Refused;
            c.problem = QStringLiteral("未发送：") + problem;
            c.payload.clear();
            return c;
        }
    } else if (content.binary) {
        c.payload = codec.encode(content.text);
    } else {
        c.asText = true;
        c.text = content.text;
        c.payload = content.text.toUtf8();
    }
    c.outcome = SendComposition::Outcome::Ready;
    return c;
}

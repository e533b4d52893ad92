#include "session/RecordingResponder.h"

#include <algorithm>

void RecordingResponder::setRecording(const RecordedExchange& exchange, bool recordedGaps)
{
    m_exchange = exchange;
    m_recordedGaps = recordedGaps;
    m_clientFrames.clear();
}

Responder::Replies RecordingResponder::repliesAfter(qsizetype clientFrames) const
{
    Replies replies;
    for (const RecordedExchange::ServerFrame& frame : m_exchange.serverFramesAfter(clientFrames)) {
        Reply reply;
        reply.data = frame.message.data;
        reply.kind = frame.message.binary ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text;
        reply.delayMs =
            m_recordedGaps ? int(std::min<qint64>(frame.gapMs, qint64(24) * 3600 * 1000)) : 0;
        reply.source = QStringLiteral("模拟服务器");
        replies.append(reply);
    }
    return replies;
}

Responder::Replies RecordingResponder::connected(quint64 client, const QString&)
{
    m_clientFrames.insert(client, 0);
    return repliesAfter(0);
}

std::optional<Responder::Replies> RecordingResponder::received(const Incoming& frame)
{
    qsizetype& count = m_clientFrames[frame.client];
    if (count >= m_exchange.sent().size())
        return std::nullopt;
    const HarMessage& expected = m_exchange.sent()[count];
    ++count;
    const bool binary = frame.kind == LogEntry::FrameKind::Binary;
    if (!RecordedExchange::matches(expected, frame.data, binary))
        m_notices.append(QStringLiteral("模拟服务器: %1 的第 %2 条与录制不同: 期望 %3 收到 %4")
                             .arg(frame.peer)
                             .arg(count)
                             .arg(RecordedExchange::shortText(expected.data, expected.binary),
                                  RecordedExchange::shortText(frame.data, binary)));
    return repliesAfter(count);
}

void RecordingResponder::left(quint64 client)
{
    m_clientFrames.remove(client);
}

QStringList RecordingResponder::takeNotices()
{
    return std::exchange(m_notices, {});
}

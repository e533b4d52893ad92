#include "websocket/ReceiveRouter.h"

#include "comm/CommunicationBase.h"
#include "comm/TextCodec.h"
#include "decode/RuleInput.h"

ReceiveRouter::ReceiveRouter(CommunicationBase* log, RuleSource rules, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_rules(std::move(rules))
{}

void ReceiveRouter::routeText(const QString& message, const QString& peer)
{
    // Formed once: the entry keeps these bytes, and the JSON rules read them.
    const QByteArray utf8 = compactUtf8(message);
    m_log->logFrame(LogEntry::RX, utf8, LogEntry::FrameKind::Text, peer);
    const RuleEvaluator evaluator = m_rules();
    if (evaluator.rules().isEmpty())
        return;
    if (const QString document = m_document ? m_document(message) : QString(); !document.isNull())
        feed(document, QByteArray(), evaluator);
    else
        feed(message, utf8, evaluator);
}

void ReceiveRouter::routeBinary(const QByteArray& message, const QString& peer)
{
    m_log->logFrame(LogEntry::RX, message, LogEntry::FrameKind::Binary, peer);
    // Without rules nothing can be plotted: spare a large frame its decoding.
    const RuleEvaluator evaluator = m_rules();
    if (evaluator.rules().isEmpty())
        return;
    const QString decoded = RuleInput::forFrame(message, LogEntry::FrameKind::Binary, m_decoder);
    feed(decoded.isEmpty() ? m_log->decode(message) : decoded, QByteArray(), evaluator);
}

void ReceiveRouter::routeRecorded(const LogEntry& entry)
{
    const RuleEvaluator evaluator = m_rules();
    if (entry.direction() != LogEntry::RX || evaluator.rules().isEmpty())
        return;
    const bool text = entry.frameKind() == LogEntry::FrameKind::Text;
    feed(entry.text(), text ? entry.rawData() : QByteArray(), evaluator,
         entry.timestamp().isValid() ? entry.timestamp() : QDateTime::currentDateTime());
}

void ReceiveRouter::feed(const QString& text, const QByteArray& utf8,
                         const RuleEvaluator& evaluator, const QDateTime& recordedAt)
{
    const QStringList lines = splitChartLines(text);
    const QList<ChartRule>& rules = evaluator.rules();
    for (const QString& line : lines) {
        // A frame that is one line as it came needs no UTF-8 of its own.
        const bool whole = lines.size() == 1 && line.size() == text.size();
        const QList<std::optional<double>> values =
            evaluator.valuesIn(line, whole ? utf8 : QByteArray());
        for (qsizetype k = 0; k < rules.size(); ++k) {
            if (!values.at(k))
                continue;
            if (recordedAt.isValid())
                emit recordedValueFound(rules.at(k), *values.at(k), recordedAt);
            else
                emit valueFound(rules.at(k), *values.at(k));
        }
    }
}

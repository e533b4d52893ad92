#include "websocket/ReceiveRouter.h"

#include "comm/CommunicationBase.h"
#include "comm/TextCodec.h"

ReceiveRouter::ReceiveRouter(CommunicationBase* log, RuleSource rules, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_rules(std::move(rules))
{}

void ReceiveRouter::routeText(const QString& message, const QString& peer)
{
    m_log->logFrame(LogEntry::RX, compactUtf8(message), LogEntry::FrameKind::Text, peer);
    const QList<ChartRule> rules = m_rules();
    if (!rules.isEmpty())
        feed(message, rules);
}

void ReceiveRouter::routeBinary(const QByteArray& message, const QString& peer)
{
    m_log->logFrame(LogEntry::RX, message, LogEntry::FrameKind::Binary, peer);
    // Without rules nothing can be plotted: spare a large frame its decoding.
    const QList<ChartRule> rules = m_rules();
    if (!rules.isEmpty())
        feed(m_log->decode(message), rules);
}

void ReceiveRouter::feed(const QString& text, const QList<ChartRule>& rules)
{
    for (const QString& line : splitChartLines(text)) {
        for (const ChartRule& rule : rules) {
            if (const auto value = evaluateRule(line, rule))
                emit valueFound(rule, *value);
        }
    }
}

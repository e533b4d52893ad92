#pragma once

#include "chart/ChartRule.h"
#include "chart/RuleEvaluator.h"
#include "decode/FrameDecoder.h"

#include <QList>
#include <QObject>

#include <functional>

class CommunicationBase;

// A received frame goes to the log as the bytes that were on the wire, then
// its lines to the chart rules; every value a rule finds is offered.
class ReceiveRouter : public QObject
{
    Q_OBJECT

public:
    // A copy: adding a value must not pull the rules from under the loop.
    using RuleSource = std::function<RuleEvaluator()>;

    ReceiveRouter(CommunicationBase* log, RuleSource rules, QObject* parent = nullptr);

    void routeText(const QString& message, const QString& peer);
    void routeBinary(const QByteArray& message, const QString& peer);
    // With a decoder on, the rules read a binary frame's decoded value.
    void setDecoder(const FrameDecoder& decoder) { m_decoder = decoder; }

signals:
    void valueFound(const ChartRule& rule, double value);

private:
    void feed(const QString& text, const QByteArray& utf8, const RuleEvaluator& evaluator);

    CommunicationBase* m_log;
    RuleSource m_rules;
    FrameDecoder m_decoder;
};

#pragma once

#include "chart/ChartRule.h"
#include "chart/RuleEvaluator.h"

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

    // The document rules read of a received text frame, when a protocol
    // gives it one (a Socket.IO event as {"event":…,"args":[…]}); null: the
    // frame as it came.
    using DocumentReader = std::function<QString(const QString& frame)>;
    void setDocumentReader(DocumentReader reader) { m_document = std::move(reader); }

    void routeText(const QString& message, const QString& peer);
    void routeBinary(const QByteArray& message, const QString& peer);

signals:
    void valueFound(const ChartRule& rule, double value);

private:
    void feed(const QString& text, const QByteArray& utf8, const RuleEvaluator& evaluator);

    CommunicationBase* m_log;
    RuleSource m_rules;
    DocumentReader m_document;
};

#pragma once

#include "chart/ChartRule.h"
#include "chart/RuleEvaluator.h"
#include "comm/LogEntry.h"
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

    // The document rules read of a received text frame, when a protocol
    // gives it one (a Socket.IO event as {"event":…,"args":[…]}); null: the
    // frame as it came.
    using DocumentReader = std::function<QString(const QString& frame)>;
    void setDocumentReader(DocumentReader reader) { m_document = std::move(reader); }

    void routeText(const QString& message, const QString& peer);
    void routeBinary(const QByteArray& message, const QString& peer);
    // A received frame of an opened recording, already in the log: only its
    // values, at its recorded time.
    void routeRecorded(const LogEntry& entry);
    // With a decoder on, the rules read a binary frame's decoded value.
    void setDecoder(const FrameDecoder& decoder) { m_decoder = decoder; }

signals:
    void valueFound(const ChartRule& rule, double value);
    void recordedValueFound(const ChartRule& rule, double value, const QDateTime& time);

private:
    // `recordedAt`: a recorded frame's time; invalid for a live frame.
    void feed(const QString& text, const QByteArray& utf8, const RuleEvaluator& evaluator,
              const QDateTime& recordedAt = QDateTime());

    CommunicationBase* m_log;
    RuleSource m_rules;
    DocumentReader m_document;
    FrameDecoder m_decoder;
};

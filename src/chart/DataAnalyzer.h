#pragma once

#include "chart/ChartRule.h"
#include "chart/SeriesPoints.h"

#include <QDateTime>
#include <QList>
#include <QString>

class FrameDecoder;
class LogEntry;

// One received text and when it arrived.
struct AnalysisSample
{
    QDateTime time;
    QString text;
};

// A rule the analysis suggests, with the values it already finds in the
// samples (time-stamped with their samples' times, oldest first).
struct ValueProposal
{
    ChartRule rule;
    QList<DataPoint> points;
    // How many samples hold a value for the rule.
    int sampleCount = 0;
};

// Finds the numbers that recur in received texts: members of JSON documents
// (by path) and "name=value" / "name: value" pairs, and proposes for each the
// rule a user would type for it.
class DataAnalyzer
{
public:
    // How many of the newest received entries are looked at.
    static constexpr int recentCount = 200;
    // Proposals at most, those found in the most samples first.
    static constexpr int maxProposals = 20;
    // Texts longer than this are passed over: parsing them is no quick look.
    static constexpr int maxSampleChars = 64 * 1024;

    // The newest `count` received (RX) entries, oldest first; with a
    // decoder, binary ones as their decoded value.
    static QList<AnalysisSample> recentReceived(const QList<LogEntry>& entries,
                                                int count = recentCount,
                                                const FrameDecoder* decoder = nullptr);

    // The values found in at least two samples. Names are unique.
    static QList<ValueProposal> analyze(const QList<AnalysisSample>& samples);

    // The proposals that no rule already covers (same kind and expression),
    // renamed where a rule has their name.
    static QList<ValueProposal> withoutRules(QList<ValueProposal> proposals,
                                             const QList<ChartRule>& rules);

    DataAnalyzer() = delete;
};

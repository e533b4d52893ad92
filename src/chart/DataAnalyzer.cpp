#include "chart/DataAnalyzer.h"

#include "chart/RuleEvaluator.h"
#include "decode/FrameDecoder.h"
#include "decode/RuleInput.h"

#include "comm/LogEntry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// Bounds on what one look at the data collects: a long JSON array or a wide
// document must not turn into hundreds of proposals.
constexpr int kMaxLeavesPerLine = 32;
constexpr int kMaxArrayItems = 8;
constexpr int kMaxDepth = 8;
constexpr int kMaxCandidates = 64;
constexpr int kMaxLinesPerSample = 64;
constexpr int kMinSamples = 2;

class Candidates
{
public:
    void add(const QString& name, int kind, const QString& expression)
    {
        if (m_rules.size() >= kMaxCandidates)
            return;
        const QString key = QString::number(kind) + QLatin1Char('\n') + expression;
        if (m_keys.contains(key))
            return;
        m_keys.insert(key);
        m_rules.append(ChartRule{name, kind, expression});
    }
    const QList<ChartRule>& rules() const { return m_rules; }

private:
    QList<ChartRule> m_rules;
    QSet<QString> m_keys;
};

void collectJson(const QJsonValue& value, const QString& path, int depth, Candidates& out,
                 int& leaves)
{
    if (leaves >= kMaxLeavesPerLine || depth > kMaxDepth)
        return;
    const auto child = [&path](const QString& step) {
        return path.isEmpty() ? step : path + QLatin1Char('.') + step;
    };
    if (value.isDouble()) {
        if (!path.isEmpty()) {
            out.add(path, JsonPath, path);
            ++leaves;
        }
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            // Only keys a typed path can name and that do not read as a pattern.
            const QString& key = it.key();
            if (key.isEmpty() || key.contains(QLatin1Char('.')) || key != key.trimmed() ||
                ruleKindForExpression(key) != JsonPath)
                continue;
            collectJson(it.value(), child(key), depth + 1, out, leaves);
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size() && i < kMaxArrayItems; ++i)
            collectJson(array.at(i), child(QString::number(i)), depth + 1, out, leaves);
    }
}

bool collectJsonLine(const QString& line, Candidates& out)
{
    const QChar first = line.front();
    if (first != QLatin1Char('{') && first != QLatin1Char('['))
        return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    int leaves = 0;
    collectJson(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array()), QString(), 0,
                out, leaves);
    return true;
}

void collectPairs(const QString& line, Candidates& out)
{
    // A name (letters first, any script) and a number, joined by "=" or ":".
    static const QRegularExpression pair(
        QStringLiteral(R"((?<![\w.])([^\W\d]\w*)\s*([=:])\s*(-?\d+(?:\.\d+)?)(?![\w.:]))"),
        QRegularExpression::UseUnicodePropertiesOption);
    auto matches = pair.globalMatch(line);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = match.captured(1);
        // Rules match without Unicode rules, where \b only knows ASCII words.
        const QChar first = name.front();
        const bool asciiWord =
            first == QLatin1Char('_') || (first.isLetter() && first.unicode() < 128);
        const QString expression = (asciiWord ? QStringLiteral("\\b") : QString()) + name +
                                   QStringLiteral("\\s*") + match.captured(2) +
                                   QStringLiteral("\\s*(-?\\d+\\.?\\d*)");
        out.add(name, RegexCapture, expression);
    }
}

QString uniqueName(const QString& name, const QSet<QString>& taken)
{
    if (!taken.contains(name))
        return name;
    for (int n = 2;; ++n) {
        const QString candidate = name + QLatin1Char('_') + QString::number(n);
        if (!taken.contains(candidate))
            return candidate;
    }
}

} // namespace

QList<AnalysisSample> DataAnalyzer::recentReceived(const QList<LogEntry>& entries, int count,
                                                   const FrameDecoder* decoder)
{
    QList<AnalysisSample> samples;
    for (auto it = entries.crbegin(); it != entries.crend() && samples.size() < count; ++it) {
        if (it->direction() != LogEntry::RX)
            continue;
        const QString decoded =
            decoder ? RuleInput::forFrame(it->rawData(), it->frameKind(), *decoder) : QString();
        samples.append(AnalysisSample{it->timestamp(), decoded.isEmpty() ? it->text() : decoded});
    }
    std::reverse(samples.begin(), samples.end());
    return samples;
}

QList<ValueProposal> DataAnalyzer::analyze(const QList<AnalysisSample>& samples)
{
    QList<QStringList> linesOf;
    linesOf.reserve(samples.size());
    Candidates candidates;
    for (const AnalysisSample& sample : samples) {
        QStringList lines;
        if (sample.text.size() <= maxSampleChars)
            lines = splitChartLines(sample.text).mid(0, kMaxLinesPerSample);
        linesOf.append(lines);
        for (const QString& line : std::as_const(linesOf.last())) {
            if (!collectJsonLine(line, candidates))
                collectPairs(line, candidates);
        }
    }

    // The values are what the rules themselves find, so the chart goes on
    // exactly as it starts.
    const QList<ChartRule>& rules = candidates.rules();
    QList<ValueProposal> found(rules.size());
    for (qsizetype k = 0; k < rules.size(); ++k)
        found[k].rule = rules.at(k);
    const RuleEvaluator evaluator(rules);
    for (qsizetype s = 0; s < samples.size(); ++s) {
        QList<bool> seen(rules.size(), false);
        for (const QString& line : std::as_const(linesOf.at(s))) {
            const QList<std::optional<double>> values = evaluator.valuesIn(line);
            for (qsizetype k = 0; k < rules.size(); ++k) {
                const std::optional<double>& value = values.at(k);
                if (!value)
                    continue;
                found[k].points.append(DataPoint{samples.at(s).time, *value});
                if (!seen.at(k)) {
                    seen[k] = true;
                    ++found[k].sampleCount;
                }
            }
        }
    }

    found.removeIf([](const ValueProposal& p) { return p.sampleCount < kMinSamples; });
    for (ValueProposal& proposal : found) {
        const qsizetype excess = proposal.points.size() - SeriesPoints::MaxPoints;
        if (excess > 0)
            proposal.points.remove(0, excess);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const ValueProposal& a, const ValueProposal& b) {
                         return a.sampleCount > b.sampleCount;
                     });
    if (found.size() > maxProposals)
        found.resize(maxProposals);
    QSet<QString> names;
    for (ValueProposal& proposal : found) {
        proposal.rule.name = uniqueName(proposal.rule.name, names);
        names.insert(proposal.rule.name);
    }
    return found;
}

QList<ValueProposal> DataAnalyzer::withoutRules(QList<ValueProposal> proposals,
                                                const QList<ChartRule>& rules)
{
    QSet<QString> names;
    for (const ChartRule& rule : rules)
        names.insert(rule.name);
    proposals.removeIf([&rules](const ValueProposal& proposal) {
        return std::any_of(rules.begin(), rules.end(), [&proposal](const ChartRule& rule) {
            return rule.kind == proposal.rule.kind && rule.expression == proposal.rule.expression;
        });
    });
    for (ValueProposal& proposal : proposals) {
        proposal.rule.name = uniqueName(proposal.rule.name, names);
        names.insert(proposal.rule.name);
    }
    return proposals;
}

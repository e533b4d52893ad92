#include "chart/ChartRule.h"

#include "chart/RuleEvaluator.h"

#include <QRegularExpression>

std::optional<double> evaluateRule(const QString& line, const ChartRule& rule)
{
    return RuleEvaluator({rule}).valuesIn(line).constFirst();
}

QStringList splitChartLines(const QString& text)
{
    // Runs of CR and LF separate lines; scanned by hand, as this runs for
    // every received frame.
    QStringList lines;
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && text.at(i) != QLatin1Char('\r') && text.at(i) != QLatin1Char('\n'))
            continue;
        if (i > start) {
            const QString line = text.mid(start, i - start).trimmed();
            if (!line.isEmpty())
                lines.append(line);
        }
        start = i + 1;
    }
    return lines;
}

int ruleKindForExpression(const QString& expression)
{
    static const QRegularExpression metaCharacters(
        QStringLiteral(R"([\\\[\]\(\)\|\*\+\?\^\$\{\}])"));
    return metaCharacters.match(expression).hasMatch() ? RegexCapture : JsonPath;
}

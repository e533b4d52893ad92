// One chart rule against received text. Input: a kind character, the
// expression up to the first line feed, then the received text.
// Kinds '0'..'3' are the four rule kinds; other digits are kinds no rule has.
#include "chart/ChartRule.h"
#include "chart/RuleEvaluator.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "rule invariant broken: %s\n", what);
        std::abort();
    }
}

bool sameResult(const std::optional<double>& a, const std::optional<double>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    return (std::isnan(*a) && std::isnan(*b)) || *a == *b;
}

std::optional<double> checkLine(const QString& line, const ChartRule& rule)
{
    const std::optional<double> value = evaluateRule(line, rule);
    // A second look must agree with the first.
    check(sameResult(value, evaluateRule(line, rule)), "same line, same result");
    if (line.isEmpty())
        check(!value, "an empty line holds no number");

    switch (rule.kind) {
    case JsonPath:
    case RegexCapture:
    case IndexedValue:
        break;
    case RegexPresence:
        check(!value || *value == 1.0, "presence counts one");
        break;
    default:
        check(!value, "an unknown kind finds nothing");
        break;
    }
    if (value && rule.kind == IndexedValue) {
        bool ok = false;
        const int index = rule.expression.toInt(&ok);
        check(ok && index >= 0, "only a non-negative index can match");
        check(line.contains(QLatin1Char('[')), "an indexed value sits behind a bracket");
    }
    if (value && rule.kind == JsonPath) {
        const QString trimmed = line.trimmed();
        check(trimmed.startsWith(QLatin1Char('{')) || trimmed.startsWith(QLatin1Char('[')),
              "only a JSON object or array holds a path");
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const char selector = input.at(0);
    const int kind = (selector >= '0' && selector <= '9') ? selector - '0' : uchar(selector) % 4;

    const qsizetype feed = input.indexOf('\n', 1);
    const QByteArray expression = feed < 0 ? input.mid(1) : input.mid(1, feed - 1);
    const QByteArray text = feed < 0 ? QByteArray() : input.mid(feed + 1);

    const ChartRule rule{QStringLiteral("fuzz"), kind, QString::fromUtf8(expression)};
    const QString received = QString::fromUtf8(text);

    // The whole text as one line, as a direct caller might pass it.
    QStringList looked{received};
    QList<std::optional<double>> found{checkLine(received, rule)};

    // Then the way the window feeds it: line by line.
    const QStringList lines = splitChartLines(received);
    for (const QString& line : lines) {
        check(!line.isEmpty(), "no empty lines");
        check(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')),
              "lines hold no line breaks");
        check(line == line.trimmed(), "lines are trimmed");
        looked.append(line);
        found.append(checkLine(line, rule));
    }

    // Whatever is cached between calls, a line read again after others, and
    // under another rule in between, gives what it gave the first time.
    const ChartRule other{QStringLiteral("other"), rule.kind == JsonPath ? RegexCapture : JsonPath,
                          QStringLiteral("0")};
    for (qsizetype i = looked.size() - 1; i >= 0; --i) {
        evaluateRule(looked.at(i), other);
        check(sameResult(evaluateRule(looked.at(i), rule), found.at(i)),
              "a result does not depend on earlier lines");
    }

    // All kinds at once, as the window reads a frame: one look at each line,
    // its own bytes standing in for it, gives what each rule alone finds.
    QList<ChartRule> set;
    for (int k = 0; k < 4; ++k)
        set.append(ChartRule{QString::number(k), k, rule.expression});
    set.append(other);
    const RuleEvaluator evaluator(set);
    for (const QString& line : std::as_const(looked)) {
        const QList<std::optional<double>> together = evaluator.valuesIn(line, line.toUtf8());
        check(together.size() == set.size(), "a value or none for every rule");
        for (qsizetype k = 0; k < set.size(); ++k)
            check(sameResult(together.at(k), evaluateRule(line, set.at(k))),
                  "rules read together find what each finds alone");
    }

    // What the panel would make of the expression as typed.
    const int typedKind = ruleKindForExpression(rule.expression);
    check(typedKind == JsonPath || typedKind == RegexCapture, "typed rules are paths or patterns");
    return 0;
}

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// How a rule's expression is applied to a line of received text.
enum RuleKind
{
    JsonPath = 0,
    RegexCapture = 1,
    IndexedValue = 2,
    RegexPresence = 3
};

// The value axis a rule's series is drawn against: values of another scale
// (3.3 V beside 50 %) go to the right one, or they draw a flat line.
enum RuleAxis
{
    LeftAxis = 0,
    RightAxis = 1
};

// One way of taking a number out of a line; `name` is also the series it feeds.
struct ChartRule
{
    QString name;
    int kind = JsonPath;
    QString expression;
    int axis = LeftAxis;
};

// The number that `rule` finds in `line`, if any. For many lines or rules,
// RuleEvaluator compiles and parses once.
std::optional<double> evaluateRule(const QString& line, const ChartRule& rule);

// The lines of a received text: split at runs of CR/LF, trimmed, empty ones dropped.
QStringList splitChartLines(const QString& text);

// The kind the panel gives a typed expression: a regular expression as soon as it
// holds a regex metacharacter (the point excepted), a JSON path otherwise.
int ruleKindForExpression(const QString& expression);

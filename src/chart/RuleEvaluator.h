#pragma once

#include "chart/ChartRule.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// A set of rules made ready for many lines: their patterns compiled and
// their paths split once, and each line parsed as JSON at most once however
// many JSON rules read it. Holds nothing of the lines it has seen.
class RuleEvaluator
{
public:
    RuleEvaluator() = default;
    explicit RuleEvaluator(const QList<ChartRule>& rules);

    const QList<ChartRule>& rules() const { return m_rules; }
    // Whether this is made from exactly these rules.
    bool isFor(const QList<ChartRule>& rules) const;

    // The number each rule finds in `line`, in the rules' order. `lineUtf8`,
    // when not empty, is the line's own UTF-8 (a text frame's bytes): the JSON
    // rules read it instead of converting the line back.
    QList<std::optional<double>> valuesIn(const QString& line,
                                          const QByteArray& lineUtf8 = QByteArray()) const;

private:
    struct Prepared
    {
        QRegularExpression pattern;
        QStringList path;
        int index = 0;
        bool indexOk = false;
    };

    QList<ChartRule> m_rules;
    QList<Prepared> m_prepared;
    bool m_hasJson = false;
};

#include "chart/ChartRule.h"
#include "chart/DataAnalyzer.h"
#include "chart/RuleEvaluator.h"
#include "comm/LogEntry.h"

#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<double>)

// Taking numbers out of received lines, without a chart to show them.
class ChartRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldEvaluateRulesOfEveryKind_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("line");
        QTest::addColumn<std::optional<double>>("expected");
        const auto row = [](const char* name, int kind, const char* expression, const char* line,
                            std::optional<double> expected) {
            QTest::newRow(name) << kind << QString::fromUtf8(expression) << QString::fromUtf8(line)
                                << expected;
        };
        const std::optional<double> none;

        row("json number", JsonPath, "temperature", R"({"temperature": 21.5})", 21.5);
        row("json array index", JsonPath, "items.1", R"({"items": [4, 5]})", 5.0);
        row("json array root, true", JsonPath, "0.t", R"([{"t": true}])", 1.0);
        row("json blanks trimmed", JsonPath, "a", "   {\"a\": 3}  \t", 3.0);
        row("json text before", JsonPath, "a", R"(x {"a": 3})", none);
        row("json broken", JsonPath, "a", R"({"a": )", none);
        row("json null", JsonPath, "a.b", R"({"a": {"b": null}})", none);
        row("json false", JsonPath, "a.b", R"({"a": {"b": false}})", 0.0);
        row("json 1e3 string", JsonPath, "a.b", R"({"a": {"b": "1e3"}})", 1000.0);
        row("json negative index", JsonPath, "list.-1", R"({"list": [9]})", none);
        row("json index out of range", JsonPath, "list.1", R"({"list": [9]})", none);
        row("json object result", JsonPath, "a", R"({"a": {"b": 1}})", none);
        row("json empty middle step", JsonPath, "a..b", R"({"a": {"": {"b": 4}}})", 4.0);
        row("json trailing point", JsonPath, "a.", R"({"a": 4})", none);

        row("regex whole match", RegexCapture, "\\d+\\.?\\d*", "T=23.5C", 23.5);
        row("regex group 1", RegexCapture, "v=(\\d+)", "v=42", 42.0);
        row("regex group not a number", RegexCapture, "volt:(\\S+)", "volt:3.3V", none);
        row("regex only later group", RegexCapture, "a(\\d)|b(\\d)", "b5", none);
        row("regex invalid", RegexCapture, "(\\d+", "12", none);

        row("indexed spaced", IndexedValue, "2", "[2] = 3.75", 3.75);
        row("indexed negative", IndexedValue, "2", "[2]=-1", -1.0);
        row("indexed first pair only", IndexedValue, "2", "[1] = 5 [2] = 6", none);
        row("indexed index not a number", IndexedValue, "x", "[2] = 1", none);
        // An index beyond the int range must not pass for index 0.
        row("indexed huge index", IndexedValue, "0", "[99999999999] = 8", none);
        row("indexed zero", IndexedValue, "0", "pre [0] = 8 post", 8.0);

        row("presence", RegexPresence, "ERR\\w*", "x ERROR 42", 1.0);
        row("presence absent", RegexPresence, "ERR\\w*", "all fine 42", none);
        row("presence invalid", RegexPresence, "(", "x", none);
        row("unknown kind", 4, "\\d+", "12", none);
    }

    void shouldEvaluateRulesOfEveryKind()
    {
        QFETCH(int, kind);
        QFETCH(QString, expression);
        QFETCH(QString, line);
        QFETCH(std::optional<double>, expected);
        const ChartRule rule{u"r"_s, kind, expression};
        QCOMPARE(evaluateRule(line, rule), expected);
        QCOMPARE(evaluateRule(line, rule), expected); // nothing carries over between lines
    }

    void shouldReadEveryRuleOfALineFromOneLookAtIt()
    {
        const RuleEvaluator evaluator({{u"t"_s, JsonPath, u"t"_s},
                                       {u"s"_s, JsonPath, u"s.1"_s},
                                       {u"v"_s, RegexCapture, u"v=(\\d+)"_s},
                                       {u"x"_s, JsonPath, u"missing"_s}});
        const QString line = uR"({"t": 21.5, "s": [1, 2], "n": "v=7"})"_s;
        const QList<std::optional<double>> expected{21.5, 2.0, 7.0, std::nullopt};
        QCOMPARE(evaluator.valuesIn(line), expected);
        // The frame's own bytes read the same.
        QCOMPARE(evaluator.valuesIn(line, line.toUtf8()), expected);
        // A blank that only the line trims is no JSON: its bytes would not parse.
        const QString spaced = u"\u00A0"_s + line;
        QCOMPARE(evaluator.valuesIn(spaced, spaced.toUtf8()), expected);
        QCOMPARE(evaluator.valuesIn(u"[1"_s, "[1"), QList<std::optional<double>>(4));

        QVERIFY(evaluator.isFor(evaluator.rules()));
        QVERIFY(!evaluator.isFor({{u"t"_s, JsonPath, u"u"_s}}));
    }

    void shouldSplitFrameAtLineBreakRuns()
    {
        QCOMPARE(splitChartLines(u"12\r\n\r\n13"_s), QStringList({u"12"_s, u"13"_s}));
        QCOMPARE(splitChartLines(u"\n  a b \r\r\n \t \n c\r"_s), QStringList({u"a b"_s, u"c"_s}));
        QVERIFY(splitChartLines(u"\r\n \r\n"_s).isEmpty());
    }

    void shouldProposeValuesThatRecurInRecordedMessages()
    {
        // Received from a sensor: JSON documents and "name=value" lines.
        const char* recorded[] = {
            R"({"temp": 21.5, "hum": 40, "meta": {"seq": 1, "id": "a1"}, "ok": [true]})",
            "volt=3.30 cur: 0.5\nboot ok",
            R"({"temp": 21.7, "hum": 41, "meta": {"seq": 2, "id": "a2"}})",
            "volt = 3.31, cur: -0.25 once=9 status: ready",
            R"({"temp": 21.9, "meta": {"seq": 3}, "list": [1, 2]})"};
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-30);
        QList<LogEntry> entries;
        for (int i = 0; i < 5; ++i) {
            entries.append(LogEntry(LogEntry::RX, recorded[i], u"UTF-8"_s));
            entries.last().setTimestamp(t0.addSecs(i));
        }
        // Only what was received counts.
        entries.insert(1, LogEntry(LogEntry::TX, "volt=99", u"UTF-8"_s));
        entries.append(LogEntry(u"sys=1"_s));
        const QList<AnalysisSample> samples = DataAnalyzer::recentReceived(entries);
        QCOMPARE(samples.size(), 5);
        QCOMPARE(DataAnalyzer::recentReceived(entries, 2).first().time, t0.addSecs(3));

        // Found in most messages first; "once", "list.*" and words are no series.
        const QList<ValueProposal> found = DataAnalyzer::analyze(samples);
        QStringList listed;
        for (const ValueProposal& proposal : found) {
            listed.append(proposal.rule.name + u" = "_s + proposal.rule.expression);
            // As a user would type it.
            QCOMPARE(ruleKindForExpression(proposal.rule.expression), proposal.rule.kind);
        }
        QCOMPARE(listed, QStringList({u"meta.seq = meta.seq"_s, u"temp = temp"_s, u"hum = hum"_s,
                                      u"volt = \\bvolt\\s*=\\s*(-?\\d+\\.?\\d*)"_s,
                                      u"cur = \\bcur\\s*:\\s*(-?\\d+\\.?\\d*)"_s}));
        // A sequence number, not the two values that happen to differ by one.
        QCOMPARE(found.at(0).counter, true);
        QVERIFY(!found.at(2).counter && found.at(2).points.size() == 2);
        QCOMPARE(found.at(4).points.size(), 2);
        QCOMPARE(found.at(4).points.at(1).value, -0.25);
        QCOMPARE(found.at(4).points.at(1).time, t0.addSecs(3));
    }
};

QTEST_GUILESS_MAIN(ChartRulesTest)
#include "tst_chartrules.moc"

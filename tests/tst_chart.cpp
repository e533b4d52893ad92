#include "chart/ChartEngine.h"
#include "chart/ChartRule.h"
#include "chart/ChartSeriesData.h"
#include "chart/ChartWidget.h"
#include "i18n/LanguageManager.h"

#include <QAreaSeries>
#include <QBarSeries>
#include <QBarSet>
#include <QCheckBox>
#include <QDateTimeAxis>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplineSeries>
#include <QStandardPaths>
#include <QTimer>
#include <QValueAxis>
#include <QtTest>

#include <limits>
#include <memory>
#include <optional>

namespace {

QValueAxis* valueAxis(QChart* chart)
{
    const QList<QAbstractAxis*> axes = chart->axes(Qt::Vertical);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}

void addRule(ChartEngine& engine, const QString& name, const QString& expression)
{
    engine.ruleNameEdit()->setText(name);
    engine.expressionEdit()->setText(expression);
    engine.onAddRule();
}

int pointCountOf(QAbstractSeries* series)
{
    if (auto* xy = qobject_cast<QXYSeries*>(series))
        return int(xy->count());
    if (auto* area = qobject_cast<QAreaSeries*>(series))
        return int(area->upperSeries()->count());
    return -1;
}

QColor pixelAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

} // namespace

Q_DECLARE_METATYPE(std::optional<double>)

class ChartTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shouldFollowJsonPaths_data();
    void shouldFollowJsonPaths();
    void shouldTakeCaptureGroupOrWholeMatch_data();
    void shouldTakeCaptureGroupOrWholeMatch();
    void shouldReadOnlyFirstIndexedPair_data();
    void shouldReadOnlyFirstIndexedPair();
    void shouldGiveOneForPresenceAndNothingForUnknownKinds();
    void shouldSplitFrameAtLineBreakRuns();
    void shouldPlotEveryLineOfAFrameInOrder();

    void shouldStartDisabledAndShowChartWhenEnabled();
    void shouldChooseKindAndColourWhenAddingRules();
    void shouldIgnoreRuleWithEmptyField();
    void shouldApplyTemplates_data();
    void shouldApplyTemplates();
    void shouldReplaceEarlierRulesWhenChoosingTemplate();
    void shouldFeedFirstSeriesOfDuplicateName();
    void shouldDropOldestPointAtCap();
    void shouldPadValueAxisAroundWindow_data();
    void shouldPadValueAxisAroundWindow();
    void shouldKeepValueRangeWithoutPoints();
    void shouldShowWindowSumAsBarHeight();
    void shouldSizePieSlicesByWindowSums();
    void shouldReplotWhenTimeWindowShrinksAndGrows();
    void shouldKeepSeriesAcrossChartTypes();
    void shouldClearPointsButKeepRules();
    void shouldKeepSeriesColoursUnderDarkStyle();
    void shouldDrawLineWhileValuesKeepArriving();
    void shouldUseAtMostFiveAnalysedSeries();
    void shouldSurviveViewDestroyedBeforePanel();
    void shouldRetranslateControlsOnLanguageSwitch();

    void shouldShowNoDataUnlessFirstSeriesHasPoints();
    void shouldShowOnlyBackgroundWhenTooSmall();
    void shouldCentreConstantSeriesInNarrowRange();
    void shouldFormatValueLabelsByMagnitude();
    void shouldPickGridStepsFromWindowLength();
    void shouldDrawTimeGridLinesAtStepSpacing();
    void shouldRepaintOnTimerAndClampWindow();
};

void ChartTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void ChartTest::cleanup()
{
    LanguageManager::setEnglish(false);
}

// ---- rules ---------------------------------------------------------------

void ChartTest::shouldFollowJsonPaths_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("path");
    QTest::addColumn<std::optional<double>>("expected");

    QTest::newRow("number member") << QStringLiteral(R"({"temperature": 21.5})")
                                   << QStringLiteral("temperature") << std::optional<double>(21.5);
    QTest::newRow("numeric string") << QStringLiteral(R"({"data": {"value": "7"}})")
                                    << QStringLiteral("data.value") << std::optional<double>(7.0);
    QTest::newRow("array index") << QStringLiteral(R"({"items": [4, 5]})")
                                 << QStringLiteral("items.1") << std::optional<double>(5.0);
    QTest::newRow("array root, true") << QStringLiteral(R"([{"t": true}])") << QStringLiteral("0.t")
                                      << std::optional<double>(1.0);
    QTest::newRow("blanks trimmed")
        << QStringLiteral("   {\"a\": 3}  \t") << QStringLiteral("a") << std::optional<double>(3.0);
    QTest::newRow("text before object")
        << QStringLiteral(R"(x {"a": 3})") << QStringLiteral("a") << std::optional<double>();
    QTest::newRow("text after object")
        << QStringLiteral(R"({"a": 3} x)") << QStringLiteral("a") << std::optional<double>();
    QTest::newRow("null") << QStringLiteral(R"({"a": {"b": null}})") << QStringLiteral("a.b")
                          << std::optional<double>();
    QTest::newRow("false") << QStringLiteral(R"({"a": {"b": false}})") << QStringLiteral("a.b")
                           << std::optional<double>(0.0);
    QTest::newRow("1e3 string") << QStringLiteral(R"({"a": {"b": "1e3"}})") << QStringLiteral("a.b")
                                << std::optional<double>(1000.0);
    QTest::newRow("word string") << QStringLiteral(R"({"a": "hot"})") << QStringLiteral("a")
                                 << std::optional<double>();
    QTest::newRow("negative index") << QStringLiteral(R"({"list": [9]})")
                                    << QStringLiteral("list.-1") << std::optional<double>();
    QTest::newRow("index out of range") << QStringLiteral(R"({"list": [9]})")
                                        << QStringLiteral("list.1") << std::optional<double>();
    QTest::newRow("index zero") << QStringLiteral(R"({"list": [9]})") << QStringLiteral("list.0")
                                << std::optional<double>(9.0);
    QTest::newRow("object result")
        << QStringLiteral(R"({"a": {"b": 1}})") << QStringLiteral("a") << std::optional<double>();
    QTest::newRow("array result") << QStringLiteral(R"({"a": [1]})") << QStringLiteral("a")
                                  << std::optional<double>();
    QTest::newRow("empty middle step") << QStringLiteral(R"({"a": {"": {"b": 4}}})")
                                       << QStringLiteral("a..b") << std::optional<double>(4.0);
    QTest::newRow("trailing point needs empty key")
        << QStringLiteral(R"({"a": 4})") << QStringLiteral("a.") << std::optional<double>();
    QTest::newRow("key case matters")
        << QStringLiteral(R"({"Temp": 4})") << QStringLiteral("temp") << std::optional<double>();
    QTest::newRow("broken json") << QStringLiteral(R"({"a": )") << QStringLiteral("a")
                                 << std::optional<double>();
}

void ChartTest::shouldFollowJsonPaths()
{
    QFETCH(QString, line);
    QFETCH(QString, path);
    QFETCH(std::optional<double>, expected);
    QCOMPARE(evaluateRule(line, ChartRule{QStringLiteral("r"), JsonPath, path}), expected);
}

void ChartTest::shouldTakeCaptureGroupOrWholeMatch_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("line");
    QTest::addColumn<std::optional<double>>("expected");

    const QString number = QStringLiteral("\\d+\\.?\\d*");
    QTest::newRow("whole match") << number << QStringLiteral("T=23.5C")
                                 << std::optional<double>(23.5);
    QTest::newRow("no sign in pattern")
        << number << QStringLiteral("-4") << std::optional<double>(4.0);
    QTest::newRow("group 1") << QStringLiteral("v=(\\d+)") << QStringLiteral("v=42")
                             << std::optional<double>(42.0);
    QTest::newRow("group not a number")
        << QStringLiteral("volt:(\\S+)") << QStringLiteral("volt:3.3V") << std::optional<double>();
    QTest::newRow("no digits") << QStringLiteral("\\d+") << QStringLiteral("no digits here")
                               << std::optional<double>();
    QTest::newRow("only later group took part")
        << QStringLiteral("a(\\d)|b(\\d)") << QStringLiteral("b5") << std::optional<double>();
    QTest::newRow("case sensitive")
        << QStringLiteral("V=(\\d+)") << QStringLiteral("v=3") << std::optional<double>();
    QTest::newRow("invalid pattern")
        << QStringLiteral("(\\d+") << QStringLiteral("12") << std::optional<double>();
}

void ChartTest::shouldTakeCaptureGroupOrWholeMatch()
{
    QFETCH(QString, pattern);
    QFETCH(QString, line);
    QFETCH(std::optional<double>, expected);
    const ChartRule rule{QStringLiteral("r"), RegexCapture, pattern};
    QCOMPARE(evaluateRule(line, rule), expected);
    // Same answer the second time: nothing carries over between lines.
    QCOMPARE(evaluateRule(line, rule), expected);
}

void ChartTest::shouldReadOnlyFirstIndexedPair_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QString>("line");
    QTest::addColumn<std::optional<double>>("expected");

    QTest::newRow("spaced") << QStringLiteral("2") << QStringLiteral("[2] = 3.75")
                            << std::optional<double>(3.75);
    QTest::newRow("negative") << QStringLiteral("2") << QStringLiteral("[2]=-1")
                              << std::optional<double>(-1.0);
    QTest::newRow("first pair only")
        << QStringLiteral("2") << QStringLiteral("[1] = 5 [2] = 6") << std::optional<double>();
    QTest::newRow("two points") << QStringLiteral("2") << QStringLiteral("[2] = 1.2.3")
                                << std::optional<double>();
    QTest::newRow("index not a number")
        << QStringLiteral("x") << QStringLiteral("[2] = 1") << std::optional<double>();
    // An index beyond the int range must not pass for index 0.
    QTest::newRow("huge index") << QStringLiteral("0") << QStringLiteral("[99999999999] = 8")
                                << std::optional<double>();
    QTest::newRow("index zero") << QStringLiteral("0") << QStringLiteral("pre [0] = 8 post")
                                << std::optional<double>(8.0);
}

void ChartTest::shouldReadOnlyFirstIndexedPair()
{
    QFETCH(QString, index);
    QFETCH(QString, line);
    QFETCH(std::optional<double>, expected);
    QCOMPARE(evaluateRule(line, ChartRule{QStringLiteral("r"), IndexedValue, index}), expected);
}

void ChartTest::shouldGiveOneForPresenceAndNothingForUnknownKinds()
{
    const ChartRule presence{QStringLiteral("p"), RegexPresence, QStringLiteral("ERR\\w*")};
    QCOMPARE(evaluateRule(QStringLiteral("x ERROR 42"), presence), std::optional<double>(1.0));
    QCOMPARE(evaluateRule(QStringLiteral("all fine 42"), presence), std::optional<double>());
    QCOMPARE(evaluateRule(QString(), presence), std::optional<double>());
    QCOMPARE(evaluateRule(QStringLiteral("x"),
                          ChartRule{QStringLiteral("p"), RegexPresence, QStringLiteral("(")}),
             std::optional<double>());
    QCOMPARE(evaluateRule(QStringLiteral("12"),
                          ChartRule{QStringLiteral("u"), 4, QStringLiteral("\\d+")}),
             std::optional<double>());
}

void ChartTest::shouldSplitFrameAtLineBreakRuns()
{
    QCOMPARE(splitChartLines(QStringLiteral("12\r\n\r\n13")),
             QStringList({QStringLiteral("12"), QStringLiteral("13")}));
    QCOMPARE(splitChartLines(QStringLiteral("\n  a b \r\r\n \t \n c\r")),
             QStringList({QStringLiteral("a b"), QStringLiteral("c")}));
    QVERIFY(splitChartLines(QStringLiteral("\r\n \r\n")).isEmpty());
}

void ChartTest::shouldPlotEveryLineOfAFrameInOrder()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("n"), QStringLiteral("\\d+"));
    const QStringList lines = splitChartLines(QStringLiteral("12\r\n\r\n13"));
    for (const QString& line : lines) {
        const QList<ChartRule> rules = engine.rules();
        for (const ChartRule& rule : rules) {
            if (const std::optional<double> value = evaluateRule(line, rule))
                engine.addValue(rule, *value);
        }
    }
    const QList<DataPoint>& points = engine.seriesStore().first()->points;
    QCOMPARE(points.size(), 2);
    QCOMPARE(points.at(0).value, 12.0);
    QCOMPARE(points.at(1).value, 13.0);
    QVERIFY(points.at(0).time <= points.at(1).time);
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);
}

// ---- panel ---------------------------------------------------------------

void ChartTest::shouldStartDisabledAndShowChartWhenEnabled()
{
    ChartEngine engine;
    engine.show();
    QVERIFY(!engine.settingsBox()->isEnabled());
    QVERIFY(engine.chartView()->isHidden());
    QCOMPARE(engine.currentChartType(), int(ChartEngine::Line));
    QCOMPARE(engine.timeWindowSeconds(), 60);
    QCOMPARE(engine.timeWindowSpin()->minimum(), 5);
    QCOMPARE(engine.timeWindowSpin()->maximum(), 600);
    QCOMPARE(engine.chart()->title(), QStringLiteral("数据可视化"));
    QCOMPARE(valueAxis(engine.chart())->min(), -10.0);
    QCOMPARE(valueAxis(engine.chart())->max(), 110.0);

    engine.enableCheckBox()->setChecked(true);
    QVERIFY(engine.settingsBox()->isEnabled());
    QVERIFY(engine.chartView()->isVisible());
    engine.enableCheckBox()->setChecked(false);
    QVERIFY(!engine.settingsBox()->isEnabled());
    QVERIFY(engine.chartView()->isHidden());
}

void ChartTest::shouldChooseKindAndColourWhenAddingRules()
{
    ChartEngine engine;
    const QStringList expressions = {QStringLiteral("temperature"),  QStringLiteral("temp(\\d+)"),
                                     QStringLiteral("data\\.value"), QStringLiteral("data.value"),
                                     QStringLiteral("a|b"),          QStringLiteral("x{2}"),
                                     QStringLiteral("plain")};
    const QList<int> kinds = {JsonPath,     RegexCapture, RegexCapture, JsonPath,
                              RegexCapture, RegexCapture, JsonPath};
    for (qsizetype i = 0; i < expressions.size(); ++i)
        addRule(engine, QStringLiteral("r%1").arg(i),
                QStringLiteral("  ") + expressions.at(i) + QStringLiteral(" "));

    const QList<ChartRule> rules = engine.rules();
    QCOMPARE(rules.size(), expressions.size());
    QCOMPARE(engine.seriesStore().size(), expressions.size());
    for (qsizetype i = 0; i < rules.size(); ++i) {
        QCOMPARE(rules.at(i).expression, expressions.at(i));
        QCOMPARE(rules.at(i).kind, kinds.at(i));
        const QColor colour = engine.seriesStore().at(i)->color;
        QCOMPARE(colour.hsvHue(), int((60 * i) % 360));
        QCOMPARE(colour.hsvSaturation(), 200);
        QCOMPARE(colour.value(), 220);
        QCOMPARE(engine.seriesStore().at(i)->name, rules.at(i).name);
    }
    QCOMPARE(engine.ruleListWidget()->item(1)->text(), QStringLiteral("r1 = temp(\\d+)"));
    QVERIFY(engine.ruleNameEdit()->text().isEmpty());
    QVERIFY(engine.expressionEdit()->text().isEmpty());
    QCOMPARE(engine.chart()->series().size(), expressions.size());
}

void ChartTest::shouldIgnoreRuleWithEmptyField()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("  "), QStringLiteral("\\d+"));
    addRule(engine, QStringLiteral("name"), QStringLiteral(" "));
    QVERIFY(engine.rules().isEmpty());
    QVERIFY(engine.seriesStore().isEmpty());
    QCOMPARE(engine.ruleListWidget()->count(), 0);
}

void ChartTest::shouldApplyTemplates_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("chartType");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expressions");
    QTest::addColumn<int>("kind");

    QTest::newRow("line") << 1 << int(ChartEngine::Line) << QStringList{QStringLiteral("数值")}
                          << QStringList{QStringLiteral("\\d+\\.?\\d*")} << int(RegexCapture);
    QTest::newRow("json") << 2 << int(ChartEngine::Line)
                          << QStringList{QStringLiteral("field1"), QStringLiteral("field2")}
                          << QStringList{QStringLiteral("field1"), QStringLiteral("field2")}
                          << int(JsonPath);
    QTest::newRow("pie") << 3 << int(ChartEngine::Pie)
                         << QStringList{QStringLiteral("A"), QStringLiteral("B")}
                         << QStringList{QStringLiteral("\\d+"), QStringLiteral("\\d+")}
                         << int(RegexCapture);
    QTest::newRow("bar") << 4 << int(ChartEngine::Bar) << QStringList{QStringLiteral("频率")}
                         << QStringList{QStringLiteral("\\d+")} << int(RegexCapture);
}

void ChartTest::shouldApplyTemplates()
{
    QFETCH(int, index);
    QFETCH(int, chartType);
    QFETCH(QStringList, names);
    QFETCH(QStringList, expressions);
    QFETCH(int, kind);

    ChartEngine engine;
    engine.templateCombo()->setCurrentIndex(index);

    QCOMPARE(engine.currentChartType(), chartType);
    QCOMPARE(engine.chartTypeCombo()->currentIndex(), chartType);
    const QList<ChartRule> rules = engine.rules();
    QCOMPARE(rules.size(), names.size());
    for (qsizetype i = 0; i < rules.size(); ++i) {
        QCOMPARE(rules.at(i).name, names.at(i));
        QCOMPARE(rules.at(i).expression, expressions.at(i));
        QCOMPARE(rules.at(i).kind, kind);
        QCOMPARE(engine.ruleListWidget()->item(int(i))->text(),
                 names.at(i) + QStringLiteral(" = ") + expressions.at(i));
    }
    const QList<QAbstractSeries*> series = engine.chart()->series();
    if (chartType == ChartEngine::Bar) {
        QCOMPARE(series.size(), 1);
        QCOMPARE(qobject_cast<QBarSeries*>(series.first())->count(), names.size());
    } else if (chartType == ChartEngine::Pie) {
        QCOMPARE(series.size(), 1);
        QVERIFY(qobject_cast<QPieSeries*>(series.first()));
        QVERIFY(engine.chart()->axes().isEmpty());
    } else {
        QCOMPARE(series.size(), names.size());
        QVERIFY(qobject_cast<QLineSeries*>(series.first()));
    }
}

void ChartTest::shouldReplaceEarlierRulesWhenChoosingTemplate()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("old"), QStringLiteral("x(\\d)"));
    engine.addValue(engine.rules().first(), 3);
    engine.templateCombo()->setCurrentIndex(4);
    QCOMPARE(engine.rules().size(), 1);
    QCOMPARE(engine.rules().first().name, QStringLiteral("频率"));
    QCOMPARE(engine.seriesStore().size(), 1);
    QCOMPARE(engine.ruleListWidget()->count(), 1);
    // The first series after a reset starts the colour cycle again.
    QCOMPARE(engine.seriesStore().first()->color.hsvHue(), 0);

    engine.templateCombo()->setCurrentIndex(0);
    QVERIFY(engine.rules().isEmpty());
    QVERIFY(engine.seriesStore().isEmpty());
    QCOMPARE(engine.ruleListWidget()->count(), 0);
    QCOMPARE(engine.currentChartType(), int(ChartEngine::Bar));
    QVERIFY(engine.chart()->series().isEmpty() ||
            qobject_cast<QBarSeries*>(engine.chart()->series().first())->count() == 0);
}

void ChartTest::shouldFeedFirstSeriesOfDuplicateName()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("v"), QStringLiteral("a(\\d)"));
    addRule(engine, QStringLiteral("v"), QStringLiteral("b(\\d)"));
    const QList<ChartRule> rules = engine.rules();
    for (const ChartRule& rule : rules) {
        if (const std::optional<double> value = evaluateRule(QStringLiteral("a1 b2"), rule))
            engine.addValue(rule, *value);
    }
    QCOMPARE(engine.seriesStore().at(0)->points.size(), 2);
    QCOMPARE(engine.seriesStore().at(1)->points.size(), 0);

    engine.addValue(ChartRule{QStringLiteral("nobody"), JsonPath, QStringLiteral("x")}, 5);
    QCOMPARE(engine.seriesStore().at(0)->points.size(), 2);
    QCOMPARE(engine.seriesStore().at(1)->points.size(), 0);
}

void ChartTest::shouldDropOldestPointAtCap()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("c"), QStringLiteral("\\d+"));
    ChartSeriesData* data = engine.seriesStore().first();
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < ChartSeriesData::MaxPoints; ++i)
        data->points.append(DataPoint{now, double(i)});

    engine.addValue(engine.rules().first(), 5000);
    QCOMPARE(data->points.size(), 5000);
    QCOMPARE(data->points.first().value, 1.0);
    QCOMPARE(data->points.last().value, 5000.0);

    engine.addValue(engine.rules().first(), 5001);
    QCOMPARE(data->points.size(), 5000);
    QCOMPARE(data->points.first().value, 2.0);
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 5000);
}

void ChartTest::shouldPadValueAxisAroundWindow_data()
{
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");

    QTest::newRow("single 5") << QList<double>{5} << 4.0 << 6.0;
    QTest::newRow("0 and 10") << QList<double>{0, 10} << -2.0 << 12.0;
    // Past ±1e9 the range must still follow the values.
    QTest::newRow("2e9 and 3e9") << QList<double>{2e9, 3e9} << 2e9 - (1e8 + 1) << 3e9 + (1e8 + 1);
    QTest::newRow("-3e9 and -2e9")
        << QList<double>{-3e9, -2e9} << -3e9 - (1e8 + 1) << -2e9 + (1e8 + 1);
    QTest::newRow("not a number ignored")
        << QList<double>{5, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}
        << 4.0 << 6.0;
}

void ChartTest::shouldPadValueAxisAroundWindow()
{
    QFETCH(QList<double>, values);
    QFETCH(double, min);
    QFETCH(double, max);

    ChartEngine engine;
    addRule(engine, QStringLiteral("v"), QStringLiteral("\\d+"));
    for (double value : std::as_const(values))
        engine.addValue(engine.rules().first(), value);
    QCOMPARE(valueAxis(engine.chart())->min(), min);
    QCOMPARE(valueAxis(engine.chart())->max(), max);
}

void ChartTest::shouldKeepValueRangeWithoutPoints()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("v"), QStringLiteral("\\d+"));
    engine.addValue(ChartRule{QStringLiteral("other"), JsonPath, QStringLiteral("x")}, 50);
    QCOMPARE(valueAxis(engine.chart())->min(), -10.0);
    QCOMPARE(valueAxis(engine.chart())->max(), 110.0);

    engine.addValue(engine.rules().first(), 5);
    engine.seriesStore().first()->points.first().time = QDateTime::currentDateTime().addSecs(-120);
    engine.refresh();
    QCOMPARE(valueAxis(engine.chart())->min(), 4.0);
    QCOMPARE(valueAxis(engine.chart())->max(), 6.0);
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 0);
}

void ChartTest::shouldShowWindowSumAsBarHeight()
{
    ChartEngine engine;
    engine.templateCombo()->setCurrentIndex(4);
    for (int i = 0; i < 3; ++i)
        engine.addValue(engine.rules().first(), 1);
    auto* bars = qobject_cast<QBarSeries*>(engine.chart()->series().first());
    QVERIFY(bars);
    QCOMPARE(bars->barSets().first()->at(0), 3.0);
    QCOMPARE(bars->barSets().first()->label(), QStringLiteral("频率"));
    // The axis spans the bar sum as well as the values (1..3, padded), so the
    // bar is not cut off at the top.
    QVERIFY(qFuzzyCompare(valueAxis(engine.chart())->min(), -0.2));
    QVERIFY(qFuzzyCompare(valueAxis(engine.chart())->max(), 4.2));
    QCOMPARE(engine.chart()->axes(Qt::Horizontal).size(), 1);
    QVERIFY(!qobject_cast<QDateTimeAxis*>(engine.chart()->axes(Qt::Horizontal).first()));
}

void ChartTest::shouldSizePieSlicesByWindowSums()
{
    ChartEngine engine;
    engine.templateCombo()->setCurrentIndex(3);
    const ChartRule a = engine.rules().at(0);
    engine.addValue(a, 2);
    engine.addValue(a, 3);
    engine.addValue(a, 40);
    engine.seriesStore().first()->points.last().time = QDateTime::currentDateTime().addSecs(-61);
    engine.refresh();
    auto* pie = qobject_cast<QPieSeries*>(engine.chart()->series().first());
    QVERIFY(pie);
    QCOMPARE(pie->count(), 2);
    QCOMPARE(pie->slices().at(0)->label(), QStringLiteral("A"));
    QCOMPARE(pie->slices().at(0)->value(), 5.0);
    QCOMPARE(pie->slices().at(1)->label(), QStringLiteral("B"));
    QCOMPARE(pie->slices().at(1)->value(), 0.0);
}

void ChartTest::shouldReplotWhenTimeWindowShrinksAndGrows()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("v"), QStringLiteral("\\d+"));
    engine.addValue(engine.rules().first(), 1);
    engine.addValue(engine.rules().first(), 2);
    engine.seriesStore().first()->points.first().time = QDateTime::currentDateTime().addSecs(-30);
    engine.refresh();
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);

    engine.timeWindowSpin()->setValue(5);
    QCOMPARE(engine.timeWindowSeconds(), 5);
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 1);
    QCOMPARE(engine.seriesStore().first()->points.size(), 2);
    auto* axis = qobject_cast<QDateTimeAxis*>(engine.chart()->axes(Qt::Horizontal).first());
    QVERIFY(qAbs(axis->min().msecsTo(axis->max()) - 5000) <= 1);

    engine.timeWindowSpin()->setValue(60);
    QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);
}

void ChartTest::shouldKeepSeriesAcrossChartTypes()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("a"), QStringLiteral("a(\\d+)"));
    addRule(engine, QStringLiteral("b"), QStringLiteral("b(\\d+)"));
    engine.addValue(engine.rules().at(0), 1);
    engine.addValue(engine.rules().at(1), 2);
    engine.addValue(engine.rules().at(1), 3);

    const QList<int> types = {ChartEngine::Spline, ChartEngine::Scatter, ChartEngine::Area,
                              ChartEngine::Line};
    for (int type : types) {
        engine.chartTypeCombo()->setCurrentIndex(type);
        const QList<QAbstractSeries*> series = engine.chart()->series();
        QCOMPARE(series.size(), 2);
        // Rebuilt series show nothing until the next refresh.
        QCOMPARE(pointCountOf(series.at(1)), 0);
        engine.refresh();
        QCOMPARE(pointCountOf(series.at(0)), 1);
        QCOMPARE(pointCountOf(series.at(1)), 2);
        QCOMPARE(series.at(1)->name(), QStringLiteral("b"));
    }
    engine.chartTypeCombo()->setCurrentIndex(ChartEngine::Area);
    auto* area = qobject_cast<QAreaSeries*>(engine.chart()->series().first());
    QVERIFY(area);
    QCOMPARE(area->brush().color(), engine.seriesStore().first()->color.darker(150));
    engine.chartTypeCombo()->setCurrentIndex(ChartEngine::Scatter);
    QVERIFY(qobject_cast<QScatterSeries*>(engine.chart()->series().first()));
    engine.chartTypeCombo()->setCurrentIndex(ChartEngine::Spline);
    QVERIFY(qobject_cast<QSplineSeries*>(engine.chart()->series().first()));
    QCOMPARE(engine.seriesStore().at(1)->points.size(), 2);
}

void ChartTest::shouldClearPointsButKeepRules()
{
    ChartEngine engine;
    engine.templateCombo()->setCurrentIndex(2);
    engine.addValue(engine.rules().first(), 8);
    engine.enableCheckBox()->setChecked(true);
    engine.clearButton()->click();
    QCOMPARE(engine.rules().size(), 2);
    QCOMPARE(engine.seriesStore().size(), 2);
    QCOMPARE(engine.ruleListWidget()->count(), 2);
    QVERIFY(engine.seriesStore().first()->points.isEmpty());
    QCOMPARE(engine.chart()->series().size(), 2);
}

void ChartTest::shouldKeepSeriesColoursUnderDarkStyle()
{
    ChartEngine engine;
    addRule(engine, QStringLiteral("a"), QStringLiteral("\\d"));
    addRule(engine, QStringLiteral("b"), QStringLiteral("\\d"));
    QCOMPARE(engine.chart()->theme(), QChart::ChartThemeDark);
    QCOMPARE(engine.chart()->backgroundBrush().color(), QColor(QStringLiteral("#0D1321")));
    QCOMPARE(engine.chart()->plotAreaBackgroundBrush().color(), QColor(QStringLiteral("#0A1018")));
    QCOMPARE(engine.chart()->titleFont().family(), QStringLiteral("Segoe UI"));
    for (qsizetype i = 0; i < 2; ++i) {
        auto* line = qobject_cast<QLineSeries*>(engine.chart()->series().at(i));
        QCOMPARE(line->pen().color(), engine.seriesStore().at(i)->color);
        QCOMPARE(line->pen().widthF(), 2.0);
    }
    const QList<QAbstractAxis*> axes = engine.chart()->axes();
    for (QAbstractAxis* axis : axes) {
        QCOMPARE(axis->labelsColor(), QColor(QStringLiteral("#64748B")));
        QCOMPARE(axis->gridLineColor(), QColor(QStringLiteral("#1E2A3A")));
    }
    QCOMPARE(valueAxis(engine.chart())->labelFormat(), QStringLiteral("%.1f"));
}

void ChartTest::shouldDrawLineWhileValuesKeepArriving()
{
    ChartEngine engine;
    engine.resize(700, 700);
    engine.show();
    engine.enableCheckBox()->setChecked(true);
    engine.templateCombo()->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&engine));
    const QColor colour = engine.seriesStore().first()->color;
    for (int i = 0; i < 40; ++i)
        engine.addValue(engine.rules().first(), 20 + (i % 10));
    const QImage image = engine.chartView()->grab().toImage();
    int linePixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) < 20 && qAbs(c.green() - colour.green()) < 20 &&
                qAbs(c.blue() - colour.blue()) < 20)
                ++linePixels;
        }
    }
    // More than the legend marker: the line itself is on screen.
    QVERIFY2(linePixels > 150, qPrintable(QString::number(linePixels)));
}

void ChartTest::shouldUseAtMostFiveAnalysedSeries()
{
    ChartEngine engine;
    engine.enableCheckBox()->setChecked(true);
    engine.analyzeButton()->click();
    QCOMPARE(engine.ruleListWidget()->count(), 0);

    int destroyed = 0;
    engine.setAnalysisProvider([&destroyed] {
        QList<ChartSeriesData*> found;
        for (int i = 0; i < 7; ++i) {
            auto* data = new ChartSeriesData(QStringLiteral("s%1").arg(i), Qt::red);
            data->points.append(DataPoint{QDateTime::currentDateTime(), double(i)});
            QObject::connect(data, &QObject::destroyed, data, [&destroyed] { ++destroyed; });
            found.append(data);
        }
        return found;
    });
    engine.analyzeButton()->click();
    QCOMPARE(engine.seriesStore().size(), 5);
    QCOMPARE(engine.ruleListWidget()->count(), 5);
    QCOMPARE(engine.ruleListWidget()->item(4)->text(), QStringLiteral("s4"));
    QVERIFY(engine.rules().isEmpty());
    QCOMPARE(destroyed, 2);
    QCOMPARE(engine.chart()->series().size(), 5);

    engine.setAnalysisProvider([] { return QList<ChartSeriesData*>(); });
    engine.analyzeButton()->click();
    QCOMPARE(engine.ruleListWidget()->item(5)->text(),
             QStringLiteral("未发现可用数值 — 请检查数据"));
    engine.resetChart();
    QCOMPARE(destroyed, 7);
}

void ChartTest::shouldSurviveViewDestroyedBeforePanel()
{
    // The window moves the view and the controls into its own widgets, which
    // may go first when the window is torn down.
    auto host = std::make_unique<QWidget>();
    auto* engine = new ChartEngine(host.get());
    auto tab = std::make_unique<QWidget>();
    engine->chartView()->setParent(tab.get());
    engine->controlPanel()->setParent(tab.get());
    engine->templateCombo()->setCurrentIndex(1);
    engine->addValue(engine->rules().first(), 4);
    tab.reset();
    engine->addValue(engine->rules().first(), 5);
    QCOMPARE(engine->seriesStore().first()->points.size(), 2);
    QPointer<ChartEngine> guard(engine);
    host.reset();
    QVERIFY(guard.isNull());
}

void ChartTest::shouldRetranslateControlsOnLanguageSwitch()
{
    ChartEngine engine;
    LanguageManager::setEnglish(true);
    QCOMPARE(engine.enableCheckBox()->text(), QStringLiteral("Enable Chart"));
    QCOMPARE(engine.addButton()->text(), QStringLiteral("Add Rule"));
    QCOMPARE(engine.chartTypeCombo()->itemText(5), QStringLiteral("Pie Chart"));
    LanguageManager::setEnglish(false);
    QCOMPARE(engine.enableCheckBox()->text(), QStringLiteral("启用图表"));
    QCOMPARE(engine.chartTypeCombo()->itemText(5), QStringLiteral("饼图"));
    QCOMPARE(engine.expressionEdit()->placeholderText(),
             QStringLiteral("例: temperature 或 data\\.value"));
}

// ---- canvas --------------------------------------------------------------

namespace {

const QColor canvasBackground(0x0A, 0x0E, 0x16);

bool onlyBackground(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) != canvasBackground)
                return false;
    return true;
}

QImage render(ChartWidget& canvas, const QSize& size)
{
    canvas.resize(size);
    return canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

ChartWidget::SeriesList constantSeries(double value, int count = 10)
{
    QList<DataPoint> points;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = count; i > 0; --i)
        points.append(DataPoint{now.addMSecs(-i * 1000), value});
    return {points};
}

} // namespace

void ChartTest::shouldShowNoDataUnlessFirstSeriesHasPoints()
{
    ChartWidget canvas;
    const QImage noSource = render(canvas, QSize(300, 150));
    QVERIFY(!onlyBackground(noSource));

    ChartWidget::SeriesList firstEmpty = {QList<DataPoint>(), constantSeries(3).first()};
    canvas.setSeriesSource(&firstEmpty);
    QCOMPARE(render(canvas, QSize(300, 150)), noSource);

    ChartWidget::SeriesList stale = constantSeries(3);
    stale.first().first().time = QDateTime::currentDateTime().addSecs(-3600);
    stale.first().resize(1);
    canvas.setSeriesSource(&stale);
    QCOMPARE(render(canvas, QSize(300, 150)), noSource);

    ChartWidget::SeriesList live = constantSeries(3);
    canvas.setSeriesSource(&live);
    QVERIFY(render(canvas, QSize(300, 150)) != noSource);

    // Without points "No Data" shows at any size.
    canvas.setSeriesSource(nullptr);
    QVERIFY(!onlyBackground(render(canvas, QSize(56, 100))));
}

void ChartTest::shouldShowOnlyBackgroundWhenTooSmall()
{
    ChartWidget canvas;
    ChartWidget::SeriesList live = constantSeries(3);
    canvas.setSeriesSource(&live);
    QVERIFY(onlyBackground(render(canvas, QSize(56, 120))));
    canvas.setMinimumHeight(0);
    QVERIFY(onlyBackground(render(canvas, QSize(200, 24))));
    QVERIFY(!onlyBackground(render(canvas, QSize(57, 120))));
}

void ChartTest::shouldCentreConstantSeriesInNarrowRange()
{
    ChartWidget canvas;
    ChartWidget::SeriesList live = constantSeries(5, 50);
    canvas.setSeriesSource(&live);
    const QImage image = render(canvas, QSize(400, 204));
    // Plot height 180: value 5 in 4.9..5.1 sits at y = 4 + 90.
    const QColor first(0x00, 0xD4, 0xFF);
    const int x = 48 + 172; // 30 s back, inside the points
    const QColor centre = pixelAt(image, x, 94);
    QVERIFY2(qAbs(centre.green() - first.green()) < 60 && centre.blue() > 150,
             qPrintable(centre.name()));
    QCOMPARE(pixelAt(image, x, 60), pixelAt(image, x, 130));
}

void ChartTest::shouldFormatValueLabelsByMagnitude()
{
    QCOMPARE(ChartWidget::formatValueLabel(12345.4), QStringLiteral("12345"));
    QCOMPARE(ChartWidget::formatValueLabel(-10000.0), QStringLiteral("-10000"));
    QCOMPARE(ChartWidget::formatValueLabel(5.1), QStringLiteral("5.1"));
    QCOMPARE(ChartWidget::formatValueLabel(-1.0), QStringLiteral("-1.0"));
    QCOMPARE(ChartWidget::formatValueLabel(0.5), QStringLiteral("0.500"));
    QCOMPARE(ChartWidget::formatValueLabel(4.9), QStringLiteral("4.9"));
}

void ChartTest::shouldPickGridStepsFromWindowLength()
{
    QCOMPARE(ChartWidget::timeStepMs(30), qint64(5000));
    QCOMPARE(ChartWidget::timeStepMs(31), qint64(10000));
    QCOMPARE(ChartWidget::timeStepMs(120), qint64(10000));
    QCOMPARE(ChartWidget::timeStepMs(600), qint64(30000));

    // A boundary on a multiple of the step gets no line.
    QCOMPARE(ChartWidget::gridTimes(100000, 130000),
             QList<qint64>({105000, 110000, 115000, 120000, 125000}));
    QCOMPARE(ChartWidget::gridTimes(101000, 161000),
             QList<qint64>({110000, 120000, 130000, 140000, 150000, 160000}));
    QCOMPARE(ChartWidget::gridTimes(0, 600000).size(), 19);
}

void ChartTest::shouldDrawTimeGridLinesAtStepSpacing()
{
    ChartWidget canvas;
    ChartWidget::SeriesList live = constantSeries(5, 3);
    canvas.setSeriesSource(&live);
    const int width = 656; // plot width 600
    for (int window : {30, 600}) {
        canvas.setTimeWindow(window);
        const QImage image = render(canvas, QSize(width, 204));
        // A row between the first two horizontal grid lines and away from the series.
        const int y = 4 + 22;
        QList<int> runs;
        bool inRun = false;
        for (int x = 50; x < 48 + 600 - 1; ++x) {
            const bool lit = image.pixelColor(x, y) != canvasBackground;
            if (lit && !inRun)
                runs.append(x);
            inRun = lit;
        }
        const int expected = window == 30 ? 6 : 20;
        QVERIFY2(runs.size() >= expected - 2 && runs.size() <= expected,
                 qPrintable(QString::number(runs.size())));
        const double spacing = 600.0 * (window == 30 ? 5.0 / 30.0 : 30.0 / 600.0);
        for (qsizetype i = 1; i < runs.size(); ++i)
            QVERIFY(qAbs(runs.at(i) - runs.at(i - 1) - spacing) <= 2.0);
    }
}

void ChartTest::shouldRepaintOnTimerAndClampWindow()
{
    ChartWidget canvas;
    QCOMPARE(canvas.timeWindow(), 60);
    canvas.setTimeWindow(2);
    QCOMPARE(canvas.timeWindow(), 5);
    QCOMPARE(canvas.minimumHeight(), 100);
    QVERIFY(canvas.repaintTimer()->isActive());
    QCOMPARE(canvas.repaintTimer()->interval(), 200);
    QSignalSpy ticks(canvas.repaintTimer(), &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
}

QTEST_MAIN(ChartTest)
#include "tst_chart.moc"

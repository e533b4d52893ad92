#include "chart/AnalysisDialog.h"
#include "chart/ChartEngine.h"
#include "chart/ChartRule.h"
#include "chart/ChartSeriesData.h"
#include "chart/ChartWidget.h"
#include "chart/DataAnalyzer.h"
#include "i18n/LanguageManager.h"

#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QValueAxis* valueAxis(QChart* chart)
{
    return qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical).value(0));
}

void addRule(ChartEngine& engine, const QString& name, const QString& expression)
{
    engine.ruleNameEdit()->setText(name);
    engine.expressionEdit()->setText(expression);
    engine.onAddRule();
}

// The line of an XY or area series.
QXYSeries* lineOf(QAbstractSeries* series)
{
    if (auto* area = qobject_cast<QAreaSeries*>(series))
        return area->upperSeries();
    return qobject_cast<QXYSeries*>(series);
}

int pointCountOf(QAbstractSeries* series)
{
    return int(lineOf(series)->count());
}

QAbstractSeries::SeriesType seriesTypeOf(int chartType)
{
    static const QAbstractSeries::SeriesType types[] = {
        QAbstractSeries::SeriesTypeLine,    QAbstractSeries::SeriesTypeSpline,
        QAbstractSeries::SeriesTypeScatter, QAbstractSeries::SeriesTypeArea,
        QAbstractSeries::SeriesTypeBar,     QAbstractSeries::SeriesTypePie};
    return types[chartType];
}

void ageFirstPoint(ChartEngine& engine, int seconds)
{
    engine.seriesStore().first()->points.first().time =
        QDateTime::currentDateTime().addSecs(-seconds);
    engine.refresh();
}

const QColor canvasBackground(0x0A, 0x0E, 0x16);

// Values are plotted by one re-plot in the next event-loop pass.
#define WAIT_FOR_REPLOT(engine) QTRY_VERIFY(!(engine).refreshPending())

// Pixels within `tolerance` of `colour` in every channel.
int pixelsLike(const QImage& image, const QColor& colour, int tolerance = 0)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += qAbs(c.red() - colour.red()) <= tolerance &&
                     qAbs(c.green() - colour.green()) <= tolerance &&
                     qAbs(c.blue() - colour.blue()) <= tolerance;
        }
    }
    return count;
}

bool onlyBackground(const QImage& image)
{
    return pixelsLike(image, canvasBackground) == image.width() * image.height();
}

QImage render(ChartWidget& canvas, const QSize& size)
{
    canvas.resize(size);
    return canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// One series of `count` points, one a second, ending a second ago.
ChartWidget::SeriesList constantSeries(double value, int count = 10)
{
    QList<DataPoint> points;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = count; i > 0; --i)
        points.append(DataPoint{now.addMSecs(-i * 1000), value});
    return {points};
}

} // namespace

class ChartTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { LanguageManager::setEnglish(false); }

    void shouldFeedSeriesOfTheirNameUpToCapRefusingATakenName()
    {
        ChartEngine engine;
        addRule(engine, u"v"_s, u"a(\\d)"_s);
        addRule(engine, u"w"_s, u"b(\\d)"_s);
        // A second "v" would pour its values into the first one's series.
        addRule(engine, u"v"_s, u"c(\\d)"_s);
        QCOMPARE(engine.rules().size(), 2);
        QVERIFY(!engine.ruleMessageLabel()->isHidden());
        QCOMPARE(engine.ruleMessageLabel()->text(), u"规则名称已存在"_s);
        QCOMPARE(engine.expressionEdit()->text(), u"c(\\d)"_s); // kept to be mended
        for (const QString& line : splitChartLines(u"a1 b2 c4\r\n\r\na3"_s)) {
            for (const ChartRule& rule : engine.rules()) {
                if (const std::optional<double> value = evaluateRule(line, rule))
                    engine.addValue(rule, *value);
            }
        }
        engine.addValue(ChartRule{u"nobody"_s, JsonPath, u"x"_s}, 5);

        QList<double> values;
        for (const DataPoint& point : engine.seriesStore().at(0)->points)
            values.append(point.value);
        QCOMPARE(values, QList<double>({1, 3}));
        QCOMPARE(engine.seriesStore().at(1)->points.size(), 1);

        // Beyond the cap the oldest points go, on the chart as well.
        QList<DataPoint>& points = engine.seriesStore().first()->points;
        while (points.size() < ChartSeriesData::MaxPoints)
            points.append(DataPoint{QDateTime::currentDateTime(), 0});
        engine.addValue(engine.rules().first(), 7);
        QCOMPARE(points.size(), 5000);
        QCOMPARE(points.first().value, 3.0);
        QCOMPARE(points.last().value, 7.0);
        WAIT_FOR_REPLOT(engine);
        QCOMPARE(pointCountOf(engine.chart()->series().first()), 5000);
    }

    void shouldShowChartWhenEnabledAndFollowLanguage()
    {
        ChartEngine engine;
        engine.show();
        QVERIFY(!engine.settingsBox()->isEnabled());
        QVERIFY(engine.chartView()->isHidden());
        for (bool on : {true, false}) {
            engine.enableCheckBox()->setChecked(on);
            QCOMPARE(engine.settingsBox()->isEnabled(), on);
            QCOMPARE(engine.chartView()->isVisible(), on);
        }

        LanguageManager::setEnglish(true);
        QCOMPARE(engine.enableCheckBox()->text(), u"Enable Chart"_s);
        QCOMPARE(engine.chartTypeCombo()->itemText(5), u"Pie Chart"_s);
        LanguageManager::setEnglish(false);
        QCOMPARE(engine.enableCheckBox()->text(), u"启用图表"_s);
        QCOMPARE(engine.expressionEdit()->placeholderText(), u"例: temperature 或 data\\.value"_s);
    }

    void shouldChooseKindAndColourWhenAddingRules()
    {
        ChartEngine engine;
        const QStringList typed = {u"temperature"_s, u"temp(\\d+)"_s, u"data\\.value"_s,
                                   u"data.value"_s,  u"a|b"_s,        u"x{2}"_s,
                                   u"plain"_s};
        const QList<int> kinds = {JsonPath,     RegexCapture, RegexCapture, JsonPath,
                                  RegexCapture, RegexCapture, JsonPath};
        // A blank name or expression adds nothing.
        addRule(engine, u"  "_s, u"\\d+"_s);
        addRule(engine, u"name"_s, u" "_s);
        for (qsizetype i = 0; i < typed.size(); ++i)
            addRule(engine, u"r%1"_s.arg(i), u"  "_s + typed.at(i) + u" "_s);

        const QList<ChartRule> rules = engine.rules();
        QCOMPARE(rules.size(), typed.size());
        QCOMPARE(engine.seriesStore().size(), typed.size());
        QCOMPARE(engine.chart()->series().size(), typed.size());
        for (qsizetype i = 0; i < rules.size(); ++i) {
            QCOMPARE(rules.at(i).expression, typed.at(i));
            QCOMPARE(rules.at(i).kind, kinds.at(i));
            QCOMPARE(engine.seriesStore().at(i)->name, rules.at(i).name);
            QCOMPARE(engine.seriesStore().at(i)->color,
                     QColor::fromHsv(int((60 * i) % 360), 200, 220));
        }
        QCOMPARE(engine.ruleListWidget()->item(1)->text(), u"r1 = temp(\\d+)"_s);
        QVERIFY(engine.ruleNameEdit()->text().isEmpty());
        QVERIFY(engine.expressionEdit()->text().isEmpty());
    }

    void shouldApplyTemplatesReplacingEarlierRules_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("chartType");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("line") << 1 << int(ChartEngine::Line) << int(RegexCapture)
                              << QStringList{u"数值 = \\d+\\.?\\d*"_s};
        QTest::newRow("json") << 2 << int(ChartEngine::Line) << int(JsonPath)
                              << QStringList{u"field1 = field1"_s, u"field2 = field2"_s};
        QTest::newRow("pie") << 3 << int(ChartEngine::Pie) << int(RegexCapture)
                             << QStringList{u"A = \\d+"_s, u"B = \\d+"_s};
        QTest::newRow("bar") << 4 << int(ChartEngine::Bar) << int(RegexCapture)
                             << QStringList{u"频率 = \\d+"_s};
    }

    void shouldApplyTemplatesReplacingEarlierRules()
    {
        QFETCH(int, index);
        QFETCH(int, chartType);
        QFETCH(int, kind);
        QFETCH(QStringList, listed);

        ChartEngine engine;
        addRule(engine, u"old"_s, u"x(\\d)"_s);
        engine.addValue(engine.rules().first(), 3);
        engine.templateCombo()->setCurrentIndex(index);

        QCOMPARE(engine.currentChartType(), chartType);
        QCOMPARE(engine.chartTypeCombo()->currentIndex(), chartType);
        const QList<ChartRule> rules = engine.rules();
        QCOMPARE(rules.size(), listed.size());
        QCOMPARE(engine.seriesStore().size(), listed.size());
        for (qsizetype i = 0; i < rules.size(); ++i) {
            QCOMPARE(rules.at(i).kind, kind);
            QCOMPARE(engine.ruleListWidget()->item(int(i))->text(), listed.at(i));
        }
        QCOMPARE(engine.seriesStore().first()->color.hsvHue(), 0); // colours start again
        // Bars and pie put all rules into one series.
        QCOMPARE(engine.chart()->series().size(),
                 chartType == ChartEngine::Line ? listed.size() : 1);
        QCOMPARE(engine.chart()->series().first()->type(), seriesTypeOf(chartType));
        QCOMPARE(engine.chart()->axes().isEmpty(), chartType == ChartEngine::Pie);

        // "Custom" only clears; the chart type stays.
        engine.templateCombo()->setCurrentIndex(0);
        QVERIFY(engine.rules().isEmpty());
        QVERIFY(engine.seriesStore().isEmpty());
        QCOMPARE(engine.ruleListWidget()->count(), 0);
        QCOMPARE(engine.currentChartType(), chartType);
    }

    void shouldPadValueAxisAroundWindow_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("ageOfFirst");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("single 5") << QList<double>{5} << 0 << 4.0 << 6.0;
        QTest::newRow("0 and 10") << QList<double>{0, 10} << 0 << -2.0 << 12.0;
        // Past ±1e9 the range must still follow the values.
        QTest::newRow("2e9 and 3e9")
            << QList<double>{2e9, 3e9} << 0 << 2e9 - (1e8 + 1) << 3e9 + (1e8 + 1);
        QTest::newRow("-3e9 and -2e9")
            << QList<double>{-3e9, -2e9} << 0 << -3e9 - (1e8 + 1) << -2e9 + (1e8 + 1);
        // An infinity would stop the axis from following later values.
        QTest::newRow("NaN and inf ignored")
            << QList<double>{5, nan, inf, -inf, 100} << 0 << -5.5 << 110.5;
        // An empty window keeps the range it had.
        QTest::newRow("no points yet") << QList<double>{} << 0 << -10.0 << 110.0;
        QTest::newRow("point left the window") << QList<double>{5} << 120 << 4.0 << 6.0;
    }

    void shouldPadValueAxisAroundWindow()
    {
        QFETCH(QList<double>, values);
        QFETCH(int, ageOfFirst);
        QFETCH(double, min);
        QFETCH(double, max);
        ChartEngine engine;
        addRule(engine, u"v"_s, u"\\d+"_s);
        engine.addValue(ChartRule{u"other"_s, JsonPath, u"x"_s}, 50);
        for (double value : std::as_const(values))
            engine.addValue(engine.rules().first(), value);
        WAIT_FOR_REPLOT(engine);
        if (ageOfFirst > 0) {
            ageFirstPoint(engine, ageOfFirst);
            QCOMPARE(pointCountOf(engine.chart()->series().first()), 0);
        }
        QCOMPARE(valueAxis(engine.chart())->min(), min);
        QCOMPARE(valueAxis(engine.chart())->max(), max);
    }

    void shouldReplotOncePerPassHoweverManyValuesArrive()
    {
        ChartEngine engine;
        addRule(engine, u"v"_s, u"\\d+"_s);
        auto* line = qobject_cast<QXYSeries*>(engine.chart()->series().first());
        QSignalSpy replots(line, &QXYSeries::pointsReplaced);
        // Each re-plot walks every point: one per value froze the window.
        for (int i = 0; i < 3000; ++i)
            engine.addValue(engine.rules().first(), i);
        QCOMPARE(replots.count(), 0);
        QVERIFY(engine.refreshPending());
        QTRY_COMPARE(replots.count(), 1);
        QCOMPARE(line->count(), 3000);
        QCOMPARE(line->at(2999).y(), 2999.0);
        QVERIFY(!engine.refreshPending());

        // Asked for directly, the re-plot happens at once, and the pass adds none.
        engine.addValue(engine.rules().first(), 7);
        engine.refresh();
        QCOMPARE(replots.count(), 2);
        QCOMPARE(line->count(), 3001);
        engine.addValue(engine.rules().first(), 8);
        QTRY_COMPARE(line->count(), 3002);
        QCOMPARE(replots.count(), 3);
    }

    void shouldShowWindowSumsAsBarHeightsAndPieSlices()
    {
        ChartEngine bar;
        bar.templateCombo()->setCurrentIndex(4);
        for (int i = 0; i < 3; ++i)
            bar.addValue(bar.rules().first(), 1);
        WAIT_FOR_REPLOT(bar);
        auto* bars = qobject_cast<QBarSeries*>(bar.chart()->series().first());
        QCOMPARE(bars->barSets().first()->at(0), 3.0);
        QCOMPARE(bars->barSets().first()->label(), u"频率"_s);
        // The axis spans the bar sum too (1..3, padded), so the bar is not cut off.
        QVERIFY(qFuzzyCompare(valueAxis(bar.chart())->min(), -0.2));
        QVERIFY(qFuzzyCompare(valueAxis(bar.chart())->max(), 4.2));
        QVERIFY(!qobject_cast<QDateTimeAxis*>(bar.chart()->axes(Qt::Horizontal).first()));

        ChartEngine pie;
        pie.templateCombo()->setCurrentIndex(3);
        for (double value : {40.0, 2.0, 3.0})
            pie.addValue(pie.rules().at(0), value);
        ageFirstPoint(pie, 61);
        auto* slices = qobject_cast<QPieSeries*>(pie.chart()->series().first());
        QCOMPARE(slices->count(), 2);
        QCOMPARE(slices->slices().at(0)->label(), u"A 100.0%"_s);
        QCOMPARE(slices->slices().at(0)->value(), 5.0);
        QCOMPARE(slices->slices().at(1)->label(), u"B 0.0%"_s);
        QCOMPARE(slices->slices().at(1)->value(), 0.0);
    }

    void shouldReplotWhenTimeWindowShrinksAndGrows()
    {
        ChartEngine engine;
        addRule(engine, u"v"_s, u"\\d+"_s);
        engine.addValue(engine.rules().first(), 1);
        engine.addValue(engine.rules().first(), 2);
        ageFirstPoint(engine, 30);
        QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);

        engine.timeWindowSpin()->setValue(5);
        QCOMPARE(pointCountOf(engine.chart()->series().first()), 1);
        QCOMPARE(engine.seriesStore().first()->points.size(), 2);
        auto* axis = qobject_cast<QDateTimeAxis*>(engine.chart()->axes(Qt::Horizontal).first());
        QVERIFY(qAbs(axis->min().msecsTo(axis->max()) - 5000) <= 1);

        engine.timeWindowSpin()->setValue(60);
        QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);

        // Another chart type shows the points already there, without waiting
        // for the next value.
        engine.chartTypeCombo()->setCurrentIndex(ChartEngine::Scatter);
        QCOMPARE(pointCountOf(engine.chart()->series().first()), 2);
    }

    void shouldShowEverySeriesInItsOwnColourInPlotAndLegendOfEveryType()
    {
        ChartEngine engine;
        QChart* chart = engine.chart();
        QCOMPARE(chart->backgroundBrush().color(), QColor(u"#0D1321"_s));
        addRule(engine, u"a"_s, u"a(\\d+)"_s);
        addRule(engine, u"b"_s, u"b(\\d+)"_s);
        engine.addValue(engine.rules().at(0), 1);
        engine.addValue(engine.rules().at(1), 2);
        engine.addValue(engine.rules().at(1), 3);
        const QColor colours[] = {engine.seriesStore().at(0)->color,
                                  engine.seriesStore().at(1)->color};
        QVERIFY(colours[0] != colours[1]);
        // Applied before the series joined the chart, the theme's colours won.
        for (int type : {ChartEngine::Spline, ChartEngine::Scatter, ChartEngine::Area,
                         ChartEngine::Bar, ChartEngine::Pie, ChartEngine::Line}) {
            engine.chartTypeCombo()->setCurrentIndex(type);
            engine.refresh();
            const QList<QAbstractSeries*> series = chart->series();
            QList<QColor> plotted, legend;
            if (auto* bars = qobject_cast<QBarSeries*>(series.first())) {
                for (QBarSet* set : bars->barSets())
                    plotted.append(set->color());
            } else if (auto* pie = qobject_cast<QPieSeries*>(series.first())) {
                for (QPieSlice* slice : pie->slices())
                    plotted.append(slice->brush().color());
            } else {
                QCOMPARE(series.size(), 2);
                for (qsizetype i = 0; i < 2; ++i) {
                    QCOMPARE(series.at(i)->type(), seriesTypeOf(type));
                    QCOMPARE(series.at(i)->name(), engine.seriesStore().at(i)->name);
                    QCOMPARE(pointCountOf(series.at(i)), int(i + 1));
                    QCOMPARE(lineOf(series.at(i))->pen().widthF(), 2.0);
                    plotted.append(lineOf(series.at(i))->pen().color());
                }
            }
            for (QAbstractSeries* s : series) {
                for (QLegendMarker* marker : chart->legend()->markers(s))
                    legend.append(marker->brush().color());
            }
            // An area is filled darker and listed in its fill.
            const int darker = type == ChartEngine::Area ? 150 : 100;
            QCOMPARE(legend, (QList<QColor>{colours[0].darker(darker), colours[1].darker(darker)}));
            QCOMPARE(plotted, (QList<QColor>{colours[0], colours[1]}));
            if (auto* scatter = qobject_cast<QScatterSeries*>(series.first())) {
                QCOMPARE(scatter->brush().color(), colours[0]);
                QCOMPARE(scatter->markerSize(), 8.0);
            }
            if (auto* pie = qobject_cast<QPieSeries*>(series.first()))
                QVERIFY(pie->slices().at(1)->isLabelVisible());
        }
        QCOMPARE(chart->theme(), QChart::ChartThemeDark);
        QCOMPARE(chart->plotAreaBackgroundBrush().color(), QColor(u"#0A1018"_s));

        // Clearing drops the points only.
        engine.enableCheckBox()->setChecked(true);
        engine.clearButton()->click();
        QCOMPARE(engine.rules().size(), 2);
        QCOMPARE(engine.ruleListWidget()->count(), 2);
        QCOMPARE(chart->series().size(), 2);
        QVERIFY(engine.seriesStore().first()->points.isEmpty());
    }

    void shouldDrawLineWhileValuesKeepArriving()
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
        WAIT_FOR_REPLOT(engine);
        const int linePixels = pixelsLike(engine.chartView()->grab().toImage(), colour, 19);
        // More than the legend marker: the line itself is on screen.
        QVERIFY2(linePixels > 150, qPrintable(QString::number(linePixels)));
    }

    void shouldTurnChosenProposalsIntoRulesWhoseSeriesStartFilledAndGrow()
    {
        ChartEngine engine;
        engine.enableCheckBox()->setChecked(true);
        engine.analyzeButton()->click(); // no provider: nothing happens
        QCOMPARE(engine.ruleListWidget()->count(), 0);

        addRule(engine, u"hum"_s, u"h=(\\d+)"_s);
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-10);
        QList<AnalysisSample> samples;
        for (int i = 0; i < 3; ++i)
            samples.append(
                {t0.addSecs(i), u"{\"temp\": %1, \"hum\": %2}"_s.arg(20 + i).arg(50 + i)});
        engine.setAnalysisProvider([&samples] { return DataAnalyzer::analyze(samples); });
        QStringList offered;
        AnalysisDialog::choose = [&](QWidget*, const QList<ValueProposal>& proposals) {
            for (const ValueProposal& proposal : proposals)
                offered.append(proposal.rule.name);
            // What arrives while the user chooses is in the series too.
            samples.append({t0.addSecs(5), u"{\"temp\": 25}"_s});
            return QList<int>{0, 1};
        };
        engine.analyzeButton()->click();
        QCOMPARE(offered, QStringList({u"hum_2"_s, u"temp"_s})); // "hum" is taken
        QCOMPARE(engine.rules().size(), 3);
        QCOMPARE(engine.seriesStore().at(2)->points.first().time, t0);
        // Plotted at once, and growing with what arrives.
        QCOMPARE(pointCountOf(engine.chart()->series().at(2)), 4);
        engine.addValue(engine.rules().at(2), 30);
        WAIT_FOR_REPLOT(engine);
        QCOMPARE(pointCountOf(engine.chart()->series().at(2)), 5);

        // Nothing new to offer, then nothing at all.
        offered.clear();
        engine.analyzeButton()->click();
        QVERIFY(offered.isEmpty());
        QCOMPARE(engine.ruleMessageLabel()->text(), u"发现的数值都已有规则"_s);
        samples.clear();
        engine.analyzeButton()->click();
        QCOMPARE(engine.ruleListWidget()->item(3)->text(), u"未发现可用数值 — 请检查数据"_s);
        AnalysisDialog::restoreDefault();
    }

    void shouldNameJsonProposalsByPathAndLeaveCountersUnticked()
    {
        QList<AnalysisSample> samples;
        for (int i = 0; i < 4; ++i)
            samples.append(
                {QDateTime::currentDateTime(),
                 u"{\"hum\": %1, \"meta\": {\"seq\": %2}}"_s.arg(40 + i % 2).arg(7 + i)});
        AnalysisDialog dialog(DataAnalyzer::analyze(samples));
        QStringList shown;
        for (const QCheckBox* check : dialog.findChildren<QCheckBox*>(u"proposalCheck"_s))
            shown.append(check->text() + (check->isChecked() ? u" ✓"_s : QString()));
        QCOMPARE(shown, QStringList({u"hum ✓"_s, u"meta.seq"_s}));
    }

    void shouldRemoveRuleAndSeriesByDeleteKeyOrMenuEntry()
    {
        ChartEngine engine;
        engine.show();
        engine.enableCheckBox()->setChecked(true);
        QVERIFY(QTest::qWaitForWindowActive(&engine));
        for (const QString& name : {u"a"_s, u"b"_s, u"c"_s})
            addRule(engine, name, name);
        const QColor first = engine.seriesStore().first()->color;
        QListWidget* list = engine.ruleListWidget();
        list->setFocus();
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(engine.rules().size(), 2);
        QCOMPARE(engine.seriesStore().first()->name, u"b"_s);
        QCOMPARE(engine.chart()->series().size(), 2);

        list->setCurrentRow(1);
        QCOMPARE(engine.deleteRuleAction()->text(), u"删除规则"_s);
        engine.deleteRuleAction()->trigger();
        QCOMPARE(engine.rules().size(), 1);
        QCOMPARE(list->count(), 1);
        // A freed colour is given again before any is worn twice.
        addRule(engine, u"d"_s, u"d"_s);
        QCOMPARE(engine.seriesStore().last()->color, first);
        LanguageManager::setEnglish(true);
        QCOMPARE(engine.deleteRuleAction()->text(), u"Delete Rule"_s);
    }

    void shouldSurviveViewDestroyedBeforePanel()
    {
        // The window moves the view and the controls into its own widgets,
        // which may go first when the window is torn down.
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

    void shouldShowNoDataOrNothingWhenCanvasCannotPlot()
    {
        ChartWidget canvas;
        const QImage noData = render(canvas, QSize(300, 150));
        QVERIFY(!onlyBackground(noData));

        ChartWidget::SeriesList firstEmpty = {QList<DataPoint>(), constantSeries(3).first()};
        canvas.setSeriesSource(&firstEmpty);
        QCOMPARE(render(canvas, QSize(300, 150)), noData);

        ChartWidget::SeriesList stale = constantSeries(3, 1);
        stale.first().first().time = QDateTime::currentDateTime().addSecs(-3600);
        canvas.setSeriesSource(&stale);
        QCOMPARE(render(canvas, QSize(300, 150)), noData);

        ChartWidget::SeriesList live = constantSeries(3);
        canvas.setSeriesSource(&live);
        QVERIFY(render(canvas, QSize(300, 150)) != noData);
        // Too small for a plot: only the background; "No Data" shows at any size.
        QVERIFY(onlyBackground(render(canvas, QSize(56, 120))));
        canvas.setMinimumHeight(0);
        QVERIFY(onlyBackground(render(canvas, QSize(200, 24))));
        QVERIFY(!onlyBackground(render(canvas, QSize(57, 120))));
        canvas.setSeriesSource(nullptr);
        QVERIFY(!onlyBackground(render(canvas, QSize(56, 100))));

        // It repaints by itself so the time axis scrolls.
        QCOMPARE(canvas.repaintTimer()->interval(), 200);
        QSignalSpy ticks(canvas.repaintTimer(), &QTimer::timeout);
        QVERIFY(ticks.wait(2000));
    }

    void shouldFormatLabelsAndPickGridSteps()
    {
        const QList<QPair<double, QString>> labels = {
            {12345.4, u"12345"_s}, {-10000.0, u"-10000"_s}, {5.1, u"5.1"_s},
            {-1.0, u"-1.0"_s},     {0.5, u"0.500"_s},       {4.9, u"4.9"_s}};
        for (const auto& [value, text] : labels)
            QCOMPARE(ChartWidget::formatValueLabel(value), text);

        QCOMPARE(ChartWidget::timeStepMs(30), qint64(5000));
        QCOMPARE(ChartWidget::timeStepMs(31), qint64(10000));
        QCOMPARE(ChartWidget::timeStepMs(120), qint64(10000));
        QCOMPARE(ChartWidget::timeStepMs(121), qint64(30000));
        // A boundary on a multiple of the step gets no line.
        QCOMPARE(ChartWidget::gridTimes(100000, 130000),
                 QList<qint64>({105000, 110000, 115000, 120000, 125000}));
        QCOMPARE(ChartWidget::gridTimes(101000, 161000),
                 QList<qint64>({110000, 120000, 130000, 140000, 150000, 160000}));
    }

    void shouldCentreConstantSeriesAndSpaceTimeGridLines()
    {
        ChartWidget canvas;
        ChartWidget::SeriesList live = constantSeries(5, 50);
        canvas.setSeriesSource(&live);
        // Plot 600 x 180 at (48, 4): 5 in 4.9..5.1 sits at y = 4 + 90, in the first colour.
        const QImage centred = render(canvas, QSize(656, 204));
        const QColor centre = centred.pixelColor(48 + 300, 94); // 30 s back
        QVERIFY2(qAbs(centre.green() - 0xD4) < 60 && centre.blue() > 150,
                 qPrintable(centre.name()));
        QCOMPARE(centred.pixelColor(48 + 300, 60), centred.pixelColor(48 + 300, 130));

        canvas.setTimeWindow(2);
        QCOMPARE(canvas.timeWindow(), 5);
        for (int window : {30, 600}) {
            canvas.setTimeWindow(window);
            const QImage image = render(canvas, QSize(656, 204));
            // A row between the first two horizontal grid lines, away from the series.
            QList<int> runs;
            bool inRun = false;
            for (int x = 50; x < 48 + 600 - 1; ++x) {
                const bool lit = image.pixelColor(x, 4 + 22) != canvasBackground;
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
};

QTEST_MAIN(ChartTest)
#include "tst_chart.moc"

#include "chart/ChartEngine.h"
#include "chart/ChartExporter.h"
#include "chart/ChartHover.h"
#include "chart/ChartSeriesData.h"
#include "comm/ExportDialogs.h"

#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

namespace {

void addRule(ChartEngine& engine, const QString& name, int axis)
{
    engine.ruleNameEdit()->setText(name);
    engine.expressionEdit()->setText(name);
    engine.ruleAxisCombo()->setCurrentIndex(axis);
    engine.onAddRule();
}

QValueAxis* axisAt(QChart* chart, Qt::Alignment side)
{
    for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) {
        if (axis->alignment() == side)
            return qobject_cast<QValueAxis*>(axis);
    }
    return nullptr;
}

} // namespace

// The chart read by a person: two value scales, a point's value on hover, the
// picture and the points saved, a time axis that moves on by itself.
class ChartReadingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_savePath;
    QStringList m_warnings;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        ExportDialogs::getSaveFileName = [this](QWidget*, const QString&, const QString&,
                                                const QString&, QString*) {
            return m_savePath;
        };
        ExportDialogs::warning = [this](QWidget*, const QString&, const QString& text) {
            m_warnings.append(text);
        };
    }
    void cleanupTestCase() { ExportDialogs::restoreDefaults(); }

    void shouldGiveRightAxisRulesAnAxisWithItsOwnRange_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("twoAxes");
        QTest::newRow("line") << int(ChartEngine::Line) << true;
        QTest::newRow("scatter") << int(ChartEngine::Scatter) << true;
        QTest::newRow("area") << int(ChartEngine::Area) << true;
        // The bars are one series, against one axis.
        QTest::newRow("bar") << int(ChartEngine::Bar) << false;
    }

    void shouldGiveRightAxisRulesAnAxisWithItsOwnRange()
    {
        QFETCH(int, type);
        QFETCH(bool, twoAxes);
        ChartEngine engine;
        engine.chartTypeCombo()->setCurrentIndex(type);
        addRule(engine, u"volt"_s, LeftAxis);
        addRule(engine, u"hum"_s, RightAxis);
        QCOMPARE(engine.rules().at(1).axis, int(RightAxis));
        QCOMPARE(engine.ruleListWidget()->item(1)->text(), u"hum = hum  [右轴]"_s);
        for (double volt : {3.2, 3.4})
            engine.addValue(engine.rules().at(0), volt);
        for (double hum : {48.0, 52.0})
            engine.addValue(engine.rules().at(1), hum);
        QTRY_VERIFY(!engine.refreshPending());

        QChart* chart = engine.chart();
        QValueAxis* left = axisAt(chart, Qt::AlignLeft);
        QValueAxis* right = axisAt(chart, Qt::AlignRight);
        QCOMPARE(chart->axes(Qt::Vertical).size(), twoAxes ? 2 : 1);
        if (!twoAxes)
            return;
        // volt no longer a flat line at the foot of hum's scale.
        QCOMPARE(left->min(), 3.2 - 1.02);
        QCOMPARE(left->max(), 3.4 + 1.02);
        QCOMPARE(right->min(), 48.0 - 1.4);
        QCOMPARE(right->max(), 52.0 + 1.4);
        QCOMPARE(left->titleText(), u"volt"_s);
        QCOMPARE(right->titleText(), u"hum"_s);
        QVERIFY(chart->series().at(1)->attachedAxes().contains(right));

        // Moved back from the rule's menu entry, hum shares the left scale again.
        QSignalSpy changed(&engine, &ChartEngine::rulesChanged);
        engine.ruleListWidget()->setCurrentRow(1);
        engine.switchAxisAction()->trigger();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(engine.rules().at(1).axis, int(LeftAxis));
        QCOMPARE(chart->axes(Qt::Vertical).size(), 1);
        QCOMPARE(axisAt(chart, Qt::AlignLeft)->max(), 52.0 + (52.0 - 3.2) * 0.1 + 1.0);
        QCOMPARE(engine.ruleListWidget()->item(1)->text(), u"hum = hum"_s);
    }

    void shouldTellTheNearestPointsValueAndTimeOnHover()
    {
        ChartEngine engine;
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-10);
        engine.addRule(ChartRule{u"v"_s, JsonPath, u"v"_s},
                       {{t0, 1.5}, {t0.addMSecs(1000), 1234567.891}, {t0.addMSecs(2000), -3}});
        QAbstractSeries* series = engine.chart()->series().first();
        const auto text = [](const QString& name, const QDateTime& time,
                             const QString& value) -> QString {
            return name + u": "_s + value + u"\n"_s + time.toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
        };
        const double ms0 = double(t0.toMSecsSinceEpoch());
        // Exact, not rounded to six digits as a default conversion would.
        QCOMPARE(ChartHover::textAt(series, {ms0 + 1400, 0}),
                 text(u"v"_s, t0.addMSecs(1000), u"1234567.891"_s));
        QCOMPARE(ChartHover::textAt(series, {ms0 + 1600, 0}),
                 text(u"v"_s, t0.addMSecs(2000), u"-3"_s));
        QCOMPARE(ChartHover::textAt(series, {ms0 - 5000, 0}), text(u"v"_s, t0, u"1.5"_s));
        QCOMPARE(ChartHover::textAt(series, {ms0 + 9000, 0}),
                 text(u"v"_s, t0.addMSecs(2000), u"-3"_s));

        // The label follows the series' hover signal.
        QLabel* label = engine.hover()->label();
        QCOMPARE(label->objectName(), u"chartHoverLabel"_s);
        auto* line = qobject_cast<QXYSeries*>(series);
        emit line->hovered(QPointF(ms0 + 100, 1.5), true);
        QVERIFY(!label->isHidden());
        QCOMPARE(label->text(), text(u"v"_s, t0, u"1.5"_s));
        emit line->hovered(QPointF(ms0 + 100, 1.5), false);
        QVERIFY(label->isHidden());
    }

    void shouldSaveThePictureAndEveryPointThroughTheFileDialog()
    {
        ChartEngine engine;
        engine.resize(800, 600);
        QSignalSpy notices(&engine, &ChartEngine::notice);
        const QDateTime t0 = QDateTime::currentDateTime().addSecs(-30);
        engine.addRule(ChartRule{u"a"_s, JsonPath, u"a"_s}, {{t0, 1}, {t0.addMSecs(2000), 0.1}});
        // A name from a peer's JSON must not become a spreadsheet formula.
        engine.addRule(ChartRule{u"=cmd|\"x\""_s, JsonPath, u"b"_s}, {{t0.addMSecs(1000), 2.5}});

        m_savePath = m_dir.filePath(u"chart"_s);
        engine.exporter()->savePngAction()->trigger();
        const QImage picture(m_savePath + u".png"_s);
        QVERIFY(picture.width() > 200 && picture.height() > 150);
        QSet<QRgb> colours; // drawn, not blank
        for (int y = 0; y < picture.height(); y += 3) {
            for (int x = 0; x < picture.width(); x += 3)
                colours.insert(picture.pixel(x, y));
        }
        QVERIFY(colours.size() > 20);

        m_savePath = m_dir.filePath(u"points.csv"_s);
        engine.exporter()->exportCsvAction()->trigger();
        QFile csv(m_savePath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const auto iso = [&t0](int ms) {
            return t0.addMSecs(ms).toString(Qt::ISODateWithMs);
        };
        QCOMPARE(QString::fromUtf8(csv.readAll()),
                 u"time,series,value\n"_s + iso(0) + u",\"a\",1\n"_s + iso(1000) +
                     u",\"'=cmd|\"\"x\"\"\",2.5\n"_s + iso(2000) + u",\"a\",0.1\n"_s);
        QCOMPARE(notices.count(), 2);
        QVERIFY(m_warnings.isEmpty());

        // A place that takes no file is a failure, said as one.
        m_savePath = m_dir.filePath(u"missing/points.csv"_s);
        engine.exporter()->exportCsvAction()->trigger();
        QCOMPARE(m_warnings, QStringList{u"无法写入文件: "_s + m_savePath});
        QCOMPARE(notices.count(), 2);
    }

    void shouldMoveTheTimeAxisWithTheClockWithoutData()
    {
        ChartEngine engine;
        auto* axis = qobject_cast<QDateTimeAxis*>(engine.chart()->axes(Qt::Horizontal).first());
        // Up to now from the start, not a range of its own.
        QVERIFY(qAbs(axis->max().msecsTo(QDateTime::currentDateTime())) < 2000);
        engine.show();
        engine.enableCheckBox()->setChecked(true);
        QVERIFY(QTest::qWaitForWindowExposed(&engine));
        const QDateTime first = axis->max();
        QTRY_VERIFY_WITH_TIMEOUT(axis->max() >= first.addMSecs(900), 3000);
        QCOMPARE(axis->min().msecsTo(axis->max()), qint64(60000));
    }
};

QTEST_MAIN(ChartReadingTest)
#include "tst_chartreading.moc"

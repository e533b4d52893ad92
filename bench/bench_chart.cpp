// Cost of one value arriving (ChartEngine::addValue, which re-plots the whole
// window) with 6 series x 5000 points, per chart type, as a ratio to one bare
// QXYSeries::replace of the same 5000 points. Also shows what the per-point
// append path would cost, for comparison. Run from the build directory:
//   QT_QPA_PLATFORM=offscreen ./bench/bench_chart
#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"

#include <QApplication>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int SeriesCount = 6;
constexpr int Points = ChartSeriesData::MaxPoints;

// Median of a few runs, in microseconds per call.
double medianMicros(int runs, int callsPerRun, const std::function<void()>& call)
{
    QList<double> samples;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < callsPerRun; ++i)
            call();
        samples.append(double(timer.nsecsElapsed()) / 1000.0 / callsPerRun);
    }
    std::sort(samples.begin(), samples.end());
    return samples.at(samples.size() / 2);
}

QList<QPointF> windowPoints(const QDateTime& now)
{
    QList<QPointF> points;
    points.reserve(Points);
    const qint64 start = now.toMSecsSinceEpoch() - 50000;
    for (int i = 0; i < Points; ++i)
        points.append(QPointF(double(start + i * 10), double(i % 100)));
    return points;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Stamped like the values that addValue stores.
    const QDateTime now = ChartSeriesData::timeStamp();
    const QList<QPointF> points = windowPoints(now);

    // Baseline: one bare replace of 5000 points on a line series in a chart
    // with the same axes and animation setting as the panel's.
    QChart chart;
    chart.setAnimationOptions(QChart::NoAnimation);
    auto* series = new QLineSeries;
    chart.addSeries(series);
    auto* timeAxis = new QDateTimeAxis;
    auto* valueAxis = new QValueAxis;
    chart.addAxis(timeAxis, Qt::AlignBottom);
    chart.addAxis(valueAxis, Qt::AlignLeft);
    series->attachAxis(timeAxis);
    series->attachAxis(valueAxis);
    const double replaceUs = medianMicros(7, 20, [&] { series->replace(points); });
    const double appendUs = medianMicros(3, 2, [&] {
        series->clear();
        for (const QPointF& p : points)
            series->append(p);
    });

    std::printf("baseline: one replace of %d points: %.1f us\n", Points, replaceUs);
    std::printf("per-point clear+append of the same points: %.1f us (%.1fx a replace)\n\n",
                appendUs, appendUs / replaceUs);
    std::printf("%-8s %14s %22s %14s\n", "type", "addValue (us)", "ratio to one replace",
                "refresh (us)");

    const char* names[] = {"Line", "Spline", "Scatter", "Area", "Bar", "Pie"};
    for (int type = ChartEngine::Line; type <= ChartEngine::Pie; ++type) {
        ChartEngine engine;
        for (int s = 0; s < SeriesCount; ++s) {
            engine.ruleNameEdit()->setText(QStringLiteral("s%1").arg(s));
            engine.expressionEdit()->setText(QStringLiteral("s%1=(\\d+)").arg(s));
            engine.onAddRule();
        }
        engine.onChartTypeChanged(type);
        const QList<ChartSeriesData*>& store = engine.seriesStore();
        for (ChartSeriesData* data : store) {
            data->points.reserve(Points);
            for (int i = 0; i < Points; ++i)
                data->points.append(DataPoint{now.addMSecs(-50000 + i * 10), double(i % 100)});
        }
        const ChartRule rule = engine.rules().first();
        engine.addValue(rule, 1.0); // warm up
        const double addUs = medianMicros(5, 10, [&] { engine.addValue(rule, 42.0); });
        // A whole re-plot, as the clock-following time axis asks for once a second.
        const double refreshUs = medianMicros(5, 4, [&] { engine.refresh(); });
        std::printf("%-8s %14.1f %22.2f %14.1f\n", names[type], addUs, addUs / replaceUs,
                    refreshUs);
    }
    return 0;
}

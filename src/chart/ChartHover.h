#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>

class QAbstractSeries;
class QChart;
class QChartView;
class QLabel;

// Shows the value and time of the point under the pointer in a label over the
// chart view. The series are attached after every rebuild of the chart.
class ChartHover : public QObject
{
    Q_OBJECT

public:
    ChartHover(QChart* chart, QChartView* view, QObject* parent = nullptr);

    // Line, spline, scatter and area series; others are left alone.
    void attach(QAbstractSeries* series);
    QLabel* label() const { return m_label; }
    // Before the series it was about are replaced.
    void hideLabel();

    // The text for the plotted point of `series` nearest in time to `at`
    // (chart coordinates: milliseconds since the epoch, value); empty when
    // the series has no point.
    static QString textAt(QAbstractSeries* series, QPointF at);
    static QString pointText(const QString& series, qint64 msSinceEpoch, double value);

private:
    void show(QAbstractSeries* series, QPointF at, bool entered);

    QPointer<QChart> m_chart;
    QPointer<QChartView> m_view;
    QPointer<QLabel> m_label;
};

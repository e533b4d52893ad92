#pragma once

#include "chart/SeriesPoints.h"

#include <QColor>
#include <QObject>
#include <QString>

// A named, coloured series of points, oldest first. Owned by the chart panel
// once it enters its series store.
class ChartSeriesData : public QObject, public SeriesPoints
{
    Q_OBJECT

public:
    explicit ChartSeriesData(const QString& seriesName = QString(),
                             const QColor& seriesColor = QColor(), QObject* parent = nullptr);

    QColor color;
    // RuleAxis: the value axis the series is drawn against.
    int axis = 0;
};

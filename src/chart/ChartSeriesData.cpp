#include "chart/ChartSeriesData.h"

#include "comm/LocalClock.h"

ChartSeriesData::ChartSeriesData(const QString& seriesName, const QColor& seriesColor,
                                 QObject* parent)
    : QObject(parent)
    , name(seriesName)
    , color(seriesColor)
{}

QDateTime ChartSeriesData::timeStamp()
{
    return LocalClock::now();
}

void ChartSeriesData::appendPoint(const DataPoint& point)
{
    points.append(point);
    // QList drops from the front without moving the rest.
    while (points.size() > MaxPoints)
        points.removeFirst();
}

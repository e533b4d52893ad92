#include "chart/SeriesPoints.h"

#include "comm/LocalClock.h"

SeriesPoints::SeriesPoints(const QString& seriesName)
    : name(seriesName)
{}

QDateTime SeriesPoints::timeStamp()
{
    return LocalClock::now();
}

void SeriesPoints::appendPoint(const DataPoint& point)
{
    points.append(point);
    // QList drops from the front without moving the rest.
    while (points.size() > MaxPoints)
        points.removeFirst();
}

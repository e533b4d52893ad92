#include "chart/ChartSeriesData.h"

#include <limits>

ChartSeriesData::ChartSeriesData(const QString& seriesName, const QColor& seriesColor,
                                 QObject* parent)
    : QObject(parent)
    , name(seriesName)
    , color(seriesColor)
{}

QDateTime ChartSeriesData::timeStamp()
{
    // Finding the local offset costs more than the rest of a point; offsets
    // only change on whole seconds, so one lookup per second is enough.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now >= 0 ? now / 1000 : (now - 999) / 1000;
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        cachedSecond = second;
    }
    return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, cachedOffset);
}

void ChartSeriesData::appendPoint(const DataPoint& point)
{
    points.append(point);
    // QList drops from the front without moving the rest.
    while (points.size() > MaxPoints)
        points.removeFirst();
}

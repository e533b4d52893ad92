#pragma once

#include "chart/SeriesPoints.h"

#include <QByteArray>
#include <QList>

// The points of the chart's series as CSV: a "time,series,value" header, then
// one row per point in time order (ISO 8601 times with milliseconds and the
// UTC offset; values in their shortest exact form).
class ChartCsv
{
public:
    static QByteArray toCsv(const QList<const SeriesPoints*>& series);

    ChartCsv() = delete;
};

#include "chart/ChartSeriesData.h"

ChartSeriesData::ChartSeriesData(const QString& seriesName, const QColor& seriesColor,
                                 QObject* parent)
    : QObject(parent)
    , SeriesPoints(seriesName)
    , color(seriesColor)
{}

#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// One time-stamped value of a series.
struct DataPoint
{
    QDateTime time;
    double value = 0.0;
};

// A named series of points, oldest first, without anything to draw it with:
// the analysis fills these, the chart panel colours them.
class SeriesPoints
{
public:
    static constexpr int MaxPoints = 5000;

    explicit SeriesPoints(const QString& seriesName = QString());

    // The current local date and time, carrying its UTC offset: a plain local
    // time is converted through the time-zone database on every comparison,
    // which dominated the re-plot of full windows.
    static QDateTime timeStamp();

    // Appends and drops the oldest points beyond MaxPoints.
    void appendPoint(const DataPoint& point);

    QString name;
    QList<DataPoint> points;
};

#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

// One time-stamped value of a series.
struct DataPoint
{
    QDateTime time;
    double value = 0.0;
};

// A named, coloured series of points, oldest first. Owned by the chart panel
// once it enters its series store.
class ChartSeriesData : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxPoints = 5000;

    explicit ChartSeriesData(const QString& seriesName = QString(),
                             const QColor& seriesColor = QColor(), QObject* parent = nullptr);

    // The current local date and time, carrying its UTC offset: a plain local
    // time is converted through the time-zone database on every comparison,
    // which dominated the re-plot of full windows.
    static QDateTime timeStamp();

    // Appends and drops the oldest points beyond MaxPoints.
    void appendPoint(const DataPoint& point);

    QString name;
    QColor color;
    QList<DataPoint> points;
};

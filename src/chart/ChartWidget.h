#pragma once

#include "chart/ChartSeriesData.h"

#include <QList>
#include <QMutex>
#include <QWidget>

class QTimer;

// A light self-painted line chart of the points of a sliding time window.
// It repaints itself every 200 ms so the time axis scrolls without new data.
class ChartWidget : public QWidget
{
    Q_OBJECT

public:
    using SeriesList = QList<QList<DataPoint>>;

    explicit ChartWidget(QWidget* parent = nullptr);

    // Not owned: the caller keeps the list alive while the canvas may paint.
    void setSeriesSource(const SeriesList* source);
    void setTimeWindow(int seconds);
    int timeWindow() const;
    QTimer* repaintTimer() const { return m_repaintTimer; }

    static QString formatValueLabel(double value);
    static qint64 timeStepMs(double spanSeconds);
    // Whole multiples of the step strictly inside (startMs, nowMs).
    static QList<qint64> gridTimes(qint64 startMs, qint64 nowMs);

public slots:
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTimer* m_repaintTimer = nullptr;
    const SeriesList* m_source = nullptr;
    int m_timeWindow = 60;
    mutable QMutex m_lock;
};

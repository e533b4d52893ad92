#pragma once

#include "chart/SeriesPoints.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QChartView;
class QWidget;

// Saves the chart as a PNG picture and its points as CSV, through the file
// dialog seam; failures are warned about, successes told as a notice.
class ChartExporter : public QObject
{
    Q_OBJECT

public:
    using SeriesSource = std::function<QList<const SeriesPoints*>()>;

    ChartExporter(QChartView* view, SeriesSource series, QWidget* parent);

    QAction* savePngAction() const { return m_savePng; }
    QAction* exportCsvAction() const { return m_exportCsv; }

public slots:
    void savePng();
    void exportCsv();

signals:
    // A system log text, in Chinese.
    void notice(const QString& text);

private:
    QString askPath(const QString& caption, const QString& prefix, const QString& filter,
                    const QString& suffix) const;
    void fail(const QString& path) const;

    QWidget* m_parent;
    QPointer<QChartView> m_view;
    SeriesSource m_series;
    QAction* m_savePng = nullptr;
    QAction* m_exportCsv = nullptr;
};

#include "chart/ChartHover.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QXYSeries>

#include <algorithm>

namespace {

QXYSeries* lineOf(QAbstractSeries* series)
{
    if (auto* area = qobject_cast<QAreaSeries*>(series))
        return area->upperSeries();
    return qobject_cast<QXYSeries*>(series);
}

} // namespace

ChartHover::ChartHover(QChart* chart, QChartView* view, QObject* parent)
    : QObject(parent)
    , m_chart(chart)
    , m_view(view)
{
    if (!m_view)
        return;
    m_label = new QLabel(m_view);
    m_label->setObjectName(QStringLiteral("chartHoverLabel"));
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_label->setStyleSheet(
        QStringLiteral("QLabel { background: #1F2937; color: #F1F5F9; border: 1px solid #334155; "
                       "border-radius: 3px; padding: 3px 6px; }"));
    m_label->hide();
}

void ChartHover::attach(QAbstractSeries* series)
{
    if (auto* area = qobject_cast<QAreaSeries*>(series)) {
        connect(area, &QAreaSeries::hovered, this,
                [this, area](const QPointF& at, bool entered) { show(area, at, entered); });
    } else if (auto* xy = qobject_cast<QXYSeries*>(series)) {
        connect(xy, &QXYSeries::hovered, this,
                [this, xy](const QPointF& at, bool entered) { show(xy, at, entered); });
    }
}

QString ChartHover::pointText(const QString& series, qint64 msSinceEpoch, double value)
{
    // The shortest form that reads back as the same number: what arrived, not a rounding.
    return QStringLiteral("%1: %2\n%3")
        .arg(series, QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest),
             QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
}

QString ChartHover::textAt(QAbstractSeries* series, QPointF at)
{
    const QXYSeries* line = lineOf(series);
    if (!line || line->count() == 0)
        return QString();
    // The pointer is anywhere on the drawn line; the point meant is the one
    // nearest in time. Plotted points are in time order.
    const QList<QPointF> points = line->points();
    auto next = std::lower_bound(points.cbegin(), points.cend(), at.x(),
                                 [](const QPointF& p, double x) { return p.x() < x; });
    if (next == points.cend() ||
        (next != points.cbegin() && at.x() - std::prev(next)->x() < next->x() - at.x()))
        --next;
    return pointText(series->name(), qint64(next->x()), next->y());
}

void ChartHover::hideLabel()
{
    if (!m_label)
        return;
    // Cleared, so that a language switch has no old text to bring back.
    m_label->clear();
    m_label->hide();
}

void ChartHover::show(QAbstractSeries* series, QPointF at, bool entered)
{
    if (!m_label || !m_chart || !m_view)
        return;
    const QString text = entered ? textAt(series, at) : QString();
    if (text.isEmpty()) {
        hideLabel();
        return;
    }
    m_label->setText(text);
    m_label->adjustSize();
    const QPoint spot =
        m_view->mapFromScene(m_chart->mapToScene(m_chart->mapToPosition(at, series)));
    // Beside the pointer, and inside the view near its edges.
    QPoint topLeft = spot + QPoint(12, -m_label->height() - 8);
    topLeft.setX(std::clamp(topLeft.x(), 0, std::max(0, m_view->width() - m_label->width())));
    topLeft.setY(std::clamp(topLeft.y(), 0, std::max(0, m_view->height() - m_label->height())));
    m_label->move(topLeft);
    m_label->show();
    m_label->raise();
}

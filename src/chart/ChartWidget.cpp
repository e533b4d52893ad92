#include "chart/ChartWidget.h"

#include <QDateTime>
#include <QFont>
#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor backgroundColor(0x0A, 0x0E, 0x16);
const QColor labelColor(0x64, 0x74, 0x8B);
const QColor gridColor(0x1E, 0x3A, 0x5F, 50);
const QColor frameColor(0x1E, 0x3A, 0x5F);

QColor seriesColor(qsizetype index)
{
    static const QColor palette[] = {QColor(0x00, 0xD4, 0xFF), QColor(0x10, 0xB9, 0x81),
                                     QColor(0xF5, 0x9E, 0x0B), QColor(0xEF, 0x44, 0x44),
                                     QColor(0x8B, 0x5C, 0xF6), QColor(0xEC, 0x48, 0x99)};
    return palette[std::min<qsizetype>(index, 5)];
}

void drawNoData(QPainter& painter, const QRect& area)
{
    painter.setFont(QFont(QStringLiteral("Segoe UI"), 11));
    painter.setPen(labelColor);
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("No Data"));
}

} // namespace

ChartWidget::ChartWidget(QWidget* parent)
    : QWidget(parent)
    , m_repaintTimer(new QTimer(this))
{
    setMinimumHeight(100);
    setAutoFillBackground(false);
    m_repaintTimer->setInterval(200);
    connect(m_repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_repaintTimer->start();
}

void ChartWidget::setSeriesSource(const SeriesList* source)
{
    QMutexLocker locker(&m_lock);
    m_source = source;
}

void ChartWidget::setTimeWindow(int seconds)
{
    QMutexLocker locker(&m_lock);
    m_timeWindow = std::max(seconds, 5);
}

int ChartWidget::timeWindow() const
{
    QMutexLocker locker(&m_lock);
    return m_timeWindow;
}

void ChartWidget::refresh()
{
    update();
}

void ChartWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}

QString ChartWidget::formatValueLabel(double value)
{
    const double magnitude = std::abs(value);
    const int decimals = magnitude >= 10000 ? 0 : (magnitude >= 1 ? 1 : 3);
    return QString::number(value, 'f', decimals);
}

qint64 ChartWidget::timeStepMs(double spanSeconds)
{
    if (spanSeconds <= 30)
        return 5000;
    if (spanSeconds <= 120)
        return 10000;
    return 30000;
}

QList<qint64> ChartWidget::gridTimes(qint64 startMs, qint64 nowMs)
{
    const qint64 step = timeStepMs(double(nowMs - startMs) / 1000.0);
    QList<qint64> times;
    qint64 t = startMs - startMs % step;
    if (t <= startMs)
        t += step;
    for (; t < nowMs; t += step)
        times.append(t);
    return times;
}

void ChartWidget::paintEvent(QPaintEvent* /*event*/)
{
    QMutexLocker locker(&m_lock);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const int w = width();
    const int h = height();
    painter.fillRect(rect(), backgroundColor);

    if (!m_source || m_source->isEmpty() || m_source->first().isEmpty()) {
        drawNoData(painter, rect());
        return;
    }

    const int pw = w - 56;
    const int ph = h - 24;
    if (pw <= 0 || ph <= 0)
        return;
    const QRect plot(48, 4, pw, ph);

    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start = now.addSecs(-m_timeWindow);
    const qint64 startMs = start.toMSecsSinceEpoch();
    const qint64 nowMs = now.toMSecsSinceEpoch();

    double lo0 = std::numeric_limits<double>::max();
    double hi0 = std::numeric_limits<double>::lowest();
    bool any = false;
    for (const QList<DataPoint>& series : *m_source) {
        for (const DataPoint& point : series) {
            // NaN and infinities have no place on the value scale.
            if (point.time.toMSecsSinceEpoch() < startMs || !std::isfinite(point.value))
                continue;
            any = true;
            lo0 = std::min(lo0, point.value);
            hi0 = std::max(hi0, point.value);
        }
    }
    if (!any) {
        drawNoData(painter, rect());
        return;
    }

    const double pad = (hi0 - lo0) < 0.001 ? 0.1 : 0.1 * (hi0 - lo0);
    const double lo = lo0 - pad;
    const double hi = hi0 + pad;
    const double span = double(nowMs - startMs) / 1000.0;
    const auto xFor = [&](qint64 ms) {
        return (double(ms - startMs) / 1000.0) / span * pw;
    };

    painter.setPen(QPen(frameColor, 1, Qt::SolidLine));
    painter.drawRect(plot);

    painter.save();
    painter.setClipRect(plot);
    painter.translate(plot.topLeft());

    painter.setPen(QPen(gridColor, 1, Qt::SolidLine));
    for (int i = 0; i <= 4; ++i) {
        const int y = (i * ph) / 4;
        painter.drawLine(QPointF(0, y), QPointF(pw, y));
    }
    const QList<qint64> times = gridTimes(startMs, nowMs);
    for (qint64 t : times)
        painter.drawLine(QPointF(xFor(t), 0), QPointF(xFor(t), ph));

    for (qsizetype i = 0; i < m_source->size(); ++i) {
        QPainterPath path;
        bool first = true;
        for (const DataPoint& point : m_source->at(i)) {
            const qint64 ms = point.time.toMSecsSinceEpoch();
            if (ms < startMs || !std::isfinite(point.value))
                continue;
            const QPointF p(xFor(ms), ph - (point.value - lo) / (hi - lo) * ph);
            if (first)
                path.moveTo(p);
            else
                path.lineTo(p);
            first = false;
        }
        if (first)
            continue;
        painter.setPen(
            QPen(QBrush(seriesColor(i)), 1.5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }
    painter.restore();

    painter.setFont(QFont(QStringLiteral("Segoe UI"), 9));
    painter.setPen(labelColor);
    for (int i = 0; i <= 4; ++i) {
        const double v = hi - i * (hi - lo) * 0.25;
        const QRectF box(0, 4 + i * ph * 0.25 - 8, 44, 16);
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                         formatValueLabel(v));
    }
    for (qint64 t : times) {
        const QRectF box(48 + xFor(t) - 22, h - 18, 44, 16);
        painter.drawText(box, Qt::AlignCenter | Qt::TextDontClip,
                         QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss")));
    }
}

#include "chart/ChartEngine.h"

#include "chart/ChartSeriesData.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QAreaSeries>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QCheckBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QPen>
#include <QPieSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplineSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>
#include <limits>

namespace {

QPen seriesPen(const QColor& color)
{
    return QPen(QBrush(color), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

struct TemplateRule
{
    const char16_t* name;
    const char16_t* expression;
};

} // namespace

ChartEngine::ChartEngine(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    buildControls();
    layout->addWidget(m_controlPanel, 0);

    buildChart();
    m_chartView = new QChartView(m_chart, this);
    m_chartView->setRenderHint(QPainter::Antialiasing);
    layout->addWidget(m_chartView, 1);
    m_chartView->hide();

    connect(m_enableCheck, &QCheckBox::toggled, this, [this](bool on) {
        m_settingsBox->setEnabled(on);
        // Once the view is another widget's page (a tab), showing it here
        // would lay it over that widget's current page; its owner decides.
        if (m_chartView && m_chartView->parentWidget() == this)
            m_chartView->setVisible(on);
    });
    connect(m_addButton, &QPushButton::clicked, this, &ChartEngine::onAddRule);
    connect(m_analyzeButton, &QPushButton::clicked, this, &ChartEngine::onAnalyzeData);
    connect(m_clearButton, &QPushButton::clicked, this, &ChartEngine::onClearChart);
    connect(m_templateCombo, &QComboBox::currentIndexChanged, this,
            &ChartEngine::onTemplateChanged);
    connect(m_chartTypeCombo, &QComboBox::currentIndexChanged, this,
            &ChartEngine::onChartTypeChanged);
    connect(m_timeWindowSpin, &QSpinBox::valueChanged, this, [this](int seconds) {
        m_timeWindowSeconds = seconds;
        refresh();
    });

    LanguageManager::addListener(this, [this] { retranslateWidgetTree(this); });
}

ChartEngine::~ChartEngine()
{
    resetChart();
}

void ChartEngine::buildControls()
{
    m_controlPanel = new QWidget(this);
    auto* panelLayout = new QVBoxLayout(m_controlPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(4);

    m_enableCheck = new QCheckBox(QStringLiteral("启用图表"), m_controlPanel);
    panelLayout->addWidget(m_enableCheck);

    m_settingsBox = new QWidget(m_controlPanel);
    auto* settingsLayout = new QVBoxLayout(m_settingsBox);
    settingsLayout->setContentsMargins(0, 0, 0, 0);
    settingsLayout->setSpacing(4);
    panelLayout->addWidget(m_settingsBox);

    settingsLayout->addWidget(new QLabel(QStringLiteral("预设模板"), m_settingsBox));
    m_templateCombo = new QComboBox(m_settingsBox);
    m_templateCombo->addItems({QStringLiteral("自定义"), QStringLiteral("温度/电压 折线"),
                               QStringLiteral("JSON 多字段"), QStringLiteral("百分比饼图"),
                               QStringLiteral("频率柱状图")});
    settingsLayout->addWidget(m_templateCombo);

    settingsLayout->addWidget(new QLabel(QStringLiteral("图表类型"), m_settingsBox));
    m_chartTypeCombo = new QComboBox(m_settingsBox);
    m_chartTypeCombo->addItems({QStringLiteral("折线图"), QStringLiteral("平滑曲线"),
                                QStringLiteral("散点图"), QStringLiteral("面积图"),
                                QStringLiteral("柱状图"), QStringLiteral("饼图")});
    settingsLayout->addWidget(m_chartTypeCombo);

    settingsLayout->addWidget(new QLabel(QStringLiteral("规则名称"), m_settingsBox));
    m_ruleNameEdit = new QLineEdit(m_settingsBox);
    settingsLayout->addWidget(m_ruleNameEdit);

    settingsLayout->addWidget(new QLabel(QStringLiteral("表达式 (正则/JSON路径)"), m_settingsBox));
    m_expressionEdit = new QLineEdit(m_settingsBox);
    m_expressionEdit->setPlaceholderText(QStringLiteral("例: temperature 或 data\\.value"));
    settingsLayout->addWidget(m_expressionEdit);

    auto* buttonRow = new QHBoxLayout;
    m_addButton = new QPushButton(QStringLiteral("添加规则"), m_settingsBox);
    m_analyzeButton = new QPushButton(QStringLiteral("智能分析"), m_settingsBox);
    m_analyzeButton->setStyleSheet(QStringLiteral("QPushButton { color: #60A5FA; }"));
    buttonRow->addWidget(m_addButton);
    buttonRow->addWidget(m_analyzeButton);
    settingsLayout->addLayout(buttonRow);

    m_ruleListWidget = new QListWidget(m_settingsBox);
    m_ruleListWidget->setMaximumHeight(80);
    settingsLayout->addWidget(m_ruleListWidget);

    auto* windowRow = new QHBoxLayout;
    windowRow->addWidget(new QLabel(QStringLiteral("时间窗口:"), m_settingsBox));
    m_timeWindowSpin = new QSpinBox(m_settingsBox);
    m_timeWindowSpin->setRange(5, 600);
    m_timeWindowSpin->setValue(60);
    m_timeWindowSpin->setSuffix(QStringLiteral(" 秒"));
    windowRow->addWidget(m_timeWindowSpin);
    settingsLayout->addLayout(windowRow);

    m_clearButton = new QPushButton(QStringLiteral("清除图表数据"), m_settingsBox);
    settingsLayout->addWidget(m_clearButton);

    m_settingsBox->setEnabled(false);
}

void ChartEngine::buildChart()
{
    m_chart = new QChart;
    m_chart->setTitle(QStringLiteral("数据可视化"));
    // The dark theme goes first: set later it would repaint the series and
    // axes in its own colours and undo the panel's style.
    m_chart->setTheme(QChart::ChartThemeDark);
    // No series animations: each value restarts them, and with values arriving
    // faster than an animation lasts the plotted line lags or stays empty.
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->legend()->setAlignment(Qt::AlignBottom);

    auto* timeAxis = new QDateTimeAxis;
    timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis->setTitleText(QStringLiteral("时间"));
    m_chart->addAxis(timeAxis, Qt::AlignBottom);
    auto* valueAxis = new QValueAxis;
    valueAxis->setTitleText(QStringLiteral("数值"));
    valueAxis->setRange(-10, 110);
    m_chart->addAxis(valueAxis, Qt::AlignLeft);

    applyChartStyle(m_chart);
}

void ChartEngine::applyChartStyle(QChart* chart)
{
    if (!chart)
        return;
    chart->setBackgroundBrush(QColor(QStringLiteral("#0D1321")));
    chart->setPlotAreaBackgroundBrush(QColor(QStringLiteral("#0A1018")));
    chart->setPlotAreaBackgroundVisible(true);
    chart->setTitleFont(QFont(QStringLiteral("Segoe UI"), 12, QFont::Bold));
    chart->setTitleBrush(QColor(QStringLiteral("#F1F5F9")));
    chart->legend()->setLabelColor(QColor(QStringLiteral("#94A3B8")));
    chart->legend()->setAlignment(Qt::AlignBottom);

    const QList<QAbstractAxis*> axes = chart->axes();
    for (QAbstractAxis* axis : axes) {
        axis->setTitleBrush(QColor(QStringLiteral("#94A3B8")));
        axis->setLabelsColor(QColor(QStringLiteral("#64748B")));
        axis->setGridLineColor(QColor(QStringLiteral("#1E2A3A")));
        axis->setLinePenColor(QColor(QStringLiteral("#2A3A4A")));
        axis->setShadesPen(Qt::NoPen);
        axis->setShadesBrush(Qt::NoBrush);
        if (auto* valueAxis = qobject_cast<QValueAxis*>(axis))
            valueAxis->setLabelFormat(QStringLiteral("%.1f"));
        else if (auto* timeAxis = qobject_cast<QDateTimeAxis*>(axis))
            timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    }
}

void ChartEngine::onChartTypeChanged(int idx)
{
    m_currentChartType = idx;
    if (!m_chart)
        return;

    m_chart->removeAllSeries();
    const QList<QAbstractAxis*> oldAxes = m_chart->axes();
    for (QAbstractAxis* axis : oldAxes) {
        m_chart->removeAxis(axis);
        delete axis;
    }
    // A no-op unless someone changed the theme; see buildChart.
    m_chart->setTheme(QChart::ChartThemeDark);

    if (idx == Pie) {
        m_chart->addSeries(new QPieSeries);
        applyChartStyle(m_chart);
        return;
    }

    auto* timeAxis = new QDateTimeAxis;
    timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis->setTitleText(QStringLiteral("时间"));
    auto* valueAxis = new QValueAxis;
    valueAxis->setTitleText(QStringLiteral("数值"));
    valueAxis->setRange(-10, 110);
    m_chart->addAxis(timeAxis, Qt::AlignBottom);
    m_chart->addAxis(valueAxis, Qt::AlignLeft);

    if (idx == Bar) {
        auto* barSeries = new QBarSeries;
        for (const ChartSeriesData* data : std::as_const(m_seriesStore)) {
            auto* set = new QBarSet(data->name);
            set->setColor(data->color);
            set->append(0.0);
            barSeries->append(set);
        }
        m_chart->addSeries(barSeries);
        m_chart->removeAxis(timeAxis);
        delete timeAxis;
        auto* categoryAxis = new QBarCategoryAxis;
        categoryAxis->append(QStringLiteral(" "));
        m_chart->addAxis(categoryAxis, Qt::AlignBottom);
        barSeries->attachAxis(categoryAxis);
        barSeries->attachAxis(valueAxis);
    } else if (idx == Area) {
        for (const ChartSeriesData* data : std::as_const(m_seriesStore)) {
            auto* upper = new QLineSeries;
            upper->setName(data->name);
            upper->setPen(seriesPen(data->color));
            auto* area = new QAreaSeries(upper);
            // The area series does not own its upper line.
            upper->setParent(area);
            area->setName(data->name);
            area->setBrush(data->color.darker(150));
            area->setPen(QPen(data->color));
            m_chart->addSeries(area);
            area->attachAxis(timeAxis);
            area->attachAxis(valueAxis);
        }
    } else {
        for (const ChartSeriesData* data : std::as_const(m_seriesStore)) {
            QXYSeries* series = nullptr;
            if (idx == Spline)
                series = new QSplineSeries;
            else if (idx == Scatter)
                series = new QScatterSeries;
            else
                series = new QLineSeries;
            series->setName(data->name);
            series->setPen(seriesPen(data->color));
            m_chart->addSeries(series);
            series->attachAxis(timeAxis);
            series->attachAxis(valueAxis);
        }
    }
    applyChartStyle(m_chart);
}

void ChartEngine::refresh()
{
    m_refreshScheduled = false;
    if (!m_chart)
        return;

    const QDateTime now = ChartSeriesData::timeStamp();
    const QDateTime cutoff = now.addSecs(-m_timeWindowSeconds);
    const qint64 cutoffMs = cutoff.toMSecsSinceEpoch();

    const QList<QAbstractAxis*> horizontal = m_chart->axes(Qt::Horizontal);
    for (QAbstractAxis* axis : horizontal) {
        if (auto* timeAxis = qobject_cast<QDateTimeAxis*>(axis))
            timeAxis->setRange(cutoff, now);
    }

    // Each series' window is built once and handed over in one call: the
    // chart series rebuild their whole path on every change.
    const qsizetype count = m_seriesStore.size();
    QList<QList<QPointF>> windows(count);
    QList<double> sums(count, 0.0);
    // Start at ±infinity so that any finite value sets the range.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    for (qsizetype k = 0; k < count; ++k) {
        const QList<DataPoint>& points = m_seriesStore.at(k)->points;
        QList<QPointF>& window = windows[k];
        window.reserve(points.size());
        for (const DataPoint& point : points) {
            const qint64 ms = point.time.toMSecsSinceEpoch();
            if (ms < cutoffMs)
                continue;
            window.append(QPointF(double(ms), point.value));
            sums[k] += point.value;
            // A NaN or infinity cannot be shown on an axis; keep it out of the range.
            if (std::isfinite(point.value)) {
                lo = std::min(lo, point.value);
                hi = std::max(hi, point.value);
            }
        }
    }
    if (m_currentChartType == Bar) {
        // The bars show the sums, so the axis must reach them.
        for (qsizetype k = 0; k < count; ++k) {
            if (!windows.at(k).isEmpty() && std::isfinite(sums.at(k))) {
                lo = std::min(lo, sums.at(k));
                hi = std::max(hi, sums.at(k));
            }
        }
    }

    if (lo <= hi) {
        const double pad = (hi - lo) * 0.1 + 1.0;
        const QList<QAbstractAxis*> vertical = m_chart->axes(Qt::Vertical);
        for (QAbstractAxis* axis : vertical) {
            if (auto* valueAxis = qobject_cast<QValueAxis*>(axis))
                valueAxis->setRange(lo - pad, hi + pad);
        }
    }

    const QList<QAbstractSeries*> chartSeries = m_chart->series();
    if (m_currentChartType == Bar) {
        for (QAbstractSeries* series : chartSeries) {
            auto* barSeries = qobject_cast<QBarSeries*>(series);
            if (!barSeries)
                continue;
            const QList<QBarSet*> sets = barSeries->barSets();
            for (qsizetype j = 0; j < sets.size() && j < count; ++j) {
                if (sets.at(j)->count() > 0)
                    sets.at(j)->replace(0, sums.at(j));
                else
                    sets.at(j)->append(sums.at(j));
            }
        }
        return;
    }

    qsizetype next = 0;
    for (QAbstractSeries* series : chartSeries) {
        if (next >= count)
            break;
        if (auto* xy = qobject_cast<QXYSeries*>(series))
            xy->replace(windows.at(next++));
        else if (auto* area = qobject_cast<QAreaSeries*>(series))
            area->upperSeries()->replace(windows.at(next++));
    }

    if (m_currentChartType == Pie && !chartSeries.isEmpty()) {
        if (auto* pie = qobject_cast<QPieSeries*>(chartSeries.first())) {
            pie->clear();
            for (qsizetype k = 0; k < count; ++k)
                pie->append(m_seriesStore.at(k)->name, sums.at(k));
        }
    }
}

void ChartEngine::addValue(const ChartRule& rule, double value)
{
    for (ChartSeriesData* data : std::as_const(m_seriesStore)) {
        if (data->name == rule.name) {
            data->appendPoint(DataPoint{ChartSeriesData::timeStamp(), value});
            break;
        }
    }
    // A re-plot walks every point of every series; values arriving by the
    // thousand per second would otherwise freeze the window.
    if (!m_refreshScheduled) {
        m_refreshScheduled = true;
        QTimer::singleShot(0, this, &ChartEngine::runScheduledRefresh);
    }
}

void ChartEngine::runScheduledRefresh()
{
    if (m_refreshScheduled)
        refresh();
}

void ChartEngine::onAddRule()
{
    const QString name = m_ruleNameEdit->text().trimmed();
    const QString expression = m_expressionEdit->text().trimmed();
    if (name.isEmpty() || expression.isEmpty())
        return;

    const int hue = int((60 * m_seriesStore.size()) % 360);
    m_seriesStore.append(new ChartSeriesData(name, QColor::fromHsv(hue, 200, 220, 255)));
    if (m_ruleListWidget)
        m_ruleListWidget->addItem(name % QStringLiteral(" = ") % expression);
    m_ruleStore.append(ChartRule{name, ruleKindForExpression(expression), expression});

    m_ruleNameEdit->clear();
    m_expressionEdit->clear();
    onChartTypeChanged(m_currentChartType);
}

void ChartEngine::onAnalyzeData()
{
    if (!m_analysisProvider)
        return;
    QList<ChartSeriesData*> found = m_analysisProvider();
    if (found.isEmpty()) {
        if (m_ruleListWidget)
            m_ruleListWidget->addItem(QStringLiteral("未发现可用数值 — 请检查数据"));
        return;
    }
    for (qsizetype i = 0; i < found.size(); ++i) {
        ChartSeriesData* data = found.at(i);
        if (i >= 5) {
            // Handed over but not used: nobody else would free them.
            delete data;
            continue;
        }
        data->setParent(nullptr);
        m_seriesStore.append(data);
        if (m_ruleListWidget)
            m_ruleListWidget->addItem(data->name);
    }
    onChartTypeChanged(m_chartTypeCombo ? m_chartTypeCombo->currentIndex() : m_currentChartType);
}

void ChartEngine::onTemplateChanged(int idx)
{
    resetChart();

    ChartType type = Line;
    QList<TemplateRule> templateRules;
    switch (idx) {
    case 1:
        templateRules = {{u"数值", u"\\d+\\.?\\d*"}};
        break;
    case 2:
        templateRules = {{u"field1", u"field1"}, {u"field2", u"field2"}};
        break;
    case 3:
        type = Pie;
        templateRules = {{u"A", u"\\d+"}, {u"B", u"\\d+"}};
        break;
    case 4:
        type = Bar;
        templateRules = {{u"频率", u"\\d+"}};
        break;
    default:
        return;
    }

    m_currentChartType = type;
    for (qsizetype i = 0; i < templateRules.size(); ++i) {
        m_ruleNameEdit->setText(QString::fromUtf16(templateRules.at(i).name));
        m_expressionEdit->setText(QString::fromUtf16(templateRules.at(i).expression));
        if (i == 0 && m_chartTypeCombo)
            m_chartTypeCombo->setCurrentIndex(type);
        onAddRule();
    }
}

void ChartEngine::onClearChart()
{
    for (ChartSeriesData* data : std::as_const(m_seriesStore))
        data->points.clear();
    onChartTypeChanged(m_currentChartType);
}

void ChartEngine::resetChart()
{
    for (ChartSeriesData* data : std::as_const(m_seriesStore)) {
        data->points.clear();
        delete data;
    }
    m_seriesStore.clear();
    m_ruleStore.clear();
    if (m_ruleListWidget)
        m_ruleListWidget->clear();
    onChartTypeChanged(m_chartTypeCombo ? m_chartTypeCombo->currentIndex() : m_currentChartType);
}

// ------------------------------------------------- settings kept across starts

void ChartEngine::restoreRules(const QList<ChartRule>& rules)
{
    for (const ChartRule& rule : rules) {
        m_ruleNameEdit->setText(rule.name);
        m_expressionEdit->setText(rule.expression);
        onAddRule();
    }
    m_ruleNameEdit->clear();
    m_expressionEdit->clear();
}

void ChartEngine::showTemplateWithoutApplying(int idx)
{
    const QSignalBlocker blocker(m_templateCombo);
    m_templateCombo->setCurrentIndex(idx);
}

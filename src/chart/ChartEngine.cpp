#include "chart/ChartEngine.h"

#include "chart/AnalysisDialog.h"
#include "chart/ChartExporter.h"
#include "chart/ChartHover.h"
#include "chart/ChartSeriesData.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QAction>
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
#include <QMenu>
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

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Rule list entries carry the name of their rule; notices carry none.
constexpr int kRuleNameRole = Qt::UserRole;
constexpr int kSeriesHues = 6;

QPen seriesPen(const QColor& color)
{
    return QPen(QBrush(color), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QColor seriesColour(qsizetype k)
{
    return QColor::fromHsv(int((60 * k) % 360), 200, 220, 255);
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

    m_hover = new ChartHover(m_chart, m_chartView, this);
    m_exporter = new ChartExporter(
        m_chartView,
        [this] {
            QList<const SeriesPoints*> series;
            for (const ChartSeriesData* data : std::as_const(m_seriesStore))
                series.append(data);
            return series;
        },
        this);
    connect(m_exporter, &ChartExporter::notice, this, &ChartEngine::notice);
    auto* exportMenu = new QMenu(m_exportButton);
    exportMenu->addAction(m_exporter->savePngAction());
    exportMenu->addAction(m_exporter->exportCsvAction());
    m_exportButton->setMenu(exportMenu);
    m_chartView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_chartView->addAction(m_exporter->savePngAction());
    m_chartView->addAction(m_exporter->exportCsvAction());

    m_clockTimer = new QTimer(this);
    m_clockTimer->setObjectName(QStringLiteral("chartClockTimer"));
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &ChartEngine::followClock);
    m_clockTimer->start();

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
    connect(m_ruleNameEdit, &QLineEdit::textEdited, m_ruleMessage, &QWidget::hide);
    connect(m_deleteRuleAction, &QAction::triggered, this, &ChartEngine::removeSelectedRule);
    connect(m_switchAxisAction, &QAction::triggered, this, &ChartEngine::switchSelectedRuleAxis);
    connect(m_ruleListWidget, &QWidget::customContextMenuRequested, this,
            &ChartEngine::showRuleMenu);

    LanguageManager::addListener(this, [this] {
        retranslateWidgetTree(this);
        // A menu entry is no widget, so the walk does not reach it.
        if (m_deleteRuleAction)
            m_deleteRuleAction->setText(LanguageManager::translate(QStringLiteral("删除规则")));
        relistRules();
    });
    // The time axis shows the last window up to now from the start, not a
    // range of its own until the first value.
    refresh();
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
    auto* nameRow = new QHBoxLayout;
    m_ruleNameEdit = new QLineEdit(m_settingsBox);
    nameRow->addWidget(m_ruleNameEdit, 1);
    m_ruleAxisCombo = new QComboBox(m_settingsBox);
    m_ruleAxisCombo->setObjectName(QStringLiteral("ruleAxisCombo"));
    m_ruleAxisCombo->addItems({QStringLiteral("左轴"), QStringLiteral("右轴")});
    nameRow->addWidget(m_ruleAxisCombo);
    settingsLayout->addLayout(nameRow);

    settingsLayout->addWidget(new QLabel(QStringLiteral("表达式 (正则/JSON路径)"), m_settingsBox));
    m_expressionEdit = new QLineEdit(m_settingsBox);
    m_expressionEdit->setPlaceholderText(QStringLiteral("例: temperature 或 data\\.value"));
    settingsLayout->addWidget(m_expressionEdit);

    m_ruleMessage = new QLabel(m_settingsBox);
    m_ruleMessage->setObjectName(QStringLiteral("ruleMessageLabel"));
    m_ruleMessage->setWordWrap(true);
    m_ruleMessage->setStyleSheet(QStringLiteral("color: #F87171;"));
    m_ruleMessage->hide();
    settingsLayout->addWidget(m_ruleMessage);

    auto* buttonRow = new QHBoxLayout;
    m_addButton = new QPushButton(QStringLiteral("添加规则"), m_settingsBox);
    m_analyzeButton = new QPushButton(QStringLiteral("智能分析"), m_settingsBox);
    m_analyzeButton->setStyleSheet(QStringLiteral("QPushButton { color: #60A5FA; }"));
    buttonRow->addWidget(m_addButton);
    buttonRow->addWidget(m_analyzeButton);
    settingsLayout->addLayout(buttonRow);

    m_ruleListWidget = new QListWidget(m_settingsBox);
    m_ruleListWidget->setObjectName(QStringLiteral("ruleList"));
    m_ruleListWidget->setMaximumHeight(80);
    m_ruleListWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    settingsLayout->addWidget(m_ruleListWidget);
    m_deleteRuleAction =
        new QAction(LanguageManager::translate(QStringLiteral("删除规则")), m_ruleListWidget);
    m_deleteRuleAction->setObjectName(QStringLiteral("deleteRuleAction"));
    m_deleteRuleAction->setShortcut(QKeySequence(Qt::Key_Delete));
    m_deleteRuleAction->setShortcutContext(Qt::WidgetShortcut);
    m_ruleListWidget->addAction(m_deleteRuleAction);
    m_switchAxisAction = new QAction(m_ruleListWidget);
    m_switchAxisAction->setObjectName(QStringLiteral("switchAxisAction"));

    auto* windowRow = new QHBoxLayout;
    windowRow->addWidget(new QLabel(QStringLiteral("时间窗口:"), m_settingsBox));
    m_timeWindowSpin = new QSpinBox(m_settingsBox);
    m_timeWindowSpin->setRange(5, 600);
    m_timeWindowSpin->setValue(60);
    m_timeWindowSpin->setSuffix(QStringLiteral(" 秒"));
    windowRow->addWidget(m_timeWindowSpin);
    settingsLayout->addLayout(windowRow);

    auto* clearRow = new QHBoxLayout;
    m_clearButton = new QPushButton(QStringLiteral("清除图表数据"), m_settingsBox);
    clearRow->addWidget(m_clearButton, 1);
    m_exportButton = new QPushButton(QStringLiteral("导出..."), m_settingsBox);
    m_exportButton->setObjectName(QStringLiteral("chartExportButton"));
    clearRow->addWidget(m_exportButton);
    settingsLayout->addLayout(clearRow);

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
    rebuild(idx);
    // The points already there show at once, not only with the next value: a
    // quiet peer would otherwise leave the new chart empty.
    refresh();
}

void ChartEngine::rebuild(int idx)
{
    m_currentChartType = idx;
    if (!m_chart)
        return;

    if (m_hover)
        m_hover->hideLabel();
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
    // Bars share one series and so one axis.
    QValueAxis* rightAxis = nullptr;
    const auto onSide = [this](int side) {
        QStringList names;
        for (const ChartSeriesData* data : std::as_const(m_seriesStore)) {
            if (data->axis == side)
                names.append(data->name);
        }
        return names;
    };
    if (idx != Bar && !onSide(RightAxis).isEmpty()) {
        rightAxis = new QValueAxis;
        rightAxis->setRange(-10, 110);
        m_chart->addAxis(rightAxis, Qt::AlignRight);
        // With two axes each is named after its series, so that a line is
        // read against its own scale.
        const QStringList left = onSide(LeftAxis);
        valueAxis->setTitleText(left.isEmpty() ? QStringLiteral("数值")
                                               : left.join(QStringLiteral(", ")));
        rightAxis->setTitleText(onSide(RightAxis).join(QStringLiteral(", ")));
    }
    const auto axisFor = [&](const ChartSeriesData* data) {
        return data->axis == RightAxis && rightAxis ? rightAxis : valueAxis;
    };

    if (idx == Bar) {
        auto* barSeries = new QBarSeries;
        for (const ChartSeriesData* data : std::as_const(m_seriesStore)) {
            auto* set = new QBarSet(data->name);
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
            auto* area = new QAreaSeries(upper);
            // The area series does not own its upper line.
            upper->setParent(area);
            area->setName(data->name);
            m_chart->addSeries(area);
            area->attachAxis(timeAxis);
            area->attachAxis(axisFor(data));
            m_hover->attach(area);
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
            m_chart->addSeries(series);
            series->attachAxis(timeAxis);
            series->attachAxis(axisFor(data));
            m_hover->attach(series);
        }
    }
    applyChartStyle(m_chart);
    colourSeries();
}

void ChartEngine::colourSeries()
{
    // Given after the series joined the chart: joining lets the chart theme
    // paint them, and a legend marker shows what its series shows.
    qsizetype next = 0;
    const QList<QAbstractSeries*> chartSeries = m_chart->series();
    for (QAbstractSeries* series : chartSeries) {
        if (auto* bars = qobject_cast<QBarSeries*>(series)) {
            const QList<QBarSet*> sets = bars->barSets();
            for (qsizetype j = 0; j < sets.size() && j < m_seriesStore.size(); ++j) {
                sets.at(j)->setColor(m_seriesStore.at(j)->color);
                sets.at(j)->setBorderColor(m_seriesStore.at(j)->color);
            }
            continue;
        }
        if (next >= m_seriesStore.size())
            break;
        const QColor colour = m_seriesStore.at(next)->color;
        if (auto* area = qobject_cast<QAreaSeries*>(series)) {
            area->upperSeries()->setPen(seriesPen(colour));
            area->setBrush(colour.darker(150));
            area->setPen(QPen(colour));
            ++next;
        } else if (auto* xy = qobject_cast<QXYSeries*>(series)) {
            xy->setPen(seriesPen(colour));
            if (auto* scatter = qobject_cast<QScatterSeries*>(xy)) {
                scatter->setBrush(colour);
                scatter->setMarkerSize(scatterMarkerSize);
            }
            ++next;
        }
    }
}

void ChartEngine::colourPie(QPieSeries* pie)
{
    const QList<QPieSlice*> slices = pie->slices();
    for (qsizetype k = 0; k < slices.size() && k < m_seriesStore.size(); ++k) {
        const ChartSeriesData* data = m_seriesStore.at(k);
        QPieSlice* slice = slices.at(k);
        slice->setBrush(data->color);
        // Edged in the chart's background, so that neighbours stay apart.
        slice->setPen(QPen(QColor(QStringLiteral("#0D1321")), 2.0));
        slice->setLabel(data->name + QLatin1Char(' ') +
                        QString::number(slice->percentage() * 100.0, 'f', 1) + QLatin1Char('%'));
        slice->setLabelColor(QColor(QStringLiteral("#F1F5F9")));
        slice->setLabelVisible(true);
    }
}

void ChartEngine::refresh()
{
    m_refreshScheduled = false;
    m_sinceRefresh.start();
    if (!m_chart)
        return;

    const QDateTime now =
        m_recordedUntil.isValid() ? m_recordedUntil : ChartSeriesData::timeStamp();
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
    // Per value axis, left and right. Start at ±infinity so that any finite
    // value sets the range.
    double lows[2] = {std::numeric_limits<double>::infinity(),
                      std::numeric_limits<double>::infinity()};
    double highs[2] = {-std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()};
    for (qsizetype k = 0; k < count; ++k) {
        const QList<DataPoint>& points = m_seriesStore.at(k)->points;
        const int side = m_currentChartType != Bar && m_seriesStore.at(k)->axis == RightAxis;
        double& lo = lows[side];
        double& hi = highs[side];
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
                lows[0] = std::min(lows[0], sums.at(k));
                highs[0] = std::max(highs[0], sums.at(k));
            }
        }
    }

    const QList<QAbstractAxis*> vertical = m_chart->axes(Qt::Vertical);
    for (QAbstractAxis* axis : vertical) {
        auto* valueAxis = qobject_cast<QValueAxis*>(axis);
        const int side = axis->alignment() == Qt::AlignRight;
        const double lo = lows[side];
        const double hi = highs[side];
        if (valueAxis && lo <= hi) {
            const double pad = (hi - lo) * 0.1 + 1.0;
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
            colourPie(pie);
        }
    }
}

void ChartEngine::addRecordedValue(const ChartRule& rule, double value, const QDateTime& time)
{
    if (!m_recordedUntil.isValid() || m_recordedUntil < time)
        m_recordedUntil = time;
    appendTo(rule, DataPoint{time, value});
}

void ChartEngine::addValue(const ChartRule& rule, double value)
{
    // A live value puts the axis back on the clock.
    m_recordedUntil = QDateTime();
    appendTo(rule, DataPoint{ChartSeriesData::timeStamp(), value});
}

void ChartEngine::appendTo(const ChartRule& rule, const DataPoint& point)
{
    for (ChartSeriesData* data : std::as_const(m_seriesStore)) {
        if (data->name == rule.name) {
            data->appendPoint(point);
            break;
        }
    }
    // A re-plot walks every point of every series; values arriving by the
    // thousand per second would otherwise freeze the window.
    if (!m_refreshScheduled) {
        m_refreshScheduled = true;
        constexpr qint64 kMinRefreshGapMs = 40;
        const qint64 since = m_sinceRefresh.isValid() ? m_sinceRefresh.elapsed() : kMinRefreshGapMs;
        QTimer::singleShot(int(std::max<qint64>(0, kMinRefreshGapMs - since)), this,
                           &ChartEngine::runScheduledRefresh);
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
    // Refused, the fields stay for the user to mend.
    if (!addRule(ChartRule{name, ruleKindForExpression(expression), expression,
                           m_ruleAxisCombo->currentIndex()}))
        return;
    m_ruleNameEdit->clear();
    m_expressionEdit->clear();
}

bool ChartEngine::addRule(const ChartRule& rule, const QList<DataPoint>& points)
{
    if (!appendRule(rule, points))
        return false;
    onChartTypeChanged(m_currentChartType);
    if (!points.isEmpty())
        refresh();
    return true;
}

bool ChartEngine::appendRule(const ChartRule& rule, const QList<DataPoint>& points)
{
    // Values go to the series of the rule's name: a second rule of that name
    // would pour its values into the first one's series.
    const bool taken =
        std::any_of(m_seriesStore.cbegin(), m_seriesStore.cend(),
                    [&rule](const ChartSeriesData* data) { return data->name == rule.name; });
    if (taken) {
        showRuleMessage(QStringLiteral("规则名称已存在"));
        return false;
    }
    auto* data = new ChartSeriesData(rule.name, nextSeriesColour());
    data->axis = rule.axis == RightAxis ? RightAxis : LeftAxis;
    for (const DataPoint& point : points)
        data->appendPoint(point);
    m_seriesStore.append(data);
    if (m_ruleListWidget) {
        auto* item = new QListWidgetItem(ruleListText(rule));
        item->setData(kRuleNameRole, rule.name);
        m_ruleListWidget->addItem(item);
    }
    m_ruleStore.append(rule);
    m_ruleStore.last().axis = data->axis;
    if (m_ruleMessage)
        m_ruleMessage->hide();
    emit rulesChanged();
    return true;
}

QColor ChartEngine::nextSeriesColour() const
{
    // The first hue no series wears: after a removal its colour comes back
    // before any colour is worn twice.
    for (int k = 0; k < kSeriesHues; ++k) {
        const QColor colour = seriesColour(k);
        const bool worn =
            std::any_of(m_seriesStore.cbegin(), m_seriesStore.cend(),
                        [&colour](const ChartSeriesData* data) { return data->color == colour; });
        if (!worn)
            return colour;
    }
    return seriesColour(m_seriesStore.size());
}

void ChartEngine::showRuleMessage(const QString& chinese)
{
    if (!m_ruleMessage)
        return;
    setRuntimeText(m_ruleMessage, chinese, LanguageManager::translate(chinese));
    m_ruleMessage->show();
}

void ChartEngine::removeRule(const QString& name)
{
    m_ruleStore.removeIf([&name](const ChartRule& rule) { return rule.name == name; });
    for (qsizetype i = m_seriesStore.size(); i-- > 0;) {
        if (m_seriesStore.at(i)->name == name)
            delete m_seriesStore.takeAt(i);
    }
    if (m_ruleListWidget) {
        for (int row = m_ruleListWidget->count(); row-- > 0;) {
            if (m_ruleListWidget->item(row)->data(kRuleNameRole).toString() == name)
                delete m_ruleListWidget->takeItem(row);
        }
    }
    onChartTypeChanged(m_currentChartType);
    refresh();
    emit rulesChanged();
}

QString ChartEngine::ruleListText(const ChartRule& rule) const
{
    QString text = rule.name % QStringLiteral(" = ") % rule.expression;
    if (rule.axis == RightAxis)
        text += QStringLiteral("  [") + LanguageManager::translate(QStringLiteral("右轴")) +
                QLatin1Char(']');
    return text;
}

void ChartEngine::relistRules()
{
    if (!m_ruleListWidget)
        return;
    for (int row = 0; row < m_ruleListWidget->count(); ++row) {
        QListWidgetItem* item = m_ruleListWidget->item(row);
        const QString name = item->data(kRuleNameRole).toString();
        for (const ChartRule& rule : std::as_const(m_ruleStore)) {
            if (!name.isEmpty() && rule.name == name)
                item->setText(ruleListText(rule));
        }
    }
}

void ChartEngine::setRuleAxis(const QString& name, int axis)
{
    axis = axis == RightAxis ? RightAxis : LeftAxis;
    bool changed = false;
    for (ChartRule& rule : m_ruleStore) {
        if (rule.name == name && rule.axis != axis) {
            rule.axis = axis;
            changed = true;
        }
    }
    if (!changed)
        return;
    for (ChartSeriesData* data : std::as_const(m_seriesStore)) {
        if (data->name == name)
            data->axis = axis;
    }
    relistRules();
    onChartTypeChanged(m_currentChartType);
    emit rulesChanged();
}

void ChartEngine::switchSelectedRuleAxis()
{
    const QListWidgetItem* item = m_ruleListWidget ? m_ruleListWidget->currentItem() : nullptr;
    const QString name = item ? item->data(kRuleNameRole).toString() : QString();
    for (const ChartRule& rule : std::as_const(m_ruleStore)) {
        if (!name.isEmpty() && rule.name == name) {
            setRuleAxis(name, rule.axis == RightAxis ? LeftAxis : RightAxis);
            return;
        }
    }
}

void ChartEngine::followClock()
{
    // Arriving values re-plot by themselves; a quiet chart still moves on
    // with the clock, while it is shown.
    if (m_refreshScheduled || !m_enableCheck->isChecked() || !m_chartView ||
        !m_chartView->isVisible())
        return;
    if (m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() < m_clockTimer->interval() / 2)
        return;
    refresh();
}

void ChartEngine::removeSelectedRule()
{
    if (!m_ruleListWidget)
        return;
    const QList<QListWidgetItem*> selected = m_ruleListWidget->selectedItems();
    if (selected.isEmpty())
        return;
    const QString name = selected.first()->data(kRuleNameRole).toString();
    if (name.isEmpty())
        delete selected.first(); // a notice, not a rule
    else
        removeRule(name);
}

void ChartEngine::showRuleMenu(QPoint pos)
{
    QListWidgetItem* item = m_ruleListWidget ? m_ruleListWidget->itemAt(pos) : nullptr;
    if (!item)
        return;
    m_ruleListWidget->setCurrentItem(item);
    QMenu menu(m_ruleListWidget);
    menu.addAction(m_deleteRuleAction);
    const QString name = item->data(kRuleNameRole).toString();
    for (const ChartRule& rule : std::as_const(m_ruleStore)) {
        if (!name.isEmpty() && rule.name == name) {
            m_switchAxisAction->setText(LanguageManager::translate(
                rule.axis == RightAxis ? QStringLiteral("移到左轴") : QStringLiteral("移到右轴")));
            menu.addAction(m_switchAxisAction);
        }
    }
    menu.exec(m_ruleListWidget->viewport()->mapToGlobal(pos));
}

void ChartEngine::onAnalyzeData()
{
    if (!m_analysisProvider)
        return;
    const QList<ValueProposal> found = m_analysisProvider();
    if (found.isEmpty()) {
        if (m_ruleListWidget)
            m_ruleListWidget->addItem(QStringLiteral("未发现可用数值 — 请检查数据"));
        return;
    }
    const QList<ValueProposal> offered = DataAnalyzer::withoutRules(found, m_ruleStore);
    if (offered.isEmpty()) {
        showRuleMessage(QStringLiteral("发现的数值都已有规则"));
        return;
    }
    QWidget* parent = m_controlPanel ? m_controlPanel->window() : window();
    const QList<int> chosen = AnalysisDialog::choose(parent, offered);
    if (chosen.isEmpty())
        return;
    // Values kept arriving while the user chose; the series start with them too.
    const QList<ValueProposal> latest = m_analysisProvider();
    bool added = false;
    for (int i : chosen) {
        if (i < 0 || i >= offered.size())
            continue;
        const ChartRule& rule = offered.at(i).rule;
        const auto current =
            std::find_if(latest.cbegin(), latest.cend(), [&rule](const ValueProposal& proposal) {
                return proposal.rule.kind == rule.kind &&
                       proposal.rule.expression == rule.expression;
            });
        added =
            appendRule(rule, current != latest.cend() ? current->points : offered.at(i).points) ||
            added;
    }
    if (added) {
        onChartTypeChanged(m_currentChartType);
        refresh();
    }
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
    // A template's rules share one scale.
    m_ruleAxisCombo->setCurrentIndex(LeftAxis);
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
    emit rulesChanged();
}

// ------------------------------------------------- settings kept across starts

void ChartEngine::restoreRules(const QList<ChartRule>& rules)
{
    for (const ChartRule& rule : rules)
        addRule(rule);
}

void ChartEngine::showTemplateWithoutApplying(int idx)
{
    const QSignalBlocker blocker(m_templateCombo);
    m_templateCombo->setCurrentIndex(idx);
}

const RuleEvaluator& ChartEngine::ruleEvaluator()
{
    if (!m_evaluator.isFor(m_ruleStore))
        m_evaluator = RuleEvaluator(m_ruleStore);
    return m_evaluator;
}

#pragma once

#include "chart/ChartRule.h"
#include "chart/DataAnalyzer.h"
#include "chart/RuleEvaluator.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QList>
#include <QListWidget>
#include <QPointer>
#include <QWidget>

#include <functional>

class ChartExporter;
class ChartHover;
class ChartSeriesData;
class QCheckBox;
class QLineEdit;
class QPieSeries;
class QPushButton;
class QSpinBox;
class QTimer;

// The data-visualisation panel: chart controls, rules, series and the Qt Charts
// view that re-plots the sliding time window for every value found.
class ChartEngine : public QWidget
{
    Q_OBJECT

public:
    enum ChartType
    {
        Line,
        Spline,
        Scatter,
        Area,
        Bar,
        Pie
    };
    Q_ENUM(ChartType)

    // Returns the rules to offer, with the values they already find; those
    // the user picks become rules whose series start with these values.
    using AnalysisProvider = std::function<QList<ValueProposal>()>;

    static constexpr int scatterMarkerSize = 8;

    explicit ChartEngine(QWidget* parent = nullptr);
    ~ChartEngine() override;

    QWidget* controlPanel() const { return m_controlPanel; }
    QChartView* chartView() const { return m_chartView; }
    QChart* chart() const { return m_chart; }

    QList<ChartRule> rules() const { return m_ruleStore; }
    // The rules made ready for received lines, made again once they change.
    const RuleEvaluator& ruleEvaluator();
    const QList<ChartSeriesData*>& seriesStore() const { return m_seriesStore; }

    // Adds the rule and its series, which starts with `points`; refused, with
    // the reason shown under the rule inputs, when the name is taken.
    bool addRule(const ChartRule& rule, const QList<DataPoint>& points = {});
    // Removes the rule of that name together with its series.
    void removeRule(const QString& name);
    // Draws the rule's series against the left or the right value axis.
    void setRuleAxis(const QString& name, int axis);

    // Appends the value to its series and asks for one re-plot in the next
    // event-loop pass, however many values arrive before it.
    void addValue(const ChartRule& rule, double value);
    // A value of an opened recording, at its recorded time: the time axis
    // ends at the latest one instead of the clock until a live value comes.
    void addRecordedValue(const ChartRule& rule, double value, const QDateTime& time);
    bool refreshPending() const { return m_refreshScheduled; }
    void resetChart();
    static void applyChartStyle(QChart* chart);

    // For settings kept across starts: rules are added as they were (a taken
    // name is refused as ever), and the template is shown without being
    // applied (which would replace the rules).
    void restoreRules(const QList<ChartRule>& rules);
    void showTemplateWithoutApplying(int idx);

    void setAnalysisProvider(AnalysisProvider provider)
    {
        m_analysisProvider = std::move(provider);
    }

    int timeWindowSeconds() const { return m_timeWindowSeconds; }
    int currentChartType() const { return m_currentChartType; }

    QCheckBox* enableCheckBox() const { return m_enableCheck; }
    QWidget* settingsBox() const { return m_settingsBox; }
    QComboBox* templateCombo() const { return m_templateCombo; }
    QComboBox* chartTypeCombo() const { return m_chartTypeCombo; }
    QLineEdit* ruleNameEdit() const { return m_ruleNameEdit; }
    QLineEdit* expressionEdit() const { return m_expressionEdit; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* analyzeButton() const { return m_analyzeButton; }
    QPushButton* clearButton() const { return m_clearButton; }
    QListWidget* ruleListWidget() const { return m_ruleListWidget; }
    QLabel* ruleMessageLabel() const { return m_ruleMessage; }
    QAction* deleteRuleAction() const { return m_deleteRuleAction; }
    QSpinBox* timeWindowSpin() const { return m_timeWindowSpin; }
    // The axis a rule added from the inputs goes to.
    QComboBox* ruleAxisCombo() const { return m_ruleAxisCombo; }
    // Moves the selected rule to the other value axis.
    QAction* switchAxisAction() const { return m_switchAxisAction; }
    QPushButton* exportButton() const { return m_exportButton; }
    ChartExporter* exporter() const { return m_exporter; }
    ChartHover* hover() const { return m_hover; }
    // Moves the time axis on with the clock while no values arrive.
    QTimer* clockTimer() const { return m_clockTimer; }

signals:
    // A rule was added, removed or moved to the other axis, or all were cleared.
    void rulesChanged();
    // A system log text, in Chinese.
    void notice(const QString& text);

public slots:
    void refresh();
    void onAddRule();
    void onAnalyzeData();
    void onTemplateChanged(int idx);
    void onClearChart();
    void onChartTypeChanged(int idx);

private slots:
    void runScheduledRefresh();
    void appendTo(const ChartRule& rule, const DataPoint& point);
    void removeSelectedRule();
    void switchSelectedRuleAxis();
    void showRuleMenu(QPoint pos);
    void followClock();

private:
    void buildControls();
    void buildChart();
    void rebuild(int idx);
    bool appendRule(const ChartRule& rule, const QList<DataPoint>& points);
    QColor nextSeriesColour() const;
    void showRuleMessage(const QString& chinese);
    void colourSeries();
    void colourPie(QPieSeries* pie);
    QString ruleListText(const ChartRule& rule) const;
    void relistRules();

    // The window moves the view and the control panel into its own widgets,
    // which may be destroyed before the panel.
    QPointer<QChartView> m_chartView;
    QPointer<QWidget> m_controlPanel;
    QList<ChartSeriesData*> m_seriesStore;
    QList<ChartRule> m_ruleStore;
    RuleEvaluator m_evaluator;
    QCheckBox* m_enableCheck = nullptr;
    QWidget* m_settingsBox = nullptr;
    QComboBox* m_templateCombo = nullptr;
    QPointer<QComboBox> m_chartTypeCombo;
    QLineEdit* m_ruleNameEdit = nullptr;
    QLineEdit* m_expressionEdit = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_analyzeButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPointer<QListWidget> m_ruleListWidget;
    QPointer<QLabel> m_ruleMessage;
    QPointer<QAction> m_deleteRuleAction;
    QSpinBox* m_timeWindowSpin = nullptr;
    QComboBox* m_ruleAxisCombo = nullptr;
    QPointer<QAction> m_switchAxisAction;
    QPushButton* m_exportButton = nullptr;
    ChartExporter* m_exporter = nullptr;
    ChartHover* m_hover = nullptr;
    QTimer* m_clockTimer = nullptr;
    int m_timeWindowSeconds = 60;
    int m_currentChartType = Line;
    bool m_refreshScheduled = false;
    QDateTime m_recordedUntil;
    // When the chart was last re-plotted: values arriving in a flood re-plot
    // it a few times a second, not once per event-loop turn.
    QElapsedTimer m_sinceRefresh;
    AnalysisProvider m_analysisProvider;
    QPointer<QChart> m_chart;
};

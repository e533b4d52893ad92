#include "chart/AnalysisDialog.h"

#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QList<int> runDialog(QWidget* parent, const QList<ValueProposal>& proposals)
{
    AnalysisDialog dialog(proposals, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : QList<int>();
}

} // namespace

AnalysisDialog::ChooseHook AnalysisDialog::choose = runDialog;

void AnalysisDialog::restoreDefault()
{
    choose = runDialog;
}

AnalysisDialog::AnalysisDialog(const QList<ValueProposal>& proposals, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("analysisDialog"));
    setWindowTitle(QStringLiteral("智能分析"));
    // Set apart from the window below it, also where no frame is drawn around it.
    setStyleSheet(QStringLiteral("QDialog#analysisDialog { border: 1px solid #1E3A5F; }"));
    auto* layout = new QVBoxLayout(this);

    auto* heading =
        new QLabel(QStringLiteral("最近收到的数据中反复出现这些数值，勾选要绘制的："), this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* list = new QWidget(scroll);
    auto* grid = new QGridLayout(list);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(0, 1);
    // The count is built in the active language: the dialog is modal, so the
    // language cannot change while it is open.
    const QString countText = LanguageManager::translate(QStringLiteral("%1 个值，最新 %2"));
    int ticked = 0;
    for (qsizetype i = 0; i < proposals.size(); ++i) {
        const ValueProposal& proposal = proposals.at(i);
        // A JSON path is its own name: "hum", not "hum = hum".
        const ChartRule& rule = proposal.rule;
        auto* check = new QCheckBox(rule.name == rule.expression
                                        ? rule.name
                                        : rule.name + QStringLiteral(" = ") + rule.expression,
                                    list);
        check->setObjectName(QStringLiteral("proposalCheck"));
        check->setChecked(!proposal.counter && ticked < preChecked);
        ticked += check->isChecked() ? 1 : 0;
        m_checks.append(check);
        const double latest = proposal.points.isEmpty() ? 0.0 : proposal.points.last().value;
        auto* count = new QLabel(
            countText.arg(proposal.points.size()).arg(QString::number(latest, 'g', 6)), list);
        count->setStyleSheet(QStringLiteral("color: #64748B;"));
        grid->addWidget(check, int(i), 0);
        grid->addWidget(count, int(i), 1, Qt::AlignRight);
    }
    scroll->setWidget(list);
    layout->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* accept = new QPushButton(QStringLiteral("添加到图表"), this);
    accept->setObjectName(QStringLiteral("accentButton"));
    accept->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    buttons->addWidget(accept);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    resize(440, std::min(160 + 28 * int(proposals.size()), 520));
    retranslateWidgetTree(this);
}

QList<int> AnalysisDialog::chosen() const
{
    QList<int> indices;
    for (qsizetype i = 0; i < m_checks.size(); ++i) {
        if (m_checks.at(i)->isChecked())
            indices.append(int(i));
    }
    return indices;
}

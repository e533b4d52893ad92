#pragma once

#include "chart/DataAnalyzer.h"

#include <QDialog>
#include <QList>

#include <functional>

class QCheckBox;

// Lists the values the analysis found, one check box each, for the user to
// pick those that become chart rules.
class AnalysisDialog : public QDialog
{
    Q_OBJECT

public:
    // As many proposals as there are distinct series colours start checked.
    static constexpr int preChecked = 6;

    explicit AnalysisDialog(const QList<ValueProposal>& proposals, QWidget* parent = nullptr);

    // Indices of the checked proposals, in list order.
    QList<int> chosen() const;

    // Shows the dialog modally and returns the chosen indices (none when
    // cancelled). Replaceable, so that tests answer without a dialog.
    using ChooseHook =
        std::function<QList<int>(QWidget* parent, const QList<ValueProposal>& proposals)>;
    static ChooseHook choose;
    static void restoreDefault();

private:
    QList<QCheckBox*> m_checks;
};

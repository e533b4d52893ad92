#pragma once

#include "comm/LogSearch.h"

#include <QFrame>
#include <QSet>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The log's find bar: what to look for and where, buttons to step through
// the matches and a switch that shows only matching rows. It only collects
// the wish; the log view's LogFinder does the finding.
class FindBar : public QFrame
{
    Q_OBJECT

public:
    explicit FindBar(QWidget* parent = nullptr);

    // The last valid search the controls describe.
    const LogSearch& search() const { return m_search; }
    // Whether the rows shown are filtered: by the pattern or by a peer.
    bool isFiltering() const;

    // The peers the client choice offers besides "全部"; a peer is offered
    // once, in the order seen. Forgetting them keeps the one chosen.
    void addPeer(const QString& peer);
    void forgetPeers();

    // Shows the bar with the pattern selected, ready to be typed over.
    void open();
    // Hides the bar and switches the filter off.
    void close();

    // Shown while the rows are filtered or a pattern is set.
    void showMatchCount(int matched, int total);
    void showNotFound();

signals:
    // A valid search that differs from the last one (typing settles first).
    void searchChanged(const LogSearch& search);
    void nextRequested();
    void previousRequested();
    void filteringChanged(bool on);
    void opened();
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes what the controls say now; false when the expression is invalid.
    bool takeSearch();
    void step(bool backwards);
    void setStatus(const QString& chinese, const QString& toolTip = QString());
    void showCount();

    QLineEdit* m_pattern = nullptr;
    QCheckBox* m_regex = nullptr;
    QCheckBox* m_caseSensitive = nullptr;
    QCheckBox* m_directions[3] = {};
    QCheckBox* m_filter = nullptr;
    QComboBox* m_peer = nullptr;
    // Asked per frame under a flood: a look-up, not a walk through the combo.
    QSet<QString> m_peers;
    int m_matched = -1;
    int m_total = 0;
    QLabel* m_status = nullptr;
    QTimer* m_typingTimer = nullptr;
    LogSearch m_search;
};

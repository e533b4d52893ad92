#pragma once

#include "reply/ReplyRule.h"
#include "reply/RuleResponder.h"

#include <QWidget>

class CommunicationBase;
class ConnectionManager;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class ReplyHost;
class RuleEditor;

// The "自动回复" tab: the master switch, the rule list and its editor, the
// rules file's import and export, and a line to try a message on the rules.
// It answers on the window's connection and logs each reply as a TX entry
// that names its rule.
class AutoReplyPanel : public QWidget
{
    Q_OBJECT

public:
    AutoReplyPanel(ConnectionManager* connection, CommunicationBase* log,
                   QWidget* parent = nullptr);
    ~AutoReplyPanel() override;

    ReplyHost* host() const { return m_host; }
    QList<ReplyRule> rules() const { return m_rules; }
    void setRules(const QList<ReplyRule>& rules);

    // Reads the rules and the switch kept in `path` (a rules file), and keeps
    // them there from now on.
    void useFile(const QString& path);

private:
    void refreshList(int select);
    void showSelected();
    void saveEditor();
    void move(int by);
    void importFile();
    void exportFile();
    void tryMessage();
    void rulesChanged();
    void save();
    int selectedRow() const;

    CommunicationBase* m_log;
    RuleResponder m_responder;
    ReplyHost* m_host;
    QList<ReplyRule> m_rules;
    QString m_filePath;
    QCheckBox* m_enabled;
    QListWidget* m_list;
    RuleEditor* m_editor;
    QLabel* m_status;
    QLineEdit* m_tryInput;
    QLabel* m_tryResult;
};

#pragma once

#include "reply/ReplyRule.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// The fields of one auto-reply rule and its replies (one shown at a time).
class RuleEditor : public QWidget
{
    Q_OBJECT

public:
    explicit RuleEditor(QWidget* parent = nullptr);

    void setRule(const ReplyRule& rule);
    ReplyRule rule() const;

private:
    void showReply(int index);
    void keepShownReply();
    void updateFields();

    ReplyRule m_rule;
    int m_shown = -1;
    QLineEdit* m_name;
    QComboBox* m_type;
    QLineEdit* m_value;
    QCheckBox* m_matchHex;
    QLineEdit* m_path;
    QSpinBox* m_interval;
    QComboBox* m_matchFrame;
    QSpinBox* m_maxPerSecond;
    QComboBox* m_replyPicker;
    QPlainTextEdit* m_content;
    QCheckBox* m_replyHex;
    QComboBox* m_replyFrame;
    QSpinBox* m_delay;
    QComboBox* m_to;
};

#include "reply/RuleEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {

using Type = ReplyRule::MatchType;
using Kind = LogEntry::FrameKind;

QSpinBox* spin(QWidget* parent, const char* name, int low, int high, const QString& suffix)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setRange(low, high);
    box->setSuffix(suffix);
    return box;
}

void select(QComboBox* combo, const QVariant& data)
{
    combo->setCurrentIndex(qMax(0, combo->findData(data)));
}

} // namespace

RuleEditor::RuleEditor(QWidget* parent)
    : QWidget(parent)
{
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("ruleName"));
    form->addRow(QStringLiteral("名称"), m_name);

    m_type = new QComboBox(this);
    m_type->setObjectName(QStringLiteral("ruleMatchType"));
    const QStringList typeTexts{QStringLiteral("任意消息"), QStringLiteral("等于"),
                                QStringLiteral("包含"),     QStringLiteral("正则"),
                                QStringLiteral("JSON"),     QStringLiteral("连接时"),
                                QStringLiteral("定时")};
    const QList<Type> types = ReplyRule::allTypes();
    for (int i = 0; i < types.size(); ++i)
        m_type->addItem(typeTexts.at(i), ReplyRule::typeName(types.at(i)));
    form->addRow(QStringLiteral("匹配"), m_type);

    auto* valueRow = new QHBoxLayout;
    m_value = new QLineEdit(this);
    m_value->setObjectName(QStringLiteral("ruleMatchValue"));
    m_matchHex = new QCheckBox(QStringLiteral("Hex"), this);
    m_matchHex->setObjectName(QStringLiteral("ruleMatchHex"));
    valueRow->addWidget(m_value, 1);
    valueRow->addWidget(m_matchHex);
    form->addRow(QStringLiteral("内容"), valueRow);

    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("ruleMatchPath"));
    m_path->setPlaceholderText(QStringLiteral("params.0.id"));
    form->addRow(QStringLiteral("JSON 路径"), m_path);
    m_interval = spin(this, "ruleInterval", 10, 24 * 3600 * 1000, QStringLiteral(" ms"));
    form->addRow(QStringLiteral("间隔:"), m_interval);

    m_matchFrame = new QComboBox(this);
    m_matchFrame->setObjectName(QStringLiteral("ruleMatchFrame"));
    m_matchFrame->addItem(QStringLiteral("任意帧"), int(Kind::Unknown));
    m_matchFrame->addItem(QStringLiteral("文本帧"), int(Kind::Text));
    m_matchFrame->addItem(QStringLiteral("二进制帧"), int(Kind::Binary));
    form->addRow(QStringLiteral("帧类型"), m_matchFrame);
    m_maxPerSecond = spin(this, "ruleMaxPerSecond", 1, 100000, QStringLiteral(" /s"));
    form->addRow(QStringLiteral("每秒最多"), m_maxPerSecond);

    auto* pickRow = new QHBoxLayout;
    m_replyPicker = new QComboBox(this);
    m_replyPicker->setObjectName(QStringLiteral("ruleReplyPicker"));
    auto* add = new QPushButton(QStringLiteral("+"), this);
    add->setObjectName(QStringLiteral("ruleReplyAdd"));
    auto* remove = new QPushButton(QStringLiteral("−"), this);
    remove->setObjectName(QStringLiteral("ruleReplyRemove"));
    pickRow->addWidget(m_replyPicker, 1);
    pickRow->addWidget(add);
    pickRow->addWidget(remove);
    form->addRow(QStringLiteral("回复"), pickRow);

    m_content = new QPlainTextEdit(this);
    m_content->setObjectName(QStringLiteral("ruleReplyContent"));
    m_content->setFixedHeight(70);
    m_content->setPlaceholderText(QStringLiteral("{\"id\":{{json:id}},\"seq\":{{seq}}}"));
    form->addRow(m_content);

    auto* replyRow = new QHBoxLayout;
    m_replyHex = new QCheckBox(QStringLiteral("Hex"), this);
    m_replyHex->setObjectName(QStringLiteral("ruleReplyHex"));
    m_replyFrame = new QComboBox(this);
    m_replyFrame->setObjectName(QStringLiteral("ruleReplyFrame"));
    m_replyFrame->addItem(QStringLiteral("文本帧"), int(Kind::Text));
    m_replyFrame->addItem(QStringLiteral("二进制帧"), int(Kind::Binary));
    m_delay = spin(this, "ruleReplyDelay", 0, ReplyRule::maxDelayMs, QStringLiteral(" ms"));
    m_to = new QComboBox(this);
    m_to->setObjectName(QStringLiteral("ruleReplyTo"));
    m_to->addItem(QStringLiteral("发送方"), false);
    m_to->addItem(QStringLiteral("全部"), true);
    replyRow->addWidget(m_replyHex);
    replyRow->addWidget(m_replyFrame);
    replyRow->addWidget(m_delay);
    replyRow->addWidget(m_to);
    form->addRow(replyRow);

    connect(m_type, &QComboBox::currentIndexChanged, this, &RuleEditor::updateFields);
    connect(m_replyPicker, &QComboBox::activated, this, [this](int index) {
        keepShownReply();
        showReply(index);
    });
    connect(add, &QPushButton::clicked, this, [this] {
        keepShownReply();
        m_rule.replies.append(ReplyRule::Reply());
        showReply(int(m_rule.replies.size()) - 1);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        // A rule answers with something.
        if (m_rule.replies.size() < 2)
            return;
        m_rule.replies.removeAt(m_shown);
        m_shown = -1;
        showReply(0);
    });
    setRule(ReplyRule());
}

void RuleEditor::setRule(const ReplyRule& rule)
{
    m_rule = rule;
    if (m_rule.replies.isEmpty())
        m_rule.replies.append(ReplyRule::Reply());
    m_name->setText(rule.name);
    select(m_type, ReplyRule::typeName(rule.match.type));
    m_value->setText(rule.match.value);
    m_matchHex->setChecked(rule.match.hex);
    m_path->setText(rule.match.path);
    m_interval->setValue(rule.match.intervalMs);
    select(m_matchFrame, int(rule.match.frame));
    m_maxPerSecond->setValue(rule.maxPerSecond);
    m_shown = -1;
    showReply(0);
    updateFields();
}

ReplyRule RuleEditor::rule() const
{
    ReplyRule rule = m_rule;
    rule.name = m_name->text().trimmed();
    ReplyRule::typeFromName(m_type->currentData().toString(), &rule.match.type);
    rule.match.value = m_value->text();
    rule.match.hex = m_matchHex->isChecked();
    rule.match.path = m_path->text().trimmed();
    rule.match.intervalMs = m_interval->value();
    rule.match.frame = Kind(m_matchFrame->currentData().toInt());
    rule.maxPerSecond = m_maxPerSecond->value();
    if (m_shown >= 0 && m_shown < rule.replies.size()) {
        ReplyRule::Reply& reply = rule.replies[m_shown];
        reply.content = m_content->toPlainText();
        reply.hex = m_replyHex->isChecked();
        reply.frame = Kind(m_replyFrame->currentData().toInt());
        reply.delayMs = m_delay->value();
        reply.toAll = m_to->currentData().toBool();
    }
    return rule;
}

void RuleEditor::keepShownReply()
{
    m_rule.replies = rule().replies;
}

void RuleEditor::showReply(int index)
{
    m_shown = qBound(0, index, int(m_rule.replies.size()) - 1);
    m_replyPicker->clear();
    for (int i = 0; i < m_rule.replies.size(); ++i)
        m_replyPicker->addItem(QStringLiteral("回复 %1").arg(i + 1));
    m_replyPicker->setCurrentIndex(m_shown);
    const ReplyRule::Reply& reply = m_rule.replies.at(m_shown);
    m_content->setPlainText(reply.content);
    m_replyHex->setChecked(reply.hex);
    select(m_replyFrame, int(reply.frame));
    m_delay->setValue(reply.delayMs);
    select(m_to, reply.toAll);
}

void RuleEditor::updateFields()
{
    Type type = Type::Any;
    ReplyRule::typeFromName(m_type->currentData().toString(), &type);
    const bool frameMatch = type != Type::Connect && type != Type::Timer;
    m_value->setEnabled(frameMatch && type != Type::Any);
    m_matchHex->setEnabled(type == Type::Equals || type == Type::Contains);
    m_path->setEnabled(type == Type::Json);
    m_interval->setEnabled(type == Type::Timer);
    m_matchFrame->setEnabled(frameMatch);
}

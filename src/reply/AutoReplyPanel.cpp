#include "reply/AutoReplyPanel.h"

#include "comm/CommunicationBase.h"
#include "comm/ExportDialogs.h"
#include "i18n/LanguageManager.h"
#include "reply/ReplyHost.h"
#include "reply/RuleEditor.h"
#include "reply/RuleFile.h"
#include "reply/TemplateExpander.h"
#include "websocket/ConnectionManager.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

QPushButton* button(QWidget* parent, const QString& text, const char* name)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

const QString fileFilter = QStringLiteral("自动回复规则 (*.json)");

} // namespace

AutoReplyPanel::AutoReplyPanel(ConnectionManager* connection, CommunicationBase* log,
                               QWidget* parent)
    : QWidget(parent)
    , m_log(log)
    , m_host(new ReplyHost(connection, this))
{
    m_host->setObjectName(QStringLiteral("replyHost"));
    m_host->chain().append(&m_responder);
    connect(m_host, &ReplyHost::replySent, log, [log](const ReplyHost::Sent& sent) {
        log->logFrame(LogEntry::TX, sent.data, sent.kind, sent.recipients, sent.source);
    });
    connect(m_host, &ReplyHost::notice, log, &CommunicationBase::logSystem);
    // A Socket.IO server that asks for an acknowledgement gets the matching
    // rule's reply while auto reply is on, else an empty one.
    connection->setAnswerSource([this](const QString& event, const QJsonArray& args) {
        if (m_enabled && m_enabled->isChecked())
            if (std::optional<QByteArray> answer = m_responder.acknowledgement(event, args))
                return *answer;
        return QByteArrayLiteral("[]");
    });

    auto* root = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_enabled = new QCheckBox(QStringLiteral("启用自动回复"), this);
    m_enabled->setObjectName(QStringLiteral("autoReplyEnabled"));
    top->addWidget(m_enabled);
    top->addStretch();
    auto* importButton = button(this, QStringLiteral("导入…"), "autoReplyImport");
    auto* exportButton = button(this, QStringLiteral("导出…"), "autoReplyExport");
    top->addWidget(importButton);
    top->addWidget(exportButton);
    root->addLayout(top);

    auto* splitter = new QSplitter(this);
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    m_list = new QListWidget(left);
    m_list->setObjectName(QStringLiteral("autoReplyRules"));
    leftLayout->addWidget(m_list, 1);
    auto* listButtons = new QHBoxLayout;
    auto* add = button(left, QStringLiteral("添加"), "autoReplyAdd");
    auto* duplicate = button(left, QStringLiteral("复制规则"), "autoReplyDuplicate");
    auto* remove = button(left, QStringLiteral("删除"), "autoReplyRemove");
    auto* up = button(left, QStringLiteral("上移"), "autoReplyUp");
    auto* down = button(left, QStringLiteral("下移"), "autoReplyDown");
    for (QPushButton* b : {add, duplicate, remove, up, down})
        listButtons->addWidget(b);
    leftLayout->addLayout(listButtons);

    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    m_editor = new RuleEditor(right);
    m_editor->setObjectName(QStringLiteral("ruleEditor"));
    rightLayout->addWidget(m_editor);
    auto* saveRow = new QHBoxLayout;
    auto* saveButton = button(right, QStringLiteral("保存规则"), "autoReplySave");
    m_status = new QLabel(right);
    m_status->setObjectName(QStringLiteral("autoReplyStatus"));
    m_status->setWordWrap(true);
    saveRow->addWidget(saveButton);
    saveRow->addWidget(m_status, 1);
    rightLayout->addLayout(saveRow);
    rightLayout->addStretch();
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    root->addWidget(splitter, 1);

    auto* tryRow = new QHBoxLayout;
    m_tryInput = new QLineEdit(this);
    m_tryInput->setObjectName(QStringLiteral("autoReplyTryInput"));
    auto* tryButton = button(this, QStringLiteral("试一试"), "autoReplyTry");
    tryRow->addWidget(m_tryInput, 1);
    tryRow->addWidget(tryButton);
    root->addLayout(tryRow);
    m_tryResult = new QLabel(this);
    m_tryResult->setObjectName(QStringLiteral("autoReplyTryResult"));
    m_tryResult->setWordWrap(true);
    m_tryResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    root->addWidget(m_tryResult);

    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        m_host->setEnabled(on);
        save();
    });
    connect(m_list, &QListWidget::currentRowChanged, this, &AutoReplyPanel::showSelected);
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int row = m_list->row(item);
        const bool on = item->checkState() == Qt::Checked;
        if (row < 0 || row >= m_rules.size() || m_rules.at(row).enabled == on)
            return;
        m_rules[row].enabled = on;
        rulesChanged();
    });
    connect(add, &QPushButton::clicked, this, [this] {
        ReplyRule rule;
        rule.name = QStringLiteral("规则 %1").arg(m_rules.size() + 1);
        rule.match.value = QStringLiteral("ping");
        rule.replies.first().content = QStringLiteral("pong");
        m_rules.append(rule);
        rulesChanged();
        refreshList(int(m_rules.size()) - 1);
    });
    connect(duplicate, &QPushButton::clicked, this, [this] {
        const int row = selectedRow();
        if (row < 0)
            return;
        ReplyRule copy = m_rules.at(row);
        copy.name += QStringLiteral(" (2)");
        m_rules.insert(row + 1, copy);
        rulesChanged();
        refreshList(row + 1);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = selectedRow();
        if (row < 0)
            return;
        m_rules.removeAt(row);
        rulesChanged();
        refreshList(qMin(row, int(m_rules.size()) - 1));
    });
    connect(up, &QPushButton::clicked, this, [this] { move(-1); });
    connect(down, &QPushButton::clicked, this, [this] { move(1); });
    connect(saveButton, &QPushButton::clicked, this, &AutoReplyPanel::saveEditor);
    connect(importButton, &QPushButton::clicked, this, &AutoReplyPanel::importFile);
    connect(exportButton, &QPushButton::clicked, this, &AutoReplyPanel::exportFile);
    connect(tryButton, &QPushButton::clicked, this, &AutoReplyPanel::tryMessage);
    connect(m_tryInput, &QLineEdit::returnPressed, this, &AutoReplyPanel::tryMessage);
    refreshList(-1);
}

AutoReplyPanel::~AutoReplyPanel()
{
    // The host outlives this class's members by a moment: it must not ask them.
    m_host->chain().remove(&m_responder);
}

void AutoReplyPanel::setRules(const QList<ReplyRule>& rules)
{
    m_rules = rules;
    rulesChanged();
    refreshList(m_rules.isEmpty() ? -1 : 0);
}

int AutoReplyPanel::selectedRow() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_rules.size() ? row : -1;
}

void AutoReplyPanel::refreshList(int select)
{
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    for (const ReplyRule& rule : std::as_const(m_rules)) {
        auto* item =
            new QListWidgetItem(rule.name + QStringLiteral("  [") +
                                    ReplyRule::typeName(rule.match.type) + QLatin1Char(']'),
                                m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(rule.enabled ? Qt::Checked : Qt::Unchecked);
    }
    m_list->setCurrentRow(select);
    showSelected();
}

void AutoReplyPanel::showSelected()
{
    const int row = selectedRow();
    m_editor->setEnabled(row >= 0);
    m_editor->setRule(row >= 0 ? m_rules.at(row) : ReplyRule());
    m_status->clear();
}

void AutoReplyPanel::saveEditor()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    ReplyRule rule = m_editor->rule();
    rule.enabled = m_rules.at(row).enabled;
    if (rule.name.isEmpty())
        rule.name = m_rules.at(row).name;
    if (const QString problem = RuleFile::problem(rule); !problem.isEmpty()) {
        // Kept in the editor, not taken: a rule that cannot work stays out.
        m_status->setText(LanguageManager::translate(QStringLiteral("未保存: ")) + problem);
        return;
    }
    QStringList unknown;
    for (const ReplyRule::Reply& reply : std::as_const(rule.replies))
        unknown += TemplateExpander::unknownNames(reply.content);
    m_rules[row] = rule;
    rulesChanged();
    refreshList(row);
    m_status->setText(unknown.isEmpty()
                          ? LanguageManager::translate(QStringLiteral("已保存"))
                          : LanguageManager::translate(QStringLiteral("已保存，未知变量: ")) +
                                unknown.join(QStringLiteral(", ")));
}

void AutoReplyPanel::move(int by)
{
    const int row = selectedRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_rules.size())
        return;
    m_rules.move(row, to);
    rulesChanged();
    refreshList(to);
}

void AutoReplyPanel::importFile()
{
    const QString path = ExportDialogs::getOpenFileName(
        this, LanguageManager::translate(QStringLiteral("导入自动回复规则")), QString(),
        fileFilter);
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<QList<ReplyRule>> rules = RuleFile::readFile(path, &error);
    if (!rules) {
        ExportDialogs::warning(this, LanguageManager::translate(QStringLiteral("导入自动回复规则")),
                               LanguageManager::translate(QStringLiteral("未导入，规则不变: ")) +
                                   error);
        return;
    }
    setRules(*rules);
    m_log->logSystem(QStringLiteral("已导入 %1 条自动回复规则: %2").arg(rules->size()).arg(path));
}

void AutoReplyPanel::exportFile()
{
    QString filter;
    QString path = ExportDialogs::getSaveFileName(
        this, LanguageManager::translate(QStringLiteral("导出自动回复规则")),
        QStringLiteral("auto-reply.json"), fileFilter, &filter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
        path += QLatin1String(".json");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(RuleFile::write(m_rules)) < 0 ||
        !file.commit()) {
        ExportDialogs::warning(this, LanguageManager::translate(QStringLiteral("导出自动回复规则")),
                               LanguageManager::translate(QStringLiteral("无法写入: ")) + path);
        return;
    }
    m_log->logSystem(QStringLiteral("已导出 %1 条自动回复规则: %2").arg(m_rules.size()).arg(path));
}

void AutoReplyPanel::tryMessage()
{
    Responder::Incoming frame;
    frame.text = m_tryInput->text();
    frame.data = frame.text.toUtf8();
    frame.peer = QStringLiteral("127.0.0.1:0");
    const RuleResponder::Preview preview = m_responder.preview(frame);
    if (preview.rule < 0) {
        m_tryResult->setText(LanguageManager::translate(QStringLiteral("没有规则匹配")));
        return;
    }
    QStringList lines{m_rules.at(preview.rule).source()};
    for (const Responder::Reply& reply : std::as_const(preview.replies))
        lines.append(QStringLiteral("→ ") + (reply.kind == LogEntry::FrameKind::Binary
                                                 ? QString::fromLatin1(reply.data.toHex(' '))
                                                 : QString::fromUtf8(reply.data)));
    m_tryResult->setText(lines.join(QLatin1Char('\n')));
}

void AutoReplyPanel::rulesChanged()
{
    m_responder.setRules(m_rules);
    m_host->restartTimers();
    save();
}

void AutoReplyPanel::useFile(const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        QString error;
        if (const std::optional<QList<ReplyRule>> rules = RuleFile::read(bytes, &error)) {
            setRules(*rules);
            m_enabled->setChecked(QJsonDocument::fromJson(bytes)
                                      .object()
                                      .value(QLatin1String("enabled"))
                                      .toBool(false));
        } else {
            // Kept aside, not overwritten by the next save.
            const QString aside = path + QStringLiteral(".bad");
            QFile::remove(aside);
            file.close();
            QFile::copy(path, aside);
            m_log->logSystem(
                QStringLiteral("自动回复规则无法读取 (%1)，原文件已另存为 %2").arg(error, aside));
        }
    }
    m_filePath = path;
}

void AutoReplyPanel::save()
{
    if (m_filePath.isEmpty())
        return;
    // The rules file with the switch beside it; readers skip what they do not know.
    QJsonObject root = QJsonDocument::fromJson(RuleFile::write(m_rules)).object();
    root.insert(QLatin1String("enabled"), m_enabled->isChecked());
    QSaveFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit())
        m_log->logSystem(QStringLiteral("自动回复规则无法保存: %1").arg(m_filePath));
}

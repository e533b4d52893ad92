#include "websocket/QuickSendPanel.h"

#include "comm/ExportDialogs.h"
#include "i18n/LanguageManager.h"
#include "websocket/QuickSendItemDelegate.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

// Far beyond any hand-made list; a larger file is not read into memory.
constexpr qint64 maxImportBytes = 64 * 1024 * 1024;

QString jsonFilter()
{
    return LanguageManager::translate(QStringLiteral("JSON 文件 (*.json)"));
}

QPushButton* addButton(QBoxLayout* row, const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    row->addWidget(button);
    return button;
}

} // namespace

QuickSendPanel::QuickSendPanel(QWidget* parent)
    : QWidget(parent)
{
    // Narrow, to stand beside the log: the list above its editor, the
    // buttons below.
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);

    m_emptyHint = new QLabel(QStringLiteral("还没有快捷发送消息。在下方发送区输入内容后点击"
                                            "“保存到快捷发送”，或用“导入...”读入一个文件。"),
                             this);
    m_emptyHint->setObjectName(QStringLiteral("quickSendEmptyHint"));
    m_emptyHint->setWordWrap(true);
    m_emptyHint->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_emptyHint->setStyleSheet(QStringLiteral("color: #94A3B8; padding: 8px;"));
    root->addWidget(m_emptyHint, 3);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("quickSendList"));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setItemDelegate(new QuickSendItemDelegate(m_list));
    root->addWidget(m_list, 3);

    m_editor = new QWidget(this);
    auto* editorLayout = new QVBoxLayout(m_editor);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("名称"), m_editor));
    m_nameEdit = new QLineEdit(m_editor);
    m_nameEdit->setObjectName(QStringLiteral("quickSendName"));
    nameRow->addWidget(m_nameEdit, 1);
    // Beside the name, where it leaves the frame choices their width.
    QPushButton* sendButton = addButton(nameRow, QStringLiteral("发送"), "quickSendSend", m_editor);
    editorLayout->addLayout(nameRow);
    editorLayout->addWidget(new QLabel(QStringLiteral("内容"), m_editor));
    m_contentEdit = new QPlainTextEdit(m_editor);
    m_contentEdit->setObjectName(QStringLiteral("quickSendContent"));
    editorLayout->addWidget(m_contentEdit, 1);
    auto* formRow = new QHBoxLayout;
    m_hexCheck = new QCheckBox(QStringLiteral("Hex发送"), m_editor);
    m_hexCheck->setObjectName(QStringLiteral("quickSendHex"));
    m_textRadio = new QRadioButton(QStringLiteral("Text"), m_editor);
    m_textRadio->setObjectName(QStringLiteral("quickSendText"));
    m_textRadio->setChecked(true);
    m_binaryRadio = new QRadioButton(QStringLiteral("Binary"), m_editor);
    m_binaryRadio->setObjectName(QStringLiteral("quickSendBinary"));
    formRow->addWidget(m_hexCheck);
    formRow->addWidget(m_textRadio);
    formRow->addWidget(m_binaryRadio);
    formRow->addStretch();
    editorLayout->addLayout(formRow);
    root->addWidget(m_editor, 2);

    auto* saveRow = new QHBoxLayout;
    QPushButton* saveButton =
        addButton(saveRow, QStringLiteral("保存到快捷发送"), "quickSendSave", this);
    root->addLayout(saveRow);
    auto* orderRow = new QHBoxLayout;
    m_upButton = addButton(orderRow, QStringLiteral("上移"), "quickSendUp", this);
    m_downButton = addButton(orderRow, QStringLiteral("下移"), "quickSendDown", this);
    m_deleteButton = addButton(orderRow, QStringLiteral("删除"), "quickSendDelete", this);
    root->addLayout(orderRow);
    auto* fileRow = new QHBoxLayout;
    QPushButton* importButton =
        addButton(fileRow, QStringLiteral("导入..."), "quickSendImport", this);
    QPushButton* exportButton =
        addButton(fileRow, QStringLiteral("导出..."), "quickSendExport", this);
    root->addLayout(fileRow);

    connect(m_list, &QListWidget::currentRowChanged, this, &QuickSendPanel::showSelected);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QuickSendPanel::sendCurrent);
    connect(m_nameEdit, &QLineEdit::textEdited, this, &QuickSendPanel::applyEdits);
    connect(m_contentEdit, &QPlainTextEdit::textChanged, this, &QuickSendPanel::applyEdits);
    connect(m_hexCheck, &QCheckBox::toggled, this, &QuickSendPanel::applyEdits);
    connect(m_binaryRadio, &QRadioButton::toggled, this, &QuickSendPanel::applyEdits);
    connect(sendButton, &QPushButton::clicked, this, &QuickSendPanel::sendCurrent);
    connect(saveButton, &QPushButton::clicked, this, &QuickSendPanel::saveFromSendBoxRequested);
    connect(m_upButton, &QPushButton::clicked, this, [this] { moveCurrent(-1); });
    connect(m_downButton, &QPushButton::clicked, this, [this] { moveCurrent(1); });
    connect(m_deleteButton, &QPushButton::clicked, this, &QuickSendPanel::removeCurrent);
    connect(importButton, &QPushButton::clicked, this, &QuickSendPanel::importMessages);
    connect(exportButton, &QPushButton::clicked, this, &QuickSendPanel::exportMessages);

    fillList(-1);
}

void QuickSendPanel::setMessages(const QList<SavedMessage>& messages)
{
    m_messages.setItems(messages);
    fillList(-1);
}

void QuickSendPanel::fillList(int selectRow)
{
    m_list->clear();
    for (const SavedMessage& message : m_messages.items()) {
        auto* item = new QListWidgetItem(message.name, m_list);
        showForm(item, message.content);
    }
    m_list->setCurrentRow(selectRow);
    const bool empty = m_messages.count() == 0;
    m_emptyHint->setVisible(empty);
    m_list->setVisible(!empty);
    showSelected();
}

void QuickSendPanel::showForm(QListWidgetItem* item, const SendBoxContent& content)
{
    item->setData(HexRole, content.hex);
    item->setData(BinaryRole, content.binary);
    item->setToolTip(formText(content.hex, content.binary) + QLatin1Char('\n') +
                     content.text.left(512));
}

QString QuickSendPanel::formText(bool hex, bool binary)
{
    const QString frame =
        LanguageManager::translate(binary ? QStringLiteral("二进制帧") : QStringLiteral("文本帧"));
    return hex ? QStringLiteral("Hex · ") + frame : frame;
}

QString QuickSendPanel::shownForm(int row) const
{
    const QListWidgetItem* item = m_list->item(row);
    return item ? formText(item->data(HexRole).toBool(), item->data(BinaryRole).toBool())
                : QString();
}

void QuickSendPanel::addMessage(const SendBoxContent& content)
{
    if (content.text.isEmpty()) {
        emit notice(QStringLiteral("发送区为空，没有保存到快捷发送"));
        return;
    }
    if (m_messages.count() >= SavedMessages::maxCount) {
        emit notice(QStringLiteral("快捷发送已有 %1 条，已满，没有保存").arg(m_messages.count()));
        return;
    }
    fillList(m_messages.add(SavedMessage{QString(), content}));
    emit changed();
    m_nameEdit->setFocus();
    m_nameEdit->selectAll();
}

void QuickSendPanel::showSelected()
{
    const int row = m_list->currentRow();
    const bool selected = row >= 0 && row < m_messages.count();
    const SavedMessage message = selected ? m_messages.items().at(row) : SavedMessage();
    m_filling = true;
    m_nameEdit->setText(message.name);
    m_contentEdit->setPlainText(message.content.text);
    m_hexCheck->setChecked(message.content.hex);
    (message.content.binary ? m_binaryRadio : m_textRadio)->setChecked(true);
    m_filling = false;
    m_editor->setEnabled(selected);
    m_upButton->setEnabled(selected && row > 0);
    m_downButton->setEnabled(selected && row + 1 < m_messages.count());
    m_deleteButton->setEnabled(selected);
}

void QuickSendPanel::applyEdits()
{
    const int row = m_list->currentRow();
    if (m_filling || row < 0 || row >= m_messages.count())
        return;
    SavedMessage message{
        m_nameEdit->text(),
        {m_contentEdit->toPlainText(), m_hexCheck->isChecked(), m_binaryRadio->isChecked()}};
    // A message always has a name, also while the user retypes it.
    if (message.name.trimmed().isEmpty())
        message.name = SavedMessages::defaultName(message.content);
    m_messages.replace(row, message);
    m_list->item(row)->setText(message.name);
    showForm(m_list->item(row), message.content);
    emit changed();
}

void QuickSendPanel::moveCurrent(int offset)
{
    const int row = m_list->currentRow();
    if (!m_messages.move(row, offset))
        return;
    fillList(row + offset);
    emit changed();
}

void QuickSendPanel::removeCurrent()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_messages.count())
        return;
    m_messages.remove(row);
    fillList(std::min(row, m_messages.count() - 1));
    emit changed();
}

void QuickSendPanel::sendCurrent()
{
    const int row = m_list->currentRow();
    if (row >= 0 && row < m_messages.count())
        emit sendRequested(m_messages.items().at(row).content);
}

void QuickSendPanel::importMessages()
{
    const QString title = LanguageManager::translate(QStringLiteral("导入快捷发送"));
    const QString path = ExportDialogs::getOpenFileName(this, title, QString(), jsonFilter());
    if (path.isEmpty())
        return;
    const QString failed = LanguageManager::translate(QStringLiteral("导入失败"));
    // A device or a FIFO has no size to check and may never end; opening a
    // FIFO would wait for a writer.
    const QFileInfo info(path);
    if (!info.isFile()) {
        ExportDialogs::warning(this, failed,
                               QStringLiteral("不是普通文件，未导入任何内容: ") + path);
        return;
    }
    if (info.size() > maxImportBytes) {
        ExportDialogs::warning(this, failed, QStringLiteral("文件过大，未导入任何内容: ") + path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ExportDialogs::warning(this, failed, QStringLiteral("无法读取文件: ") + path);
        return;
    }
    // The bound holds while reading, also for a file that grows meanwhile.
    const QByteArray json = file.read(maxImportBytes + 1);
    if (json.size() > maxImportBytes) {
        ExportDialogs::warning(this, failed, QStringLiteral("文件过大，未导入任何内容: ") + path);
        return;
    }
    if (file.error() != QFileDevice::NoError) {
        ExportDialogs::warning(this, failed, QStringLiteral("无法读取文件: ") + path);
        return;
    }
    QString reason;
    const auto imported = SavedMessages::fromJson(json, &reason);
    if (!imported) {
        ExportDialogs::warning(this, failed,
                               QStringLiteral("文件格式不正确，未导入任何内容。\n") + reason);
        return;
    }
    // More would be lost at the next start.
    if (m_messages.count() + imported->size() > SavedMessages::maxCount) {
        ExportDialogs::warning(
            this, failed,
            QStringLiteral("快捷发送最多 %1 条：已有 %2 条，文件中有 %3 条，未导入任何内容。")
                .arg(SavedMessages::maxCount)
                .arg(m_messages.count())
                .arg(imported->size()));
        return;
    }
    const int firstNew = m_messages.count();
    m_messages.setItems(m_messages.items() + *imported);
    fillList(imported->isEmpty() ? m_list->currentRow() : firstNew);
    emit changed();
    emit notice(QStringLiteral("已导入 %1 条快捷发送: %2").arg(imported->size()).arg(path));
}

void QuickSendPanel::exportMessages()
{
    const QString title = LanguageManager::translate(QStringLiteral("导出快捷发送"));
    QString path = ExportDialogs::getSaveFileName(this, title, QStringLiteral("quick-send.json"),
                                                  jsonFilter(), nullptr);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_messages.toJson()) < 0 || !file.commit()) {
        ExportDialogs::warning(this, LanguageManager::translate(QStringLiteral("导出失败")),
                               QStringLiteral("无法写入文件: ") + path);
        return;
    }
    emit notice(QStringLiteral("快捷发送已导出: %1").arg(path));
}

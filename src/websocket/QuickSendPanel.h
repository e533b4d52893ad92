#pragma once

#include "websocket/SavedMessages.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// The "快捷发送" panel beside the log: named messages built from the send box,
// edited in place, sent with a double-click or a button, reordered, deleted,
// exported to and imported from a JSON file. Each row shows its form (hex or
// not, text or binary frame).
class QuickSendPanel : public QWidget
{
    Q_OBJECT

public:
    // Item data of a row: whether the message is hex, whether it goes as a binary frame.
    enum Role
    {
        HexRole = Qt::UserRole + 1,
        BinaryRole
    };

    explicit QuickSendPanel(QWidget* parent = nullptr);

    // "Hex · 二进制帧", "文本帧" and so on, in the current language.
    static QString formText(bool hex, bool binary);
    // The form shown on a row of the list.
    QString shownForm(int row) const;

    const QList<SavedMessage>& messages() const { return m_messages.items(); }
    void setMessages(const QList<SavedMessage>& messages);
    // Appends the content under a name taken from its first line and selects
    // it for renaming. Empty content is not saved (a notice says so).
    void addMessage(const SendBoxContent& content);

public slots:
    void sendCurrent();
    void importMessages();
    void exportMessages();

signals:
    void sendRequested(const SendBoxContent& content);
    // The "保存到快捷发送" button: the owner answers with addMessage().
    void saveFromSendBoxRequested();
    void changed();
    // A system log text, in Chinese.
    void notice(const QString& text);

private:
    void fillList(int selectRow);
    static void showForm(QListWidgetItem* item, const SendBoxContent& content);
    void showSelected();
    void applyEdits();
    void moveCurrent(int offset);
    void removeCurrent();

    SavedMessages m_messages;
    QLabel* m_emptyHint = nullptr;
    QListWidget* m_list = nullptr;
    QWidget* m_editor = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QPlainTextEdit* m_contentEdit = nullptr;
    QCheckBox* m_hexCheck = nullptr;
    QRadioButton* m_textRadio = nullptr;
    QRadioButton* m_binaryRadio = nullptr;
    QPushButton* m_upButton = nullptr;
    QPushButton* m_downButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    // Set while the editor is filled from the list, so that filling is not an edit.
    bool m_filling = false;
};

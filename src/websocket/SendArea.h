#pragma once

#include "websocket/SendBoxContent.h"

#include <QGroupBox>

class QCheckBox;
class QHBoxLayout;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The "发送区": the send box, how its content goes out, the send button and
// auto-send. Enter sends (or Ctrl+Enter, as "Enter发送" says; Shift+Enter
// never does), Ctrl+Up and Ctrl+Down walk the history.
class SendArea : public QGroupBox
{
    Q_OBJECT

public:
    explicit SendArea(QWidget* parent = nullptr);

    SendBoxContent content() const;
    void showContent(const SendBoxContent& content);

    QPlainTextEdit* sendEdit() const { return m_sendEdit; }
    QCheckBox* hexSendCheck() const { return m_hexSendCheck; }
    QRadioButton* textRadio() const { return m_textRadio; }
    QRadioButton* binaryRadio() const { return m_binaryRadio; }
    QCheckBox* enterSendCheck() const { return m_enterSendCheck; }
    // "变量": the box's text is a template filled in at each send.
    QCheckBox* templateCheck() const { return m_templateCheck; }
    QCheckBox* autoSendCheck() const { return m_autoSendCheck; }
    QSpinBox* intervalSpin() const { return m_intervalSpin; }
    // Another control at the end of the auto-send row.
    void addRowWidget(QWidget* widget);

signals:
    void sendRequested();
    void historyRequested(bool older);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* m_sendEdit = nullptr;
    QCheckBox* m_hexSendCheck = nullptr;
    QRadioButton* m_textRadio = nullptr;
    QRadioButton* m_binaryRadio = nullptr;
    QCheckBox* m_enterSendCheck = nullptr;
    QCheckBox* m_templateCheck = nullptr;
    QPushButton* m_sendButton = nullptr;
    QCheckBox* m_autoSendCheck = nullptr;
    QSpinBox* m_intervalSpin = nullptr;
    QHBoxLayout* m_autoRow = nullptr;
};

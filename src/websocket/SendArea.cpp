#include "websocket/SendArea.h"

#include "i18n/Retranslate.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString& sendPlaceholder()
{
    static const QString text = QStringLiteral("输入要发送的数据...");
    return text;
}

} // namespace

SendArea::SendArea(QWidget* parent)
    : QGroupBox(QStringLiteral("发送区"), parent)
{
    setObjectName(QStringLiteral("sendGroup"));
    auto* layout = new QVBoxLayout(this);

    m_sendEdit = new QPlainTextEdit(this);
    m_sendEdit->setObjectName(QStringLiteral("sendEdit"));
    m_sendEdit->setFixedHeight(70);
    m_sendEdit->setPlaceholderText(sendPlaceholder());
    m_sendEdit->installEventFilter(this);
    layout->addWidget(m_sendEdit);

    auto* options = new QHBoxLayout;
    m_hexSendCheck = new QCheckBox(QStringLiteral("Hex发送"), this);
    m_hexSendCheck->setObjectName(QStringLiteral("hexSendCheck"));
    m_textRadio = new QRadioButton(QStringLiteral("Text"), this);
    m_textRadio->setObjectName(QStringLiteral("textRadio"));
    m_textRadio->setChecked(true);
    m_binaryRadio = new QRadioButton(QStringLiteral("Binary"), this);
    m_binaryRadio->setObjectName(QStringLiteral("binaryRadio"));
    m_enterSendCheck = new QCheckBox(QStringLiteral("Enter发送"), this);
    m_enterSendCheck->setObjectName(QStringLiteral("enterSendCheck"));
    m_enterSendCheck->setChecked(true);
    m_templateCheck = new QCheckBox(QStringLiteral("变量"), this);
    m_templateCheck->setObjectName(QStringLiteral("templateCheck"));
    m_templateCheck->setToolTip(
        QStringLiteral("{{seq}} {{now}} {{time}} {{iso}} {{uuid}} {{random:1-100}}"));
    m_sendButton = new QPushButton(QStringLiteral("刷新"), this);
    m_sendButton->setObjectName(QStringLiteral("accentButton"));
    m_sendButton->setFixedSize(120, 32);
    connect(m_sendButton, &QPushButton::clicked, this, &SendArea::sendRequested);
    options->addWidget(m_hexSendCheck);
    options->addWidget(m_textRadio);
    options->addWidget(m_binaryRadio);
    options->addWidget(m_enterSendCheck);
    options->addWidget(m_templateCheck);
    options->addStretch();
    options->addWidget(m_sendButton);
    layout->addLayout(options);

    auto* autoRow = new QHBoxLayout;
    m_autoSendCheck = new QCheckBox(QStringLiteral("自动发送"), this);
    m_autoSendCheck->setObjectName(QStringLiteral("autoSendCheck"));
    m_intervalSpin = new QSpinBox(this);
    m_intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    m_intervalSpin->setRange(10, 60000);
    m_intervalSpin->setValue(1000);
    m_intervalSpin->setSingleStep(100);
    m_intervalSpin->setSuffix(QStringLiteral(" ms"));
    autoRow->addWidget(m_autoSendCheck);
    autoRow->addWidget(new QLabel(QStringLiteral("间隔:"), this));
    autoRow->addWidget(m_intervalSpin);
    autoRow->addStretch();
    layout->addLayout(autoRow);
    m_autoRow = autoRow;
}

void SendArea::addRowWidget(QWidget* widget)
{
    widget->setParent(this);
    m_autoRow->addWidget(widget);
}

SendBoxContent SendArea::content() const
{
    return {m_sendEdit->toPlainText(), m_hexSendCheck->isChecked(), m_binaryRadio->isChecked()};
}

void SendArea::showContent(const SendBoxContent& content)
{
    m_sendEdit->setPlainText(content.text);
    m_sendEdit->moveCursor(QTextCursor::End);
    m_hexSendCheck->setChecked(content.hex);
    (content.binary ? m_binaryRadio : m_textRadio)->setChecked(true);
}

bool SendArea::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_sendEdit)
        return QGroupBox::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::FocusIn:
        m_sendEdit->setPlaceholderText(QString());
        return false;
    case QEvent::FocusOut:
        if (m_sendEdit->document()->isEmpty())
            setRuntimePlaceholder(m_sendEdit, sendPlaceholder());
        return false;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
            (key->modifiers() & Qt::ControlModifier)) {
            emit historyRequested(key->key() == Qt::Key_Up);
            return true;
        }
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            break;
        const Qt::KeyboardModifiers mods = key->modifiers();
        const bool enterSends = m_enterSendCheck->isChecked();
        bool send = false;
        if (mods & Qt::ShiftModifier)
            send = false;
        else if (mods & Qt::ControlModifier)
            send = !enterSends;
        else
            send = enterSends;
        if (send)
            emit sendRequested();
        else
            m_sendEdit->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    default:
        break;
    }
    return QGroupBox::eventFilter(watched, event);
}

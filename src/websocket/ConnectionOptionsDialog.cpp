#include "websocket/ConnectionOptionsDialog.h"

#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "protocol/ProtocolOptionsBox.h"
#include "websocket/ClientOptionsCheck.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

ConnectionOptionsDialog::OpenFileNameHook ConnectionOptionsDialog::getOpenFileName =
    [](QWidget* parent, const QString& caption, const QString& dir, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    };

namespace {

QLineEdit* lineEdit(const char* name, const QString& text, const QString& placeholder,
                    QWidget* parent)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    edit->setPlaceholderText(placeholder);
    return edit;
}

QSpinBox* secondsSpin(const char* name, int value, QWidget* parent)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(0, 3600);
    spin->setSuffix(QStringLiteral(" s"));
    spin->setValue(value);
    return spin;
}

} // namespace

ConnectionOptionsDialog::ConnectionOptionsDialog(const ClientOptions& options, QWidget* parent)
    : QDialog(parent)
    , m_decode(options.decode)
{
    setObjectName(QStringLiteral("connectionOptionsDialog"));
    setWindowTitle(QStringLiteral("连接选项"));
    setMinimumWidth(460);
    auto* form = new QFormLayout(this);

    m_headers = new QPlainTextEdit(options.headers, this);
    m_headers->setObjectName(QStringLiteral("headersEdit"));
    m_headers->setPlaceholderText(
        QStringLiteral("每行一个 Name: value，如 Authorization: Bearer …"));
    // Tab moves on, as in every other field; a header line never holds one.
    m_headers->setTabChangesFocus(true);
    m_headers->setFixedHeight(90);
    form->addRow(QStringLiteral("请求头"), m_headers);

    m_subprotocols =
        lineEdit("subprotocolsEdit", options.subprotocols.join(QStringLiteral(", ")),
                 QStringLiteral("按顺序，逗号分隔，如 mqtt, graphql-transport-ws"), this);
    form->addRow(QStringLiteral("子协议"), m_subprotocols);
    m_origin = lineEdit("originEdit", options.origin, QStringLiteral("留空则不发送 Origin"), this);
    form->addRow(QStringLiteral("Origin"), m_origin);

    m_ignoreCertificates = new QCheckBox(QStringLiteral("忽略证书错误"), this);
    m_ignoreCertificates->setObjectName(QStringLiteral("ignoreCertificatesCheck"));
    m_ignoreCertificates->setChecked(options.ignoreCertificateErrors);
    form->addRow(m_ignoreCertificates);
    auto* caRow = new QHBoxLayout;
    m_caFile = lineEdit("caFileEdit", options.caFile, QStringLiteral("PEM 格式，可留空"), this);
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    browse->setObjectName(QStringLiteral("caFileButton"));
    connect(browse, &QPushButton::clicked, this, &ConnectionOptionsDialog::browseCaFile);
    caRow->addWidget(m_caFile, 1);
    caRow->addWidget(browse);
    form->addRow(QStringLiteral("CA 文件"), caRow);

    m_handshakeTimeout = secondsSpin("handshakeTimeoutSpin", options.handshakeTimeoutSeconds, this);
    form->addRow(QStringLiteral("握手超时 (0 = 不限)"), m_handshakeTimeout);
    m_autoReconnect = new QCheckBox(QStringLiteral("断线自动重连"), this);
    m_autoReconnect->setObjectName(QStringLiteral("autoReconnectCheck"));
    m_autoReconnect->setChecked(options.autoReconnect);
    form->addRow(m_autoReconnect);
    m_heartbeat = secondsSpin("heartbeatSpin", options.heartbeatSeconds, this);
    form->addRow(QStringLiteral("心跳间隔 (0 = 关闭)"), m_heartbeat);

    m_proxy = new QComboBox(this);
    m_proxy->setObjectName(QStringLiteral("proxyCombo"));
    // In the order of ClientOptions::Proxy.
    m_proxy->addItems({QStringLiteral("无"), QStringLiteral("系统设置"), QStringLiteral("HTTP"),
                       QStringLiteral("SOCKS5")});
    m_proxy->setCurrentIndex(int(options.proxy));
    form->addRow(QStringLiteral("代理"), m_proxy);
    m_proxyHost = lineEdit("proxyHostEdit", options.proxyHost, QString(), this);
    form->addRow(QStringLiteral("代理主机"), m_proxyHost);
    m_proxyPort = new QSpinBox(this);
    m_proxyPort->setObjectName(QStringLiteral("proxyPortSpin"));
    m_proxyPort->setRange(0, 65535);
    m_proxyPort->setValue(options.proxyPort);
    form->addRow(QStringLiteral("代理端口"), m_proxyPort);
    m_proxyUser = lineEdit("proxyUserEdit", options.proxyUser, QString(), this);
    form->addRow(QStringLiteral("代理用户"), m_proxyUser);
    m_proxyPassword = lineEdit("proxyPasswordEdit", options.proxyPassword, QString(), this);
    m_proxyPassword->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("代理密码"), m_proxyPassword);
    connect(m_proxy, &QComboBox::currentIndexChanged, this,
            &ConnectionOptionsDialog::updateProxyFields);
    updateProxyFields();

    m_protocol = new ProtocolOptionsBox(options.protocol, this);
    form->addRow(m_protocol);

    m_problems = new QLabel(this);
    m_problems->setObjectName(QStringLiteral("optionsProblems"));
    m_problems->setWordWrap(true);
    m_problems->setStyleSheet(QStringLiteral("color: #F87171;"));
    m_problems->hide();
    form->addRow(m_problems);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("optionsOkButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ConnectionOptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConnectionOptionsDialog::reject);
    form->addRow(buttons);

    m_headers->setFocus();
    retranslateWidgetTree(this);
    LanguageManager::addListener(this, [this] {
        retranslateWidgetTree(this);
        if (m_problems->isVisible())
            showProblems();
    });
}

ClientOptions ConnectionOptionsDialog::options() const
{
    ClientOptions options;
    options.headers = m_headers->toPlainText().trimmed();
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    options.subprotocols = m_subprotocols->text().split(separators, Qt::SkipEmptyParts);
    options.origin = m_origin->text().trimmed();
    options.ignoreCertificateErrors = m_ignoreCertificates->isChecked();
    options.caFile = m_caFile->text().trimmed();
    options.handshakeTimeoutSeconds = m_handshakeTimeout->value();
    options.autoReconnect = m_autoReconnect->isChecked();
    options.heartbeatSeconds = m_heartbeat->value();
    options.proxy = ClientOptions::Proxy(m_proxy->currentIndex());
    if (options.proxy == ClientOptions::Proxy::Http ||
        options.proxy == ClientOptions::Proxy::Socks5) {
        options.proxyHost = m_proxyHost->text().trimmed();
        options.proxyPort = quint16(m_proxyPort->value());
        options.proxyUser = m_proxyUser->text();
        options.proxyPassword = m_proxyPassword->text();
    }
    options.protocol = m_protocol->options();
    options.decode = m_decode;
    return options;
}

void ConnectionOptionsDialog::accept()
{
    if (!ClientOptionsCheck::problems(options()).isEmpty()) {
        showProblems();
        return;
    }
    QDialog::accept();
}

void ConnectionOptionsDialog::showProblems()
{
    QStringList chinese;
    QStringList shown;
    for (const OptionProblem& problem : ClientOptionsCheck::problems(options())) {
        chinese.append(problem.text());
        shown.append(problem.text(LanguageManager::translate(problem.format)));
    }
    setRuntimeText(m_problems, chinese.join(QLatin1Char('\n')), shown.join(QLatin1Char('\n')));
    m_problems->setVisible(!chinese.isEmpty());
}

void ConnectionOptionsDialog::updateProxyFields()
{
    const auto proxy = ClientOptions::Proxy(m_proxy->currentIndex());
    const bool typed = proxy == ClientOptions::Proxy::Http || proxy == ClientOptions::Proxy::Socks5;
    for (QWidget* field :
         {static_cast<QWidget*>(m_proxyHost), static_cast<QWidget*>(m_proxyPort),
          static_cast<QWidget*>(m_proxyUser), static_cast<QWidget*>(m_proxyPassword)})
        field->setEnabled(typed);
}

void ConnectionOptionsDialog::browseCaFile()
{
    const QString path =
        getOpenFileName(this, LanguageManager::translate(QStringLiteral("CA 文件")),
                        m_caFile->text(), QStringLiteral("PEM (*.pem *.crt);;* (*)"));
    if (!path.isEmpty())
        m_caFile->setText(path);
}

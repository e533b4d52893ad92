#include "websocket/ServerOptionsDialog.h"

#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ServerSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

ServerOptionsDialog::OpenFileHook ServerOptionsDialog::getOpenFileName =
    [](QWidget* parent, const QString& caption, const QString& filters) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filters);
    };

namespace {

QStringList subprotocolNames(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

// A header token (RFC 7230), as a subprotocol name must be.
bool isToken(const QString& name)
{
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    return token.match(name).hasMatch();
}

} // namespace

ServerOptionsDialog::ServerOptionsDialog(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("serverOptionsDialog"));
    setWindowTitle(QStringLiteral("服务选项"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    m_bind = new QComboBox(this);
    m_bind->setObjectName(QStringLiteral("bindCombo"));
    // In the order of ServerOptions::Bind.
    m_bind->addItems({QStringLiteral("所有接口"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("::1"), QStringLiteral("指定地址")});
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("bindAddressEdit"));
    m_address->setPlaceholderText(QStringLiteral("例: 192.168.1.10"));
    auto* bindRow = new QHBoxLayout;
    bindRow->addWidget(m_bind);
    bindRow->addWidget(m_address, 1);
    form->addRow(new QLabel(QStringLiteral("监听地址"), this), bindRow);
    connect(m_bind, &QComboBox::currentIndexChanged, this,
            &ServerOptionsDialog::updateAddressField);

    m_restrictPath = new QCheckBox(QStringLiteral("只接受监听路径"), this);
    m_restrictPath->setObjectName(QStringLiteral("restrictPathCheck"));
    form->addRow(new QLabel(QStringLiteral("路径"), this), m_restrictPath);

    m_subprotocols = new QLineEdit(this);
    m_subprotocols->setObjectName(QStringLiteral("subprotocolsEdit"));
    m_subprotocols->setPlaceholderText(QStringLiteral("例: mqtt, graphql-transport-ws"));
    form->addRow(new QLabel(QStringLiteral("子协议"), this), m_subprotocols);

    m_certificate =
        addFileRow(form, QStringLiteral("证书文件 (PEM)"), QStringLiteral("certificate"));
    m_privateKey = addFileRow(form, QStringLiteral("私钥文件 (PEM)"), QStringLiteral("privateKey"));

    m_timeout = new QSpinBox(this);
    m_timeout->setObjectName(QStringLiteral("handshakeTimeoutSpin"));
    m_timeout->setRange(1, 3600);
    m_timeout->setSuffix(QStringLiteral(" s"));
    form->addRow(new QLabel(QStringLiteral("握手超时"), this), m_timeout);

    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("optionsProblem"));
    m_problem->setStyleSheet(QStringLiteral("color: #EF4444;"));
    m_problem->setWordWrap(true);
    layout->addWidget(m_problem);

    auto* buttons = new QHBoxLayout;
    auto* defaults = new QPushButton(QStringLiteral("恢复默认"), this);
    defaults->setObjectName(QStringLiteral("defaultsButton"));
    defaults->setAutoDefault(false);
    connect(defaults, &QPushButton::clicked, this, [this] {
        ServerOptions plain;
        plain.decode = m_decode;
        setOptions(plain);
    });
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    // Enter anywhere in the dialog confirms, Esc cancels.
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    setOptions(ServerOptions());
    retranslateWidgetTree(this);
    LanguageManager::addListener(this, [this] { retranslateWidgetTree(this); });
}

void ServerOptionsDialog::setOptions(const ServerOptions& options)
{
    m_bind->setCurrentIndex(int(options.bind));
    m_address->setText(options.address);
    m_restrictPath->setChecked(options.restrictPath);
    m_subprotocols->setText(options.subprotocols.join(QStringLiteral(", ")));
    m_certificate->setText(options.certificateFile);
    m_privateKey->setText(options.privateKeyFile);
    m_timeout->setValue(options.handshakeTimeoutSeconds);
    m_decode = options.decode;
    setRuntimeText(m_problem, QString(), QString());
    updateAddressField();
}

ServerOptions ServerOptionsDialog::options() const
{
    ServerOptions options;
    options.bind = ServerOptions::Bind(m_bind->currentIndex());
    if (options.bind == ServerOptions::Bind::Address)
        options.address = m_address->text().trimmed();
    options.restrictPath = m_restrictPath->isChecked();
    options.subprotocols = subprotocolNames(m_subprotocols->text());
    options.certificateFile = m_certificate->text().trimmed();
    options.privateKeyFile = m_privateKey->text().trimmed();
    options.handshakeTimeoutSeconds = m_timeout->value();
    options.decode = m_decode;
    return options;
}

QString ServerOptionsDialog::toolTipFor(const ServerOptions& options)
{
    if (options.isDefault())
        return QString();
    QStringList lines;
    const auto summary = options.summary();
    for (const auto& [label, value] : summary)
        lines.append(LanguageManager::translate(label) + QStringLiteral(": ") +
                     LanguageManager::translate(value));
    return lines.join(QLatin1Char('\n'));
}

OptionProblem ServerOptionsDialog::problem() const
{
    const ServerOptions shown = options();
    if (shown.bind == ServerOptions::Bind::Address && QHostAddress(shown.address).isNull())
        return {QStringLiteral("监听地址无效"), {}};
    for (const QString& name : shown.subprotocols) {
        if (!isToken(name))
            return {QStringLiteral("子协议名称含有无效字符"), {}};
    }
    if (shown.certificateFile.isEmpty() != shown.privateKeyFile.isEmpty())
        return {QStringLiteral("证书文件和私钥文件须同时填写"), {}};
    // Told now rather than first when listening fails.
    using Code = ConnectionEvent::Code;
    const std::optional<ConnectionEvent> tls = ServerSession::tlsProblem(shown);
    if (!tls)
        return {};
    switch (tls->code) {
    case Code::ListenUnreadable:
        return {tls->number == 0 ? QStringLiteral("无法读取证书文件 %1: %2")
                                 : QStringLiteral("无法读取私钥文件 %1: %2"),
                {tls->peer, tls->detail}};
    case Code::ListenNotCertificate:
        return {QStringLiteral("证书文件 %1 不是 PEM 证书"), {tls->peer}};
    case Code::ListenNotKey:
        return {QStringLiteral("私钥文件 %1 不是未加密的 PEM 私钥"), {tls->peer}};
    default:
        return {QStringLiteral("本机不支持 TLS"), {}};
    }
}

void ServerOptionsDialog::accept()
{
    const OptionProblem reason = problem();
    setRuntimeText(m_problem, reason.text(),
                   reason.text(LanguageManager::translate(reason.format)));
    if (reason.format.isEmpty())
        QDialog::accept();
}

void ServerOptionsDialog::updateAddressField()
{
    const bool typed = m_bind->currentIndex() == int(ServerOptions::Bind::Address);
    m_address->setEnabled(typed);
    m_address->setVisible(typed);
}

QLineEdit* ServerOptionsDialog::addFileRow(QFormLayout* form, const QString& caption,
                                           const QString& name)
{
    auto* field = new QLineEdit(this);
    field->setObjectName(name + QStringLiteral("Edit"));
    field->setPlaceholderText(QStringLiteral("留空: 普通 ws"));
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    browse->setObjectName(name + QStringLiteral("Browse"));
    connect(browse, &QPushButton::clicked, this, [this, field, caption] {
        const QString path =
            getOpenFileName(this, LanguageManager::translate(caption),
                            QStringLiteral("PEM (*.pem *.crt *.cer *.key);;* (*)"));
        if (!path.isEmpty())
            field->setText(path);
    });
    // The whole path shows: the field grows with it (up to a width a screen
    // holds), and the tooltip has it in any case.
    connect(field, &QLineEdit::textChanged, this, [this, field](const QString& path) {
        field->setToolTip(path);
        const int wanted = field->fontMetrics().horizontalAdvance(path) + 24;
        field->setMinimumWidth(std::min(std::max(wanted, 200), 720));
        adjustSize();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(browse);
    form->addRow(new QLabel(caption, this), row);
    return field;
}

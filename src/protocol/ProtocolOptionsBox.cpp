#include "protocol/ProtocolOptionsBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

ProtocolOptionsBox::ProtocolOptionsBox(const ProtocolOptions& options, QWidget* parent)
    : QWidget(parent)
{
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("protocolCombo"));
    // In the order of ProtocolOptions::Kind.
    m_kind->addItems({QStringLiteral("WebSocket"), QStringLiteral("Socket.IO")});
    m_kind->setCurrentIndex(int(options.kind));
    form->addRow(QStringLiteral("协议"), m_kind);

    m_path = new QLineEdit(options.path, this);
    m_path->setObjectName(QStringLiteral("socketIoPathEdit"));
    form->addRow(QStringLiteral("路径"), m_path);
    m_engineIo3 = new QCheckBox(QStringLiteral("Engine.IO 3 (Socket.IO 2 服务器)"), this);
    m_engineIo3->setObjectName(QStringLiteral("engineIo3Check"));
    m_engineIo3->setChecked(options.engineIo3);
    form->addRow(m_engineIo3);
    m_nsp = new QLineEdit(options.nsp, this);
    m_nsp->setObjectName(QStringLiteral("namespaceEdit"));
    form->addRow(QStringLiteral("命名空间"), m_nsp);
    m_auth = new QLineEdit(options.auth, this);
    m_auth->setObjectName(QStringLiteral("authEdit"));
    m_auth->setPlaceholderText(QStringLiteral("可留空，如 {\"token\":\"…\"}"));
    form->addRow(QStringLiteral("认证 JSON"), m_auth);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &ProtocolOptionsBox::updateFields);
    connect(m_engineIo3, &QCheckBox::toggled, this, &ProtocolOptionsBox::updateFields);
    updateFields();
}

ProtocolOptions ProtocolOptionsBox::options() const
{
    ProtocolOptions options;
    options.kind = ProtocolOptions::Kind(m_kind->currentIndex());
    if (!options.isSocketIo())
        return options;
    options.path = m_path->text().trimmed();
    options.engineIo3 = m_engineIo3->isChecked();
    options.nsp = m_nsp->text().trimmed().isEmpty() ? QStringLiteral("/") : m_nsp->text().trimmed();
    options.auth = m_auth->text().trimmed();
    return options;
}

void ProtocolOptionsBox::updateFields()
{
    const bool socketIo = m_kind->currentIndex() == int(ProtocolOptions::Kind::SocketIo);
    for (QWidget* field : {static_cast<QWidget*>(m_path), static_cast<QWidget*>(m_engineIo3),
                           static_cast<QWidget*>(m_nsp)})
        field->setEnabled(socketIo);
    // Socket.IO 2 sends no auth with the namespace connect.
    m_auth->setEnabled(socketIo && !m_engineIo3->isChecked());
}

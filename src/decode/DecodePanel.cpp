#include "decode/DecodePanel.h"

#include "comm/EntryDetailPane.h"
#include "comm/ExportDialogs.h"
#include "comm/LogViewWidget.h"
#include "decode/DecodePage.h"
#include "decode/ProtoSchema.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ConnectionManager.h"
#include "websocket/ReceiveRouter.h"
#include "websocket/SendArea.h"
#include "websocket/SendController.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

DecodePanel::DecodePanel(const Targets& targets, QWidget* parent)
    : QGroupBox(QStringLiteral("二进制解码"), parent)
    , m_targets(targets)
{
    setObjectName(QStringLiteral("decodePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);

    m_rowDecoder = new QComboBox(this);
    m_rowDecoder->setObjectName(QStringLiteral("rowDecoderCombo"));
    for (const DecoderKind kind : FrameDecoder::kinds())
        m_rowDecoder->addItem(FrameDecoder::name(kind), int(kind));
    layout->addWidget(m_rowDecoder);

    auto* protoRow = new QHBoxLayout;
    auto* protoButton = new QPushButton(QStringLiteral("选择 .proto…"), this);
    protoButton->setObjectName(QStringLiteral("protoFileButton"));
    protoRow->addWidget(protoButton);
    m_protoLabel = new QLabel(this);
    m_protoLabel->setObjectName(QStringLiteral("protoFileLabel"));
    protoRow->addWidget(m_protoLabel, 1);
    layout->addLayout(protoRow);

    m_messageType = new QComboBox(this);
    m_messageType->setObjectName(QStringLiteral("messageTypeCombo"));
    m_messageType->setEnabled(false);
    layout->addWidget(m_messageType);

    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(new QLabel(QStringLiteral("发送编码"), this));
    m_sendEncoding = new QComboBox(this);
    m_sendEncoding->setObjectName(QStringLiteral("sendEncodingCombo"));
    for (const auto format : {FrameEncoder::Format::None, FrameEncoder::Format::Cbor,
                              FrameEncoder::Format::MessagePack, FrameEncoder::Format::Protobuf})
        m_sendEncoding->addItem(FrameEncoder::name(format), int(format));
    sendRow->addWidget(m_sendEncoding, 1);
    layout->addLayout(sendRow);

    connect(protoButton, &QPushButton::clicked, this, &DecodePanel::chooseProto);
    connect(m_rowDecoder, &QComboBox::currentIndexChanged, this, &DecodePanel::keepOptions);
    connect(m_messageType, &QComboBox::currentIndexChanged, this, &DecodePanel::keepOptions);
    connect(m_sendEncoding, &QComboBox::currentIndexChanged, this, &DecodePanel::keepOptions);
    if (m_targets.connection)
        connect(m_targets.connection, &ConnectionManager::optionsChanged, this,
                &DecodePanel::takeOptions);
    if (m_targets.serverMode)
        connect(m_targets.serverMode, &QAbstractButton::toggled, this, &DecodePanel::takeOptions);
    if (SendArea* area = m_targets.sendArea) {
        // The encodings are of the box's JSON into a binary frame.
        connect(area->binaryRadio(), &QRadioButton::toggled, this, &DecodePanel::updateSendChoice);
        connect(area->hexSendCheck(), &QCheckBox::toggled, this, &DecodePanel::updateSendChoice);
    }
    updateSendChoice();
    takeOptions();
}

FrameDecoder DecodePanel::decoder() const
{
    return FrameDecoder(DecoderKind(m_rowDecoder->currentData().toInt()), m_schema,
                        m_messageType->currentText());
}

void DecodePanel::chooseProto()
{
    const QString path = ExportDialogs::getOpenFileName(
        this, LanguageManager::translate(QStringLiteral("选择 .proto 文件")), QString(),
        QStringLiteral("Protocol Buffers (*.proto)"));
    if (!path.isEmpty())
        loadProto(path);
}

bool DecodePanel::loadProto(const QString& path)
{
    const bool read = readProto(path);
    keepOptions();
    return read;
}

bool DecodePanel::readProto(const QString& path)
{
    m_protoPath = path;
    QString error;
    std::shared_ptr<const ProtoSchema> schema = ProtoSchema::load(path, &error);
    const QSignalBlocker quiet(m_messageType);
    m_messageType->clear();
    m_messageType->setEnabled(bool(schema));
    m_schema = schema;
    if (!schema) {
        const QString form = QStringLiteral("无法读取 .proto：%1");
        setRuntimeText(m_protoLabel, form.arg(error), LanguageManager::translate(form).arg(error));
        m_protoLabel->setToolTip(error);
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    setRuntimeText(m_protoLabel, name, name);
    m_protoLabel->setToolTip(schema->path());
    m_messageType->addItems(schema->messageTypes());
    return true;
}

DecodeOptions DecodePanel::shownOptions() const
{
    ConnectionManager* connection = m_targets.connection;
    if (!connection)
        return {};
    const bool server = m_targets.serverMode && m_targets.serverMode->isChecked();
    return server ? connection->serverOptions().decode : connection->clientOptions().decode;
}

void DecodePanel::takeOptions()
{
    if (m_taking || !m_targets.connection)
        return;
    const DecodeOptions options = shownOptions();
    {
        m_taking = true;
        const QSignalBlocker quietRows(m_rowDecoder);
        const QSignalBlocker quietSend(m_sendEncoding);
        m_rowDecoder->setCurrentIndex(m_rowDecoder->findData(int(options.rows)));
        m_sendEncoding->setCurrentIndex(m_sendEncoding->findData(int(options.send)));
        // Read again only when another file is named: a choice of type or
        // decoder must not cost a parse.
        if (options.protoFile != m_protoPath) {
            if (options.protoFile.isEmpty()) {
                const QSignalBlocker quiet(m_messageType);
                m_protoPath.clear();
                m_schema.reset();
                m_messageType->clear();
                m_messageType->setEnabled(false);
                setRuntimeText(m_protoLabel, QString(), QString());
                m_protoLabel->setToolTip(QString());
            } else {
                readProto(options.protoFile);
            }
        }
        const QSignalBlocker quietType(m_messageType);
        if (const int type = m_messageType->findText(options.messageType); type >= 0)
            m_messageType->setCurrentIndex(type);
        m_taking = false;
    }
    apply();
}

void DecodePanel::keepOptions()
{
    apply();
    ConnectionManager* connection = m_targets.connection;
    if (m_taking || !connection)
        return;
    DecodeOptions options;
    options.rows = DecoderKind(m_rowDecoder->currentData().toInt());
    options.send = FrameEncoder::Format(m_sendEncoding->currentData().toInt());
    options.protoFile = m_protoPath;
    options.messageType = m_messageType->currentText();
    m_taking = true;
    if (m_targets.serverMode && m_targets.serverMode->isChecked()) {
        ServerOptions server = connection->serverOptions();
        server.decode = options;
        connection->setServerOptions(server);
    } else {
        ClientOptions client = connection->clientOptions();
        client.decode = options;
        connection->setClientOptions(client);
    }
    m_taking = false;
}

void DecodePanel::updateSendChoice()
{
    const SendArea* area = m_targets.sendArea;
    m_sendEncoding->setEnabled(area && area->binaryRadio()->isChecked() &&
                               !area->hexSendCheck()->isChecked());
}

void DecodePanel::apply()
{
    const auto kind = DecoderKind(m_rowDecoder->currentData().toInt());
    const QString type = m_messageType->currentText();
    if (m_targets.logView) {
        m_targets.logView->setRowDecoder(
            FrameDecoder(kind, m_schema, type, DecodeLimits::forRows()));
        if (EntryDetailPane* pane = m_targets.logView->entryDetailPane())
            pane->decodePage()->setSchema(m_schema, type);
    }
    // Rules read on the window's thread too: bounded as the rows are.
    if (m_targets.router)
        m_targets.router->setDecoder(FrameDecoder(kind, m_schema, type, DecodeLimits::forRows()));
    if (m_targets.sender)
        m_targets.sender->setEncoder(FrameEncoder(
            FrameEncoder::Format(m_sendEncoding->currentData().toInt()), m_schema, type));
}

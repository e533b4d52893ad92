#include "decode/DecodePanel.h"

#include "comm/EntryDetailPane.h"
#include "comm/ExportDialogs.h"
#include "comm/LogViewWidget.h"
#include "decode/DecodePage.h"
#include "decode/ProtoSchema.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ReceiveRouter.h"
#include "websocket/SendArea.h"
#include "websocket/SendController.h"

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
    connect(m_rowDecoder, &QComboBox::currentIndexChanged, this, &DecodePanel::apply);
    connect(m_messageType, &QComboBox::currentIndexChanged, this, &DecodePanel::apply);
    connect(m_sendEncoding, &QComboBox::currentIndexChanged, this, &DecodePanel::apply);
    if (SendArea* area = m_targets.sendArea) {
        // The encodings are of the box's JSON into a binary frame.
        connect(area->binaryRadio(), &QRadioButton::toggled, this, &DecodePanel::updateSendChoice);
        connect(area->hexSendCheck(), &QCheckBox::toggled, this, &DecodePanel::updateSendChoice);
    }
    updateSendChoice();
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
    QString error;
    std::shared_ptr<const ProtoSchema> schema = ProtoSchema::load(path, &error);
    if (!schema) {
        const QString form = QStringLiteral("无法读取 .proto：%1");
        setRuntimeText(m_protoLabel, form.arg(error), LanguageManager::translate(form).arg(error));
        m_protoLabel->setToolTip(error);
        return false;
    }
    m_schema = schema;
    m_protoLabel->setText(QFileInfo(path).fileName());
    m_protoLabel->setToolTip(schema->path());
    {
        const QSignalBlocker quiet(m_messageType);
        m_messageType->clear();
        m_messageType->addItems(schema->messageTypes());
        m_messageType->setEnabled(true);
    }
    apply();
    return true;
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
    if (m_targets.router)
        m_targets.router->setDecoder(decoder());
    if (m_targets.sender)
        m_targets.sender->setEncoder(FrameEncoder(
            FrameEncoder::Format(m_sendEncoding->currentData().toInt()), m_schema, type));
}

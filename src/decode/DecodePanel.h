#pragma once

#include "decode/FrameDecoder.h"
#include "decode/FrameEncoder.h"

#include <QGroupBox>

#include <memory>

class LogViewWidget;
class ProtoSchema;
class QComboBox;
class QLabel;
class ReceiveRouter;
class SendArea;
class SendController;

// "二进制解码": how this connection's binary frames read in the rows, the
// chart rules and smart analysis, the .proto and message type that
// Protocol Buffers use, and how a binary send encodes the box's JSON. Hands
// each choice to the parts that use it.
class DecodePanel : public QGroupBox
{
    Q_OBJECT

public:
    struct Targets
    {
        LogViewWidget* logView = nullptr;
        ReceiveRouter* router = nullptr;
        SendController* sender = nullptr;
        SendArea* sendArea = nullptr;
    };

    DecodePanel(const Targets& targets, QWidget* parent = nullptr);

    // The decoder the rules and smart analysis read binary frames with.
    FrameDecoder decoder() const;
    // Reads a .proto as "选择 .proto…" does, without its dialog.
    bool loadProto(const QString& path);

private:
    void chooseProto();
    void apply();
    void updateSendChoice();

    Targets m_targets;
    QComboBox* m_rowDecoder = nullptr;
    QLabel* m_protoLabel = nullptr;
    QComboBox* m_messageType = nullptr;
    QComboBox* m_sendEncoding = nullptr;
    std::shared_ptr<const ProtoSchema> m_schema;
};

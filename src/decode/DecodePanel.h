#pragma once

#include "decode/DecodeOptions.h"
#include "decode/FrameDecoder.h"
#include "decode/FrameEncoder.h"

#include <QGroupBox>

#include <memory>

class ConnectionManager;
class LogViewWidget;
class QAbstractButton;
class ProtoSchema;
class QComboBox;
class QLabel;
class ReceiveRouter;
class SendArea;
class SendController;

// "二进制解码": how this connection's binary frames read in the rows, the
// chart rules and smart analysis, the .proto and message type that
// Protocol Buffers use, and how a binary send encodes the box's JSON. Hands
// each choice to the parts that use it, and keeps it in the options of the
// connection shown (the address in client mode, the server in server mode),
// so it comes back with them.
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
        ConnectionManager* connection = nullptr;
        // Checked: the choices are the server's.
        QAbstractButton* serverMode = nullptr;
    };

    DecodePanel(const Targets& targets, QWidget* parent = nullptr);

    // The decoder the rules and smart analysis read binary frames with.
    FrameDecoder decoder() const;
    // Reads a .proto as "选择 .proto…" does, without its dialog.
    bool loadProto(const QString& path);

private:
    void chooseProto();
    // The shown connection's choices into the controls, and back.
    void takeOptions();
    void keepOptions();
    DecodeOptions shownOptions() const;
    bool readProto(const QString& path);
    void apply();
    void updateSendChoice();

    Targets m_targets;
    QComboBox* m_rowDecoder = nullptr;
    QLabel* m_protoLabel = nullptr;
    QComboBox* m_messageType = nullptr;
    QComboBox* m_sendEncoding = nullptr;
    std::shared_ptr<const ProtoSchema> m_schema;
    // The .proto chosen, read or not.
    QString m_protoPath;
    bool m_taking = false;
};

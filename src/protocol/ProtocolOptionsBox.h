#pragma once

#include "protocol/ProtocolOptions.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;

// The "协议" rows of the connection options: WebSocket or Socket.IO, and
// Socket.IO's path, Engine.IO version, namespace and auth.
class ProtocolOptionsBox : public QWidget
{
    Q_OBJECT

public:
    explicit ProtocolOptionsBox(const ProtocolOptions& options, QWidget* parent = nullptr);

    ProtocolOptions options() const;

private:
    void updateFields();

    QComboBox* m_kind = nullptr;
    QLineEdit* m_path = nullptr;
    QCheckBox* m_engineIo3 = nullptr;
    QLineEdit* m_nsp = nullptr;
    QLineEdit* m_auth = nullptr;
};

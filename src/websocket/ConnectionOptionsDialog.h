#pragma once

#include "websocket/ClientOptions.h"

#include <QDialog>

#include <functional>

class ProtocolOptionsBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// "连接选项": how client mode opens its next connection. OK keeps the dialog
// open while an option cannot be used and says which and why.
class ConnectionOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    // Replaceable for tests; defaults to QFileDialog::getOpenFileName.
    using OpenFileNameHook = std::function<QString(QWidget* parent, const QString& caption,
                                                   const QString& dir, const QString& filter)>;
    static OpenFileNameHook getOpenFileName;

    explicit ConnectionOptionsDialog(const ClientOptions& options, QWidget* parent = nullptr);

    // The options as the fields show them.
    ClientOptions options() const;

public slots:
    void accept() override;

private:
    void showProblems();
    void updateProxyFields();
    void browseCaFile();

    QPlainTextEdit* m_headers = nullptr;
    QLineEdit* m_subprotocols = nullptr;
    QLineEdit* m_origin = nullptr;
    QCheckBox* m_ignoreCertificates = nullptr;
    QLineEdit* m_caFile = nullptr;
    QSpinBox* m_handshakeTimeout = nullptr;
    QCheckBox* m_autoReconnect = nullptr;
    QSpinBox* m_heartbeat = nullptr;
    QComboBox* m_proxy = nullptr;
    QLineEdit* m_proxyHost = nullptr;
    QSpinBox* m_proxyPort = nullptr;
    QLineEdit* m_proxyUser = nullptr;
    QLineEdit* m_proxyPassword = nullptr;
    QLabel* m_problems = nullptr;
    ProtocolOptionsBox* m_protocol = nullptr;
    // Chosen beside the log, not here: passed through as it came.
    DecodeOptions m_decode;
};

#pragma once

#include "websocket/ConnectionManager.h"

#include <QWidget>

class ChartEngine;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStringListModel;

// The window's settings column: mode, connection, connected clients (server
// mode), display switches and the chart controls. It builds and shows them;
// the window wires them to what they drive.
class SettingsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsPanel(QWidget* parent = nullptr);

    QRadioButton* clientRadio() const { return m_clientRadio; }
    QRadioButton* serverRadio() const { return m_serverRadio; }
    QLineEdit* urlEdit() const { return m_urlEdit; }
    // "⚙ N" beside the address while N client options differ from their defaults.
    QLabel* optionsMark() const { return m_optionsMark; }
    QCheckBox* rememberSecretsCheck() const { return m_rememberSecretsCheck; }
    QPushButton* clientOptionsButton() const { return m_clientOptionsButton; }
    QPushButton* pingButton() const { return m_pingButton; }
    QSpinBox* portSpin() const { return m_portSpin; }
    QLineEdit* pathEdit() const { return m_pathEdit; }
    QPushButton* serverOptionsButton() const { return m_serverOptionsButton; }
    QComboBox* encodingCombo() const { return m_encodingCombo; }
    QPushButton* connectButton() const { return m_connectButton; }
    QPushButton* disconnectClientButton() const { return m_disconnectClientButton; }
    QCheckBox* hexDisplayCheck() const { return m_hexDisplayCheck; }
    QCheckBox* timestampCheck() const { return m_timestampCheck; }
    QCheckBox* autoScrollCheck() const { return m_autoScrollCheck; }
    QSpinBox* lineSpacingSpin() const { return m_lineSpacingSpin; }
    QSpinBox* fontSizeSpin() const { return m_fontSizeSpin; }
    ChartEngine* chartEngine() const { return m_chartEngine; }

    // The addresses offered on typing and on the Down key.
    void setRecentAddresses(const QStringList& addresses);

    // The connected clients; the selected one is the target of a send
    // (everyClient while none is).
    void addClient(ConnectionManager::ClientId id, const QString& text);
    void removeClient(ConnectionManager::ClientId id);
    void clearClients();
    ConnectionManager::ClientId selectedClient() const;
    // The context menu of a client in the list, built but not shown: the
    // caller owns it.
    QMenu* createClientMenu(ConnectionManager::ClientId id, QWidget* parent);

signals:
    // From a client's context menu: the send box to this client alone, or
    // this client dropped.
    void sendToClientRequested(ConnectionManager::ClientId id);
    void dropClientRequested(ConnectionManager::ClientId id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showMode(bool clientMode);
    void clearClientSelection();
    void widenAddressPopup();
    void updateDisconnectButton();

    QRadioButton* m_clientRadio = nullptr;
    QRadioButton* m_serverRadio = nullptr;
    QWidget* m_clientBox = nullptr;
    QWidget* m_serverBox = nullptr;
    QLineEdit* m_urlEdit = nullptr;
    QLabel* m_optionsMark = nullptr;
    QStringListModel* m_addressModel = nullptr;
    QCheckBox* m_rememberSecretsCheck = nullptr;
    QPushButton* m_clientOptionsButton = nullptr;
    QPushButton* m_pingButton = nullptr;
    QSpinBox* m_portSpin = nullptr;
    QLineEdit* m_pathEdit = nullptr;
    QPushButton* m_serverOptionsButton = nullptr;
    QComboBox* m_encodingCombo = nullptr;
    QPushButton* m_connectButton = nullptr;
    QGroupBox* m_clientsGroup = nullptr;
    QListWidget* m_clientList = nullptr;
    QPushButton* m_disconnectClientButton = nullptr;
    QCheckBox* m_hexDisplayCheck = nullptr;
    QCheckBox* m_timestampCheck = nullptr;
    QCheckBox* m_autoScrollCheck = nullptr;
    QSpinBox* m_lineSpacingSpin = nullptr;
    QSpinBox* m_fontSizeSpin = nullptr;
    ChartEngine* m_chartEngine = nullptr;
    bool m_widening = false;
};

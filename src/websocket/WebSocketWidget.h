#pragma once

#include "websocket/ConnectionManager.h"
#include "websocket/RecentAddresses.h"
#include "websocket/WindowSettings.h"

#include <QWidget>

class AddressOptionsController;
class AutoReplyPanel;
class AutoSendPolicy;
class BodySplitter;
class ChartEngine;
class CommunicationBase;
class LogViewWidget;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;
class QuickSendPanel;
class ReceiveRouter;
class DecodePanel;
class SendArea;
class SendController;
class SettingsBinder;
class SettingsPanel;
class SettingsStore;
class SocketIoPanel;
class ServerOptionsDialog;

// The tool's one window: settings column, log and chart tabs, send area. It
// renders and wires; the connection or server itself is its ConnectionManager.
class WebSocketWidget : public QWidget
{
    Q_OBJECT

public:
    explicit WebSocketWidget(QWidget* parent = nullptr);
    ~WebSocketWidget() override;

    ConnectionManager* connection() const { return m_connection; }

    // Restores what the settings file holds (values it cannot use keep their
    // defaults, and one system entry names them) and keeps the file up to
    // date from now on. Without a call nothing is read or written.
    void useSettingsFile(const QString& path);
    SettingsStore* settingsStore() const { return m_settingsStore; }
    // What the window would write to its settings file now.
    WindowSettings settings() const;

public slots:
    // A received frame: logged as the bytes that were on the wire, then
    // offered to the chart rules. Text frames show their own text.
    void onTextMessageReceived(const QString& message, const QString& peer = QString());
    void onBinaryMessageReceived(const QByteArray& message, const QString& peer = QString());

private slots:
    void toggleConnection();
    // A send by the user (button, Enter): one that reaches nobody says so.
    void sendData();
    void onConnectionStateChanged(ConnectionManager::State state);
    void onClientConnected(ConnectionManager::ClientId id, const QString& text);
    void onClientDisconnected(ConnectionManager::ClientId id, const QString& text);
    void disconnectSelectedClient();
    void openConnectionOptions();
    void pingServer();
    void openServerOptions();

private:
    void setupUI();
    QWidget* createSettingsPanel();
    QWidget* createLogArea();
    QGroupBox* createSendArea();
    void updateConnectButton();
    void updateStatusLabel();
    void updateServerOptionsTip();

    void connectToServer();
    void disconnectAll();
    void startServer();
    void sendFromBox(bool byUser);
    SendBoxContent sendBoxContent() const;
    void recallHistory(bool older);
    void rememberConnectedAddress();
    void scheduleSettingsSave();
    ConnectionManager::ClientId selectedClient() const;
    // The address row's tooltip lists the client options that differ from
    // their defaults, in the active language.
    void updateAddressToolTip();

    QScrollArea* settingsScroll = nullptr;
    BodySplitter* bodySplitter = nullptr;
    AddressOptionsController* addressOptions = nullptr;
    SettingsPanel* settingsPanel = nullptr;
    SendArea* sendArea = nullptr;
    CommunicationBase* comm = nullptr;
    LogViewWidget* logView = nullptr;
    QTabWidget* tabWidget = nullptr;
    ChartEngine* chartEngine = nullptr;
    ConnectionManager* m_connection = nullptr;
    // The controls the window renders state into, owned by the panel.
    QLineEdit* urlEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QLineEdit* pathEdit = nullptr;
    QPushButton* serverOptionsButton = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* pingButton = nullptr;
    ServerOptionsDialog* serverOptionsDialog = nullptr;
    AutoSendPolicy* autoSend = nullptr;
    SendController* sender = nullptr;
    ReceiveRouter* router = nullptr;
    DecodePanel* decodePanel = nullptr;
    QComboBox* languageCombo = nullptr;
    QuickSendPanel* quickSendPanel = nullptr;
    AutoReplyPanel* autoReplyPanel = nullptr;
    SocketIoPanel* socketIo = nullptr;

    // Remembered across starts
    SettingsStore* m_settingsStore = nullptr;
    // Deleted first, so that children torn down after this class is gone
    // cannot call back into it.
    SettingsBinder* m_binder = nullptr;
    bool m_saveFailureReported = false;
    RecentAddresses recentAddresses;
    // The address of the attempt in progress, remembered once it connects.
    QString pendingAddress;
};

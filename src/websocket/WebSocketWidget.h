#pragma once

#include "websocket/ConnectionManager.h"
#include "websocket/RecentAddresses.h"
#include "websocket/SendHistory.h"
#include "websocket/WindowSettings.h"

#include <QWidget>

class ChartEngine;
class CommunicationBase;
class LogViewWidget;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QStringListModel;
class QTabWidget;
class QTimer;
class QuickSendPanel;
class SettingsStore;
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void toggleConnection();
    // A send by the user (button, Enter): one that reaches nobody says so.
    void sendData();
    void autoSendTick();
    void onConnectionStateChanged(ConnectionManager::State state);
    void onClientConnected(ConnectionManager::ClientId id, const QString& text);
    void onClientDisconnected(ConnectionManager::ClientId id, const QString& text);
    void toggleAutoSend(bool enabled);
    void disconnectSelectedClient();
    void openConnectionOptions();
    void pingServer();
    void openServerOptions();

private:
    void setupUI();
    QWidget* createSettingsPanel();
    void createChartGroupContent(QGroupBox* group);
    QWidget* createLogArea();
    QGroupBox* createSendArea();
    void updateConnectButton();
    void updateStatusLabel();
    void openDocumentation();
    void updateServerOptionsTip();

    void connectToServer();
    void disconnectAll();
    void startServer();
    void sendFromBox(bool byUser);
    // Returns whether the frame left.
    bool sendContent(const SendBoxContent& content, bool byUser);
    // Logs why a send failed; a failing auto-send tick only when the stretch
    // of failing ticks begins or its reason changes.
    void reportSendProblem(const QString& text, bool byUser);
    SendBoxContent sendBoxContent() const;
    void showInSendBox(const SendBoxContent& content);
    void recallHistory(bool older);
    void rememberConnectedAddress();
    void applySettings(const WindowSettings& settings, QStringList* rejected);
    void watchSettings();
    void scheduleSettingsSave();
    void updateAutoSend();
    ConnectionManager::ClientId selectedClient() const;
    void clearClientSelection();
    bool hasChartRules() const;
    void feedChart(const QString& text);
    // The address row's tooltip lists the client options that differ from
    // their defaults, in the active language.
    void updateAddressToolTip();

    QScrollArea* settingsScroll = nullptr;
    CommunicationBase* comm = nullptr;
    LogViewWidget* logView = nullptr;
    QTabWidget* tabWidget = nullptr;
    ChartEngine* chartEngine = nullptr;
    ConnectionManager* m_connection = nullptr;
    QRadioButton* clientRadio = nullptr;
    QRadioButton* serverRadio = nullptr;
    QLineEdit* urlEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QLineEdit* pathEdit = nullptr;
    QPushButton* serverOptionsButton = nullptr;
    ServerOptionsDialog* serverOptionsDialog = nullptr;
    QComboBox* encodingCombo = nullptr;
    QPushButton* connectButton = nullptr;
    QListWidget* clientList = nullptr;
    QPushButton* disconnectClientButton = nullptr;
    QCheckBox* hexDisplayCheck = nullptr;
    QCheckBox* timestampCheck = nullptr;
    QCheckBox* autoScrollCheck = nullptr;
    QSpinBox* lineSpacingSpin = nullptr;
    QSpinBox* fontSizeSpin = nullptr;
    QPlainTextEdit* sendEdit = nullptr;
    QCheckBox* hexSendCheck = nullptr;
    QCheckBox* enterSendCheck = nullptr;
    QRadioButton* textRadio = nullptr;
    QRadioButton* binaryRadio = nullptr;
    QPushButton* sendButton = nullptr;
    QCheckBox* autoSendCheck = nullptr;
    QSpinBox* intervalSpin = nullptr;
    QTimer* autoSendTimer = nullptr;
    // What the failing ticks since the last one that sent have logged.
    QString autoSendProblem;
    QComboBox* languageCombo = nullptr;

    QWidget* clientBox = nullptr;
    QWidget* serverBox = nullptr;
    QGroupBox* clientsGroup = nullptr;

    // Remembered across starts
    SettingsStore* m_settingsStore = nullptr;
    // Context of every settings watch; deleted first so that children torn
    // down after this class is gone cannot call back into it.
    QObject* m_settingsWatch = nullptr;
    bool m_saveFailureReported = false;
    bool m_largePayloadReported = false;
    QCheckBox* rememberSecretsCheck = nullptr;
    QuickSendPanel* quickSendPanel = nullptr;
    SendHistory sendHistory;
    RecentAddresses recentAddresses;
    QStringListModel* addressModel = nullptr;
    // The address of the attempt in progress, remembered once it connects.
    QString pendingAddress;
    QPushButton* clientOptionsButton = nullptr;
    QPushButton* pingButton = nullptr;
};

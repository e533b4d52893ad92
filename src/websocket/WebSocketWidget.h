#pragma once

#include <QAbstractSocket>
#include <QList>
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
class QTabWidget;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The tool's one window: settings column, log and chart tabs, send area, and
// the one client connection or server that runs at a time.
class WebSocketWidget : public QWidget
{
    Q_OBJECT

public:
    explicit WebSocketWidget(QWidget* parent = nullptr);
    ~WebSocketWidget() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void toggleConnection();
    void sendData();
    void onClientConnected();
    void onClientDisconnected();
    void onTextMessageReceived(const QString& message);
    void onBinaryMessageReceived(const QByteArray& message);
    void onWsConnected();
    void onWsDisconnected();
    void onWsTextReceived(const QString& message);
    void toggleAutoSend(bool enabled);
    void onWsError(QAbstractSocket::SocketError error);
    void disconnectSelectedClient();

private:
    void setupUI();
    QWidget* createSettingsPanel();
    void createChartGroupContent(QGroupBox* group);
    QWidget* createLogArea();
    QGroupBox* createSendArea();
    void updateConnectButton();
    void updateStatusLabel();
    void openDocumentation();

    void connectToServer();
    void abortPendingClient();
    void disconnectAll();
    void startServer();
    void prepareSocket(QWebSocket* socket);
    void logCloseCode(const QWebSocket* socket, const QString& client);
    QByteArray buildPayload();
    void sendFrame(QWebSocket* socket, const QByteArray& payload, bool binary);
    void feedChart(const QByteArray& bytes);

    QScrollArea* settingsScroll = nullptr;
    CommunicationBase* comm = nullptr;
    LogViewWidget* logView = nullptr;
    QTabWidget* tabWidget = nullptr;
    ChartEngine* chartEngine = nullptr;
    QWebSocket* clientSocket = nullptr;
    QWebSocketServer* server = nullptr;
    QList<QWebSocket*> clients;
    QRadioButton* clientRadio = nullptr;
    QRadioButton* serverRadio = nullptr;
    QLineEdit* urlEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QLineEdit* pathEdit = nullptr;
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
    bool isServerMode = false;
    bool isConnected = false;
    QComboBox* languageCombo = nullptr;

    QWidget* clientBox = nullptr;
    QWidget* serverBox = nullptr;
    QGroupBox* clientsGroup = nullptr;

    friend class WindowTest;
    friend class ConnectionsTest;
    friend class LoadTest;
};

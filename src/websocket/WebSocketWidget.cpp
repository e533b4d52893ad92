#include "websocket/WebSocketWidget.h"

#include "banner/AdBanner.h"
#include "chart/ChartEngine.h"
#include "chart/ChartRule.h"
#include "comm/CommunicationBase.h"
#include "comm/HexText.h"
#include "comm/LogViewWidget.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ReadBufferTuner.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const char kClientTextProperty[] = "clientText";
const char kReportErrorsProperty[] = "reportErrors";

// Frames and messages above this close the connection with 1009 instead of
// letting a peer exhaust memory. A socket's read buffer may grow to hold one
// such frame whole (see ReadBufferTuner).
constexpr qint64 kMaxFrameSize = 32 * 1024 * 1024;

const QString& sendPlaceholder()
{
    static const QString text = QStringLiteral("输入要发送的数据...");
    return text;
}

QString clientTextOf(const QWebSocket* socket)
{
    return socket->peerAddress().toString() + QLatin1Char(':') +
           QString::number(socket->peerPort());
}

QHBoxLayout* labelledRow(const QString& caption, QWidget* field, QWidget* labelParent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(caption, labelParent));
    row->addWidget(field, 1);
    return row;
}

} // namespace

WebSocketWidget::WebSocketWidget(QWidget* parent)
    : QWidget(parent)
{
    comm = new CommunicationBase(this);
    autoSendTimer = new QTimer(this);
    connect(autoSendTimer, &QTimer::timeout, this, &WebSocketWidget::sendData);
    setupUI();
}

WebSocketWidget::~WebSocketWidget()
{
    disconnectAll();
    clients.clear();
    // Sockets still closing die with the window; they must not call back
    // into a half-destroyed window while they go.
    const auto sockets = findChildren<QWebSocket*>();
    for (QWebSocket* socket : sockets)
        socket->disconnect(this);
}

void WebSocketWidget::setupUI()
{
    setWindowTitle(QStringLiteral("WebSocket调试助手"));
    setWindowIcon(QIcon(QStringLiteral(":/icon/WebSocket.ico")));
    setMinimumSize(900, 600);
    resize(1120, 760);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QFrame(this);
    header->setObjectName(QStringLiteral("headerBar"));
    header->setFixedHeight(52);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(20, 0, 20, 0);

    auto* icon = new QLabel(QStringLiteral("◆"), header);
    icon->setObjectName(QStringLiteral("headerIcon"));
    headerLayout->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("WebSocket调试助手"), header);
    title->setObjectName(QStringLiteral("headerTitle"));
    headerLayout->addWidget(title);
    auto* version = new QLabel(QStringLiteral("v1.0"), header);
    version->setObjectName(QStringLiteral("headerVersion"));
    headerLayout->addWidget(version);
    headerLayout->addStretch(1);
    headerLayout->addWidget(new AdBanner(QStringLiteral("sockwise"), header), 2);
    headerLayout->addStretch(1);

    languageCombo = createLanguageSelector(header);
    languageCombo->setObjectName(QStringLiteral("languageCombo"));
    headerLayout->addWidget(languageCombo);

    auto* docButton = new QPushButton(QStringLiteral("📖 文档"), header);
    docButton->setObjectName(QStringLiteral("docButton"));
    docButton->setCursor(Qt::PointingHandCursor);
    docButton->setFixedHeight(24);
    docButton->setStyleSheet(QStringLiteral(
        "QPushButton { background: transparent; color: #94A3B8; border: 1px solid #2A3A4A; "
        "border-radius: 3px; padding: 2px 8px; font-size: 11px; } QPushButton:hover { "
        "border-color: #60A5FA; color: #00D4FF; }"));
    connect(docButton, &QPushButton::clicked, this, &WebSocketWidget::openDocumentation);
    headerLayout->addWidget(docButton);

    auto* status = new QLabel(QStringLiteral("◆未连接"), header);
    status->setObjectName(QStringLiteral("connStatus"));
    headerLayout->addWidget(status);

    root->addWidget(header);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(16, 4, 16, 12);
    body->setSpacing(12);

    settingsScroll = new QScrollArea(this);
    settingsScroll->setObjectName(QStringLiteral("settingsScroll"));
    settingsScroll->setWidgetResizable(false);
    settingsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    settingsScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QWidget* panel = createSettingsPanel();
    panel->setFixedWidth(254);
    settingsScroll->setWidget(panel);
    settingsScroll->setFixedWidth(260);
    body->addWidget(settingsScroll, 0);
    body->addWidget(createLogArea(), 1);
    root->addLayout(body, 1);

    connect(lineSpacingSpin, &QSpinBox::valueChanged, logView, &LogViewWidget::setLineSpacing);
    connect(fontSizeSpin, &QSpinBox::valueChanged, logView, &LogViewWidget::setFontSize);

    retranslateWidgetTree(this);
    LanguageManager::addListener(this, [this] { retranslateWidgetTree(this); });
}

QWidget* WebSocketWidget::createSettingsPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("settingsPanel"));
    auto* layout = new QVBoxLayout(panel);
    layout->setSpacing(8);
    layout->setContentsMargins(0, 0, 0, 0);

    // Mode
    auto* modeGroup = new QGroupBox(QStringLiteral("模式选择"), panel);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    clientRadio = new QRadioButton(QStringLiteral("WebSocket 客户端"), modeGroup);
    clientRadio->setObjectName(QStringLiteral("clientRadio"));
    clientRadio->setChecked(true);
    serverRadio = new QRadioButton(QStringLiteral("WebSocket 服务端"), modeGroup);
    serverRadio->setObjectName(QStringLiteral("serverRadio"));
    modeLayout->addWidget(clientRadio);
    modeLayout->addWidget(serverRadio);
    layout->addWidget(modeGroup);

    // Connection
    auto* connGroup = new QGroupBox(QStringLiteral("连接设置"), panel);
    auto* connLayout = new QVBoxLayout(connGroup);

    clientBox = new QWidget(connGroup);
    clientBox->setObjectName(QStringLiteral("clientBox"));
    auto* clientBoxLayout = new QVBoxLayout(clientBox);
    clientBoxLayout->setContentsMargins(0, 0, 0, 0);
    urlEdit = new QLineEdit(QStringLiteral("ws://127.0.0.1:8080/ws"), clientBox);
    urlEdit->setObjectName(QStringLiteral("urlEdit"));
    clientBoxLayout->addLayout(labelledRow(QStringLiteral("服务器地址"), urlEdit, clientBox));
    connLayout->addWidget(clientBox);

    serverBox = new QWidget(connGroup);
    serverBox->setObjectName(QStringLiteral("serverBox"));
    auto* serverBoxLayout = new QVBoxLayout(serverBox);
    serverBoxLayout->setContentsMargins(0, 0, 0, 0);
    portSpin = new QSpinBox(serverBox);
    portSpin->setObjectName(QStringLiteral("portSpin"));
    portSpin->setRange(1, 65535);
    portSpin->setValue(8080);
    serverBoxLayout->addLayout(labelledRow(QStringLiteral("监听端口"), portSpin, serverBox));
    pathEdit = new QLineEdit(QStringLiteral("/ws"), serverBox);
    pathEdit->setObjectName(QStringLiteral("pathEdit"));
    serverBoxLayout->addLayout(labelledRow(QStringLiteral("监听路径"), pathEdit, serverBox));
    serverBox->hide();
    connLayout->addWidget(serverBox);

    encodingCombo = new QComboBox(connGroup);
    encodingCombo->setObjectName(QStringLiteral("encodingCombo"));
    encodingCombo->addItems(CommunicationBase::supportedEncodings());
    encodingCombo->setCurrentIndex(0);
    connLayout->addLayout(labelledRow(QStringLiteral("编码"), encodingCombo, connGroup));
    connect(encodingCombo, &QComboBox::currentTextChanged, comm, &CommunicationBase::setEncoding);

    connectButton = new QPushButton(QStringLiteral("连接"), connGroup);
    connectButton->setObjectName(QStringLiteral("accentButton"));
    connectButton->setFixedHeight(36);
    connect(connectButton, &QPushButton::clicked, this, &WebSocketWidget::toggleConnection);
    connLayout->addWidget(connectButton);
    layout->addWidget(connGroup);

    // Connected clients (server mode)
    clientsGroup = new QGroupBox(QStringLiteral("已连接客户端"), panel);
    clientsGroup->setObjectName(QStringLiteral("clientsGroup"));
    auto* clientsLayout = new QVBoxLayout(clientsGroup);
    clientList = new QListWidget(clientsGroup);
    clientList->setObjectName(QStringLiteral("clientList"));
    clientList->setMinimumHeight(60);
    clientList->setMaximumHeight(120);
    clientsLayout->addWidget(clientList);
    disconnectClientButton = new QPushButton(QStringLiteral("断开选中客户端"), clientsGroup);
    disconnectClientButton->setObjectName(QStringLiteral("dangerButton"));
    connect(disconnectClientButton, &QPushButton::clicked, this,
            &WebSocketWidget::disconnectSelectedClient);
    clientsLayout->addWidget(disconnectClientButton);
    clientsGroup->hide();
    layout->addWidget(clientsGroup);

    // Display
    auto* displayGroup = new QGroupBox(QStringLiteral("显示设置"), panel);
    auto* displayLayout = new QVBoxLayout(displayGroup);
    hexDisplayCheck = new QCheckBox(QStringLiteral("十六进制显示"), displayGroup);
    hexDisplayCheck->setObjectName(QStringLiteral("hexDisplayCheck"));
    timestampCheck = new QCheckBox(QStringLiteral("显示时间戳"), displayGroup);
    timestampCheck->setObjectName(QStringLiteral("timestampCheck"));
    timestampCheck->setChecked(true);
    autoScrollCheck = new QCheckBox(QStringLiteral("自动滚动"), displayGroup);
    autoScrollCheck->setObjectName(QStringLiteral("autoScrollCheck"));
    autoScrollCheck->setChecked(true);
    displayLayout->addWidget(hexDisplayCheck);
    displayLayout->addWidget(timestampCheck);
    displayLayout->addWidget(autoScrollCheck);
    connect(hexDisplayCheck, &QCheckBox::toggled, comm, &CommunicationBase::setHexDisplay);
    connect(timestampCheck, &QCheckBox::toggled, comm, &CommunicationBase::setShowTimestamp);
    connect(autoScrollCheck, &QCheckBox::toggled, comm, &CommunicationBase::setAutoScroll);

    lineSpacingSpin = new QSpinBox(displayGroup);
    lineSpacingSpin->setObjectName(QStringLiteral("lineSpacingSpin"));
    lineSpacingSpin->setRange(-10, 10);
    lineSpacingSpin->setValue(0);
    lineSpacingSpin->setSuffix(QStringLiteral(" px"));
    displayLayout->addLayout(labelledRow(QStringLiteral("行间距"), lineSpacingSpin, displayGroup));
    fontSizeSpin = new QSpinBox(displayGroup);
    fontSizeSpin->setObjectName(QStringLiteral("fontSizeSpin"));
    fontSizeSpin->setRange(7, 16);
    fontSizeSpin->setValue(11);
    fontSizeSpin->setSuffix(QStringLiteral(" pt"));
    displayLayout->addLayout(labelledRow(QStringLiteral("字号"), fontSizeSpin, displayGroup));
    layout->addWidget(displayGroup);

    // Charts
    auto* chartGroup = new QGroupBox(QStringLiteral("数据可视化"), panel);
    chartGroup->setObjectName(QStringLiteral("chartGroup"));
    createChartGroupContent(chartGroup);
    layout->addWidget(chartGroup);

    connect(clientRadio, &QRadioButton::toggled, this, [this](bool clientMode) {
        clientBox->setVisible(clientMode);
        serverBox->setVisible(!clientMode);
        clientsGroup->setVisible(!clientMode);
        isServerMode = !clientMode;
        if (QWidget* content = settingsScroll->widget())
            content->adjustSize();
    });

    return panel;
}

void WebSocketWidget::createChartGroupContent(QGroupBox* group)
{
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    chartEngine = new ChartEngine(group);
    chartEngine->setObjectName(QStringLiteral("chartEngine"));
    layout->addWidget(chartEngine->controlPanel());
    // Its two visible pieces now live in the group and the chart tab; the
    // empty shell must not sit over the group's title and take its clicks.
    chartEngine->hide();
}

QWidget* WebSocketWidget::createLogArea()
{
    auto* area = new QWidget(this);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    tabWidget = new QTabWidget(area);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    logView = new LogViewWidget(comm, tabWidget);
    logView->setObjectName(QStringLiteral("logView"));
    tabWidget->addTab(logView, QStringLiteral("通信日志"));
    if (chartEngine) {
        const int chartTab =
            tabWidget->addTab(chartEngine->chartView(), QStringLiteral("数据图表"));
        // The chart tab is there while "启用图表" is on.
        tabWidget->setTabVisible(chartTab, chartEngine->enableCheckBox()->isChecked());
        connect(chartEngine->enableCheckBox(), &QCheckBox::toggled, this, [this](bool on) {
            tabWidget->setTabVisible(tabWidget->indexOf(chartEngine->chartView()), on);
        });
    }
    layout->addWidget(tabWidget, 1);
    layout->addWidget(createSendArea(), 0);
    return area;
}

QGroupBox* WebSocketWidget::createSendArea()
{
    auto* group = new QGroupBox(QStringLiteral("发送区"), this);
    group->setObjectName(QStringLiteral("sendGroup"));
    auto* layout = new QVBoxLayout(group);

    sendEdit = new QPlainTextEdit(group);
    sendEdit->setObjectName(QStringLiteral("sendEdit"));
    sendEdit->setFixedHeight(70);
    sendEdit->setPlaceholderText(sendPlaceholder());
    sendEdit->installEventFilter(this);
    layout->addWidget(sendEdit);

    auto* options = new QHBoxLayout;
    hexSendCheck = new QCheckBox(QStringLiteral("Hex发送"), group);
    hexSendCheck->setObjectName(QStringLiteral("hexSendCheck"));
    textRadio = new QRadioButton(QStringLiteral("Text"), group);
    textRadio->setObjectName(QStringLiteral("textRadio"));
    textRadio->setChecked(true);
    binaryRadio = new QRadioButton(QStringLiteral("Binary"), group);
    binaryRadio->setObjectName(QStringLiteral("binaryRadio"));
    enterSendCheck = new QCheckBox(QStringLiteral("Enter发送"), group);
    enterSendCheck->setObjectName(QStringLiteral("enterSendCheck"));
    enterSendCheck->setChecked(true);
    sendButton = new QPushButton(QStringLiteral("刷新"), group);
    sendButton->setObjectName(QStringLiteral("accentButton"));
    sendButton->setFixedSize(120, 32);
    connect(sendButton, &QPushButton::clicked, this, &WebSocketWidget::sendData);
    options->addWidget(hexSendCheck);
    options->addWidget(textRadio);
    options->addWidget(binaryRadio);
    options->addWidget(enterSendCheck);
    options->addStretch();
    options->addWidget(sendButton);
    layout->addLayout(options);

    auto* autoRow = new QHBoxLayout;
    autoSendCheck = new QCheckBox(QStringLiteral("自动发送"), group);
    autoSendCheck->setObjectName(QStringLiteral("autoSendCheck"));
    connect(autoSendCheck, &QCheckBox::toggled, this, &WebSocketWidget::toggleAutoSend);
    intervalSpin = new QSpinBox(group);
    intervalSpin->setObjectName(QStringLiteral("intervalSpin"));
    intervalSpin->setRange(10, 60000);
    intervalSpin->setValue(1000);
    intervalSpin->setSingleStep(100);
    intervalSpin->setSuffix(QStringLiteral(" ms"));
    autoRow->addWidget(autoSendCheck);
    autoRow->addWidget(new QLabel(QStringLiteral("间隔:"), group));
    autoRow->addWidget(intervalSpin);
    autoRow->addStretch();
    layout->addLayout(autoRow);

    return group;
}

void WebSocketWidget::updateConnectButton()
{
    if (isConnected) {
        setRuntimeText(connectButton, QStringLiteral("断开"));
        connectButton->setStyleSheet(QStringLiteral(
            "QPushButton { background-color: #EF4444; color: white; font-weight: 600; border: "
            "none; border-radius: 4px; padding: 4px 20px; }QPushButton:hover { "
            "background-color: #F87171; }"));
        connectButton->setFixedHeight(36);
    } else {
        setRuntimeText(connectButton,
                       isServerMode ? QStringLiteral("监听") : QStringLiteral("连接"));
        connectButton->setObjectName(QStringLiteral("accentButton"));
        connectButton->setStyleSheet(QString());
    }
}

void WebSocketWidget::updateStatusLabel()
{
    auto* label = findChild<QLabel*>(QStringLiteral("connStatus"));
    if (!label)
        return;
    const bool english = LanguageManager::isEnglish();
    if (isConnected) {
        setRuntimeText(label, QStringLiteral("🟢 已连接"),
                       english ? QStringLiteral("🟢 Connected")
                               : QStringLiteral("🟢 已连接"));
        label->setStyleSheet(
            QStringLiteral("font-size: 13px; color: #10B981; background: transparent;"));
    } else {
        setRuntimeText(label, QStringLiteral("⚫未连接"),
                       english ? QStringLiteral("○ Disconnected") : QStringLiteral("⚫未连接"));
        label->setStyleSheet(
            QStringLiteral("font-size: 13px; color: #64748B; background: transparent;"));
    }
}

void WebSocketWidget::openDocumentation()
{
    QUrl page = AdBanner::vendorBaseUrl();
    page.setPath(QStringLiteral("/docs/gaugely/sockwise"));
    QDesktopServices::openUrl(page);
}

// ---------------------------------------------------------------- connection

void WebSocketWidget::toggleConnection()
{
    if (isConnected) {
        disconnectAll();
    } else if (isServerMode) {
        // A client attempt still pending would later mark a running server
        // as disconnected.
        abortPendingClient();
        startServer();
    } else {
        connectToServer();
    }
}

void WebSocketWidget::prepareSocket(QWebSocket* socket)
{
    socket->setMaxAllowedIncomingFrameSize(quint64(kMaxFrameSize));
    socket->setMaxAllowedIncomingMessageSize(quint64(kMaxFrameSize));
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            &WebSocketWidget::onBinaryMessageReceived);
}

void WebSocketWidget::abortPendingClient()
{
    if (!clientSocket)
        return;
    // The earlier attempt must not report into the window any more.
    QWebSocket* stale = clientSocket;
    clientSocket = nullptr;
    stale->disconnect(this);
    stale->abort();
    stale->deleteLater();
}

void WebSocketWidget::connectToServer()
{
    abortPendingClient();

    clientSocket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    clientSocket->setProperty(kReportErrorsProperty, true);
    connect(clientSocket, &QWebSocket::connected, this, &WebSocketWidget::onWsConnected);
    connect(clientSocket, &QWebSocket::disconnected, this, &WebSocketWidget::onWsDisconnected);
    connect(clientSocket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &WebSocketWidget::onWsError);
    connect(clientSocket, &QWebSocket::textMessageReceived, this,
            &WebSocketWidget::onWsTextReceived);
    prepareSocket(clientSocket);

    const QString address = urlEdit->text();
    comm->logSystem(QStringLiteral("正在连接 %1...").arg(address));
    clientSocket->open(QUrl(address));
    ReadBufferTuner::attach(clientSocket, clientSocket, kMaxFrameSize);
}

void WebSocketWidget::onWsConnected()
{
    if (sender() != clientSocket)
        return;
    isConnected = true;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystem(QStringLiteral("WebSocket已连接"));
}

void WebSocketWidget::onWsDisconnected()
{
    if (sender() != clientSocket)
        return;
    comm->logSystem(QStringLiteral("WebSocket已断开"));
    logCloseCode(clientSocket, QString());
    if (clientSocket) {
        clientSocket->deleteLater();
        clientSocket = nullptr;
    }
    isConnected = false;
    updateConnectButton();
    updateStatusLabel();
}

void WebSocketWidget::logCloseCode(const QWebSocket* socket, const QString& client)
{
    // Qt closes on its own with 1009 (frame or message too large) and 1001
    // (a frame stalled for 5 s); peers send their own codes. Only a normal
    // close is no news.
    const QWebSocketProtocol::CloseCode code = socket->closeCode();
    if (code == QWebSocketProtocol::CloseCodeNormal)
        return;
    QString message = client.isEmpty()
                          ? QStringLiteral("关闭代码 %1").arg(int(code))
                          : QStringLiteral("客户端 %1 关闭代码 %2").arg(client).arg(int(code));
    const QString reason = socket->closeReason();
    if (!reason.isEmpty())
        message += QStringLiteral("，原因: ") + reason;
    comm->logSystem(message);
}

void WebSocketWidget::onWsError(QAbstractSocket::SocketError)
{
    // The socket may already have reported its disconnection (a refused
    // attempt does so before the error), so the flag, not clientSocket, says
    // whether its errors are still ours to show.
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket || !socket->property(kReportErrorsProperty).toBool())
        return;
    socket->setProperty(kReportErrorsProperty, false); // one entry per failure
    comm->logSystem(QStringLiteral("连接错误: ") + socket->errorString());
}

void WebSocketWidget::disconnectAll()
{
    autoSendTimer->stop();

    if (clientSocket) {
        // Taken first: the socket may report its disconnection during close,
        // and it must be released exactly once.
        QWebSocket* socket = clientSocket;
        clientSocket = nullptr;
        // Closed on purpose: its own disconnection notice (which may come
        // during close, before "已断开") and errors are no news to the user.
        socket->disconnect(this);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->flush();
        socket->deleteLater();
    }

    if (server) {
        const QList<QWebSocket*> copy = clients;
        for (QWebSocket* socket : copy) {
            socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
            socket->flush();
            socket->deleteLater();
        }
        clients.clear();
        clientList->clear();
        server->close();
        delete server;
        server = nullptr;
    }

    isConnected = false;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystem(QStringLiteral("已断开"));
}

void WebSocketWidget::startServer()
{
    auto* candidate =
        new QWebSocketServer(QStringLiteral("Wirebench WS"), QWebSocketServer::NonSecureMode, this);
    const int port = portSpin->value();
    if (!candidate->listen(QHostAddress::Any, quint16(port))) {
        comm->logSystem(QStringLiteral("监听失败: ") + candidate->errorString());
        delete candidate;
        return;
    }
    server = candidate;
    isConnected = true;
    updateConnectButton();
    updateStatusLabel();
    comm->logSystem(QStringLiteral("WebSocket服务器已启动，端口 %1，路径 %2")
                        .arg(QString::number(port), pathEdit->text()));
    connect(server, &QWebSocketServer::newConnection, this, &WebSocketWidget::onClientConnected);
}

void WebSocketWidget::onClientConnected()
{
    while (server && server->hasPendingConnections()) {
        QWebSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        socket->setParent(this);
        const QString text = clientTextOf(socket);
        // Kept from arrival: a departing socket may no longer know its peer.
        socket->setProperty(kClientTextProperty, text);
        clients.append(socket);
        clientList->addItem(text);
        comm->logSystem(QStringLiteral("客户端连接 %1").arg(text));
        connect(socket, &QWebSocket::textMessageReceived, this,
                &WebSocketWidget::onTextMessageReceived);
        prepareSocket(socket);
        ReadBufferTuner::attach(socket, server, kMaxFrameSize);
        connect(socket, &QWebSocket::disconnected, this, &WebSocketWidget::onClientDisconnected);
    }
}

void WebSocketWidget::onClientDisconnected()
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket)
        return;
    const QString text = socket->property(kClientTextProperty).toString();
    const qsizetype index = clients.indexOf(socket);
    if (index >= 0) {
        clients.removeAt(index);
        delete clientList->takeItem(int(index));
    }
    comm->logSystem(QStringLiteral("客户端断开: %1").arg(text));
    logCloseCode(socket, text);
    socket->deleteLater();
}

void WebSocketWidget::disconnectSelectedClient()
{
    const int row = clientList->currentRow();
    if (row >= 0 && row < clients.size())
        clients.at(row)->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

// ------------------------------------------------------------------- traffic

QByteArray WebSocketWidget::buildPayload()
{
    const QString text = sendEdit->toPlainText();
    if (text.isEmpty())
        return QByteArray();
    if (!hexSendCheck->isChecked())
        return comm->encode(text);
    if (isValidHex(text))
        return hexToBytes(text);
    comm->logSystem(QStringLiteral("无效的十六进制数据"));
    return QByteArray();
}

void WebSocketWidget::sendFrame(QWebSocket* socket, const QByteArray& payload, bool binary)
{
    if (binary)
        socket->sendBinaryMessage(payload);
    else
        socket->sendTextMessage(QString::fromUtf8(payload));
}

void WebSocketWidget::sendData()
{
    const QByteArray payload = buildPayload();
    if (payload.isEmpty())
        return;
    const bool binary = binaryRadio->isChecked();

    if (isServerMode) {
        if (clientList->currentItem()) {
            const int row = clientList->currentRow();
            if (row >= 0 && row < clients.size())
                sendFrame(clients.at(row), payload, binary);
        } else {
            for (QWebSocket* socket : std::as_const(clients))
                sendFrame(socket, payload, binary);
        }
        comm->logSent(payload);
        return;
    }

    if (clientSocket && clientSocket->state() == QAbstractSocket::ConnectedState) {
        sendFrame(clientSocket, payload, binary);
        comm->logSent(payload);
    }
}

void WebSocketWidget::toggleAutoSend(bool enabled)
{
    if (enabled && isConnected)
        autoSendTimer->start(intervalSpin->value());
    else
        autoSendTimer->stop();
}

bool WebSocketWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != sendEdit)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::FocusIn:
        sendEdit->setPlaceholderText(QString());
        return false;
    case QEvent::FocusOut:
        if (sendEdit->document()->isEmpty())
            setRuntimePlaceholder(sendEdit, sendPlaceholder());
        return false;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            break;
        const Qt::KeyboardModifiers mods = key->modifiers();
        const bool enterSends = enterSendCheck->isChecked();
        bool send = false;
        if (mods & Qt::ShiftModifier)
            send = false;
        else if (mods & Qt::ControlModifier)
            send = !enterSends;
        else
            send = enterSends;
        if (send)
            sendData();
        else
            sendEdit->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void WebSocketWidget::onWsTextReceived(const QString& message)
{
    onTextMessageReceived(message);
}

void WebSocketWidget::onTextMessageReceived(const QString& message)
{
    const QByteArray bytes = comm->encode(message);
    comm->logReceived(bytes);
    feedChart(bytes);
}

void WebSocketWidget::onBinaryMessageReceived(const QByteArray& message)
{
    comm->logReceived(message);
    feedChart(message);
}

void WebSocketWidget::feedChart(const QByteArray& bytes)
{
    // Without rules nothing can be plotted: spare a large frame its decoding.
    if (!chartEngine || chartEngine->rules().isEmpty())
        return;
    const QStringList lines = splitChartLines(comm->decode(bytes));
    for (const QString& line : lines) {
        const QList<ChartRule> rules = chartEngine->rules();
        for (const ChartRule& rule : rules) {
            if (const auto value = evaluateRule(line, rule))
                chartEngine->addValue(rule, *value);
        }
    }
}

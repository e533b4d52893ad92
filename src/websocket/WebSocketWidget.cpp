#include "websocket/WebSocketWidget.h"

#include "app/SettingsStore.h"
#include "app/WheelGuard.h"
#include "banner/AdBanner.h"
#include "chart/ChartEngine.h"
#include "chart/ChartRule.h"
#include "chart/DataAnalyzer.h"
#include "comm/CommunicationBase.h"
#include "comm/HexText.h"
#include "comm/LogViewWidget.h"
#include "comm/TextCodec.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "websocket/ConnectionOptionsDialog.h"
#include "websocket/EventFormatter.h"
#include "websocket/QuickSendPanel.h"
#include "websocket/ServerOptionsDialog.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QStringListModel>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString& sendPlaceholder()
{
    static const QString text = QStringLiteral("输入要发送的数据...");
    return text;
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
    autoSendTimer->setObjectName(QStringLiteral("autoSendTimer"));
    connect(autoSendTimer, &QTimer::timeout, this, &WebSocketWidget::autoSendTick);

    m_connection = new ConnectionManager(this);
    m_connection->setObjectName(QStringLiteral("connection"));
    connect(m_connection, &ConnectionManager::happened, comm,
            [this](const ConnectionEvent& event) { comm->logSystem(EventFormatter::text(event)); });
    connect(m_connection, &ConnectionManager::stateChanged, this,
            &WebSocketWidget::onConnectionStateChanged);
    connect(m_connection, &ConnectionManager::reconnectScheduled, this,
            &WebSocketWidget::updateStatusLabel);
    connect(m_connection, &ConnectionManager::clientOptionsChanged, this,
            &WebSocketWidget::updateAddressToolTip);
    connect(m_connection, &ConnectionManager::clientJoined, this,
            &WebSocketWidget::onClientConnected);
    connect(m_connection, &ConnectionManager::clientLeft, this,
            &WebSocketWidget::onClientDisconnected);
    connect(m_connection, &ConnectionManager::textReceived, this,
            &WebSocketWidget::onTextMessageReceived);
    connect(m_connection, &ConnectionManager::binaryReceived, this,
            &WebSocketWidget::onBinaryMessageReceived);
    connect(m_connection, &ConnectionManager::optionsChanged, this,
            &WebSocketWidget::updateServerOptionsTip);

    setupUI();
}

WebSocketWidget::~WebSocketWidget()
{
    if (m_settingsStore)
        m_settingsStore->flush();
    delete m_settingsWatch;
    disconnectAll();
    // Nothing may report into a half-destroyed window.
    m_connection->disconnect(this);
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
    LanguageManager::addListener(this, [this] {
        retranslateWidgetTree(this);
        // Texts with a count or a list in them are built anew.
        updateAddressToolTip();
        if (m_connection->state() == ConnectionManager::Reconnecting)
            updateStatusLabel();
        updateServerOptionsTip();
    });

    WheelGuard::install(this);
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
    connGroup->setObjectName(QStringLiteral("connGroup"));
    auto* connLayout = new QVBoxLayout(connGroup);

    clientBox = new QWidget(connGroup);
    clientBox->setObjectName(QStringLiteral("clientBox"));
    auto* clientBoxLayout = new QVBoxLayout(clientBox);
    clientBoxLayout->setContentsMargins(0, 0, 0, 0);
    urlEdit = new QLineEdit(QStringLiteral("ws://127.0.0.1:8080/ws"), clientBox);
    urlEdit->setObjectName(QStringLiteral("urlEdit"));
    urlEdit->setCursorPosition(0);
    urlEdit->installEventFilter(this);
    clientBoxLayout->addLayout(labelledRow(QStringLiteral("服务器地址"), urlEdit, clientBox));
    // The addresses that connected, offered on typing and on the Down key.
    addressModel = new QStringListModel(this);
    auto* completer = new QCompleter(addressModel, this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    completer->setModelSorting(QCompleter::UnsortedModel);
    urlEdit->setCompleter(completer);
    rememberSecretsCheck = new QCheckBox(QStringLiteral("记住密钥"), clientBox);
    rememberSecretsCheck->setObjectName(QStringLiteral("rememberSecretsCheck"));
    clientBoxLayout->addWidget(rememberSecretsCheck);
    // A new address ends the retries for the old one.
    connect(urlEdit, &QLineEdit::textChanged, this, [this] {
        m_connection->stopReconnecting(ConnectionEvent::Code::RetryStoppedByAddress);
    });
    connect(urlEdit, &QLineEdit::textChanged, this, &WebSocketWidget::updateAddressToolTip);
    auto* clientTools = new QHBoxLayout;
    clientOptionsButton = new QPushButton(QStringLiteral("连接选项"), clientBox);
    clientOptionsButton->setObjectName(QStringLiteral("clientOptionsButton"));
    connect(clientOptionsButton, &QPushButton::clicked, this,
            &WebSocketWidget::openConnectionOptions);
    pingButton = new QPushButton(QStringLiteral("Ping"), clientBox);
    pingButton->setObjectName(QStringLiteral("pingButton"));
    pingButton->setEnabled(false);
    connect(pingButton, &QPushButton::clicked, this, &WebSocketWidget::pingServer);
    clientTools->addWidget(clientOptionsButton, 1);
    clientTools->addWidget(pingButton);
    clientBoxLayout->addLayout(clientTools);
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
    serverOptionsButton = new QPushButton(QStringLiteral("服务选项"), serverBox);
    serverOptionsButton->setObjectName(QStringLiteral("serverOptionsButton"));
    connect(serverOptionsButton, &QPushButton::clicked, this, &WebSocketWidget::openServerOptions);
    serverBoxLayout->addWidget(serverOptionsButton);
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
    // The selection is the target of a send: a click on empty space and Esc
    // clear it (nothing selected means every client).
    clientList->setSelectionMode(QAbstractItemView::SingleSelection);
    clientList->installEventFilter(this);
    clientList->viewport()->installEventFilter(this);
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
    // "智能分析" looks at what arrived lately.
    chartEngine->setAnalysisProvider(
        [this] { return DataAnalyzer::analyze(DataAnalyzer::recentReceived(comm->entries())); });
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
    quickSendPanel = new QuickSendPanel(tabWidget);
    quickSendPanel->setObjectName(QStringLiteral("quickSendPanel"));
    tabWidget->addTab(quickSendPanel, QStringLiteral("快捷发送"));
    connect(quickSendPanel, &QuickSendPanel::sendRequested, this,
            [this](const SendBoxContent& content) { sendContent(content, true); });
    connect(quickSendPanel, &QuickSendPanel::saveFromSendBoxRequested, this,
            [this] { quickSendPanel->addMessage(sendBoxContent()); });
    connect(quickSendPanel, &QuickSendPanel::notice, comm, &CommunicationBase::logSystem);
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
    // A new interval applies to the running timer at once.
    connect(intervalSpin, &QSpinBox::valueChanged, this, [this](int ms) {
        if (autoSendTimer->isActive())
            autoSendTimer->setInterval(ms);
    });
    autoRow->addWidget(autoSendCheck);
    autoRow->addWidget(new QLabel(QStringLiteral("间隔:"), group));
    autoRow->addWidget(intervalSpin);
    autoRow->addStretch();
    layout->addLayout(autoRow);

    return group;
}

void WebSocketWidget::updateConnectButton()
{
    const ConnectionManager::State state = m_connection->state();
    const bool stoppable =
        state == ConnectionManager::Connecting || state == ConnectionManager::Reconnecting;
    if (m_connection->isActive() || stoppable) {
        // A pending attempt is cancelled; a wait for a retry is ended like a connection.
        setRuntimeText(connectButton, state == ConnectionManager::Connecting
                                          ? QStringLiteral("取消")
                                          : QStringLiteral("断开"));
        connectButton->setStyleSheet(QStringLiteral(
            "QPushButton { background-color: #EF4444; color: white; font-weight: 600; border: "
            "none; border-radius: 4px; padding: 4px 20px; }QPushButton:hover { "
            "background-color: #F87171; }"));
        connectButton->setFixedHeight(36);
    } else {
        setRuntimeText(connectButton,
                       clientRadio->isChecked() ? QStringLiteral("连接") : QStringLiteral("监听"));
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
    if (m_connection->isActive()) {
        setRuntimeText(label, QStringLiteral("🟢 已连接"),
                       english ? QStringLiteral("🟢 Connected")
                               : QStringLiteral("🟢 已连接"));
        label->setStyleSheet(
            QStringLiteral("font-size: 13px; color: #10B981; background: transparent;"));
    } else if (m_connection->state() == ConnectionManager::Connecting ||
               m_connection->state() == ConnectionManager::Reconnecting) {
        const int attempt = m_connection->reconnectAttempt();
        const QString format = m_connection->state() == ConnectionManager::Connecting
                                   ? QStringLiteral("◆ 连接中…")
                                   : QStringLiteral("◆ 重连中 (%1)…");
        auto filled = [attempt](const QString& text) {
            return text.contains(QLatin1String("%1")) ? text.arg(attempt) : text;
        };
        setRuntimeText(label, filled(format), filled(LanguageManager::translate(format)));
        label->setStyleSheet(
            QStringLiteral("font-size: 13px; color: #F59E0B; background: transparent;"));
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

void WebSocketWidget::openServerOptions()
{
    if (!serverOptionsDialog) {
        serverOptionsDialog = new ServerOptionsDialog(this);
        connect(serverOptionsDialog, &QDialog::accepted, this,
                [this] { m_connection->setServerOptions(serverOptionsDialog->options()); });
    }
    serverOptionsDialog->setOptions(m_connection->serverOptions());
    // Window-modal without a nested loop: nothing waits on it.
    serverOptionsDialog->open();
}

void WebSocketWidget::updateServerOptionsTip()
{
    serverOptionsButton->setToolTip(ServerOptionsDialog::toolTipFor(m_connection->serverOptions()));
}

// ---------------------------------------------------------------- connection

void WebSocketWidget::toggleConnection()
{
    if (m_connection->state() == ConnectionManager::Connecting)
        m_connection->cancelAttempt();
    else if (m_connection->isActive() || m_connection->state() == ConnectionManager::Reconnecting)
        disconnectAll();
    else if (!clientRadio->isChecked())
        startServer();
    else
        connectToServer();
}

void WebSocketWidget::connectToServer()
{
    pendingAddress = urlEdit->text().trimmed();
    m_connection->connectTo(urlEdit->text());
}

void WebSocketWidget::startServer()
{
    m_connection->listen(quint16(portSpin->value()), pathEdit->text());
}

void WebSocketWidget::disconnectAll()
{
    autoSendTimer->stop();
    m_connection->closeAll();
}

void WebSocketWidget::onConnectionStateChanged(ConnectionManager::State state)
{
    if (state == ConnectionManager::Connected)
        rememberConnectedAddress();
    pingButton->setEnabled(state == ConnectionManager::Connected);
    if (state != ConnectionManager::Listening)
        clientList->clear();
    updateConnectButton();
    updateStatusLabel();
    updateAutoSend();
}

void WebSocketWidget::onClientConnected(ConnectionManager::ClientId id, const QString& text)
{
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, id);
    clientList->addItem(item);
}

void WebSocketWidget::onClientDisconnected(ConnectionManager::ClientId id, const QString&)
{
    for (int row = 0; row < clientList->count(); ++row) {
        QListWidgetItem* item = clientList->item(row);
        if (item->data(Qt::UserRole).toULongLong() == id) {
            // The view would move the selection to a neighbour: another client
            // would silently become the target.
            const bool wasSelected = item->isSelected();
            delete clientList->takeItem(row);
            if (wasSelected)
                clearClientSelection();
            break;
        }
    }
}

void WebSocketWidget::openConnectionOptions()
{
    // One at a time; one closing is on its way out.
    if (auto* open = findChild<ConnectionOptionsDialog*>(); open && open->isVisible()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new ConnectionOptionsDialog(m_connection->clientOptions(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this,
            [this, dialog] { m_connection->setClientOptions(dialog->options()); });
    dialog->open();
}

void WebSocketWidget::pingServer()
{
    if (!m_connection->ping())
        comm->logSystem(QStringLiteral("未发送 Ping：未连接"));
}

void WebSocketWidget::updateAddressToolTip()
{
    // A wrong address is marked while it is typed, not first when connecting.
    const QString problem = ConnectionManager::addressProblem(urlEdit->text().trimmed());
    if (urlEdit->property("invalid").toBool() != !problem.isEmpty()) {
        urlEdit->setProperty("invalid", !problem.isEmpty());
        urlEdit->style()->unpolish(urlEdit);
        urlEdit->style()->polish(urlEdit);
    }
    QStringList lines;
    if (!problem.isEmpty())
        lines.append(LanguageManager::translate(problem));
    const auto differences = m_connection->clientOptions().differences();
    if (differences.isEmpty()) {
        urlEdit->setToolTip(lines.join(QLatin1Char('\n')));
        return;
    }
    lines.append(LanguageManager::translate(QStringLiteral("连接选项")) + QLatin1Char(':'));
    for (const auto& [label, value] : differences) {
        QString line = LanguageManager::translate(label);
        if (!value.isEmpty())
            line += QStringLiteral(": ") + LanguageManager::translate(value);
        lines.append(line);
    }
    urlEdit->setToolTip(lines.join(QLatin1Char('\n')));
}

ConnectionManager::ClientId WebSocketWidget::selectedClient() const
{
    const QList<QListWidgetItem*> selected = clientList->selectedItems();
    return selected.isEmpty() ? ConnectionManager::everyClient
                              : selected.first()->data(Qt::UserRole).toULongLong();
}

void WebSocketWidget::clearClientSelection()
{
    clientList->clearSelection();
    clientList->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
}

void WebSocketWidget::disconnectSelectedClient()
{
    const ConnectionManager::ClientId id = selectedClient();
    if (id != ConnectionManager::everyClient)
        m_connection->closeClient(id);
}

// ------------------------------------------------------------------- traffic

void WebSocketWidget::sendData()
{
    sendFromBox(true);
}

void WebSocketWidget::autoSendTick()
{
    sendFromBox(false);
}

void WebSocketWidget::sendFromBox(bool byUser)
{
    const SendBoxContent content = sendBoxContent();
    if (sendContent(content, byUser) && byUser) {
        if (sendHistory.record(content)) {
            scheduleSettingsSave();
        } else if (!m_largePayloadReported) {
            m_largePayloadReported = true;
            comm->logSystem(QStringLiteral("超过 %1 KiB 的内容不记入发送历史")
                                .arg(SendHistory::maxEntryBytes / 1024));
        }
    }
}

bool WebSocketWidget::sendContent(const SendBoxContent& content, bool byUser)
{
    const QString& boxText = content.text;
    if (boxText.isEmpty())
        return false;
    const bool hex = content.hex;
    QByteArray payload;
    if (hex) {
        const QString problem = hexProblem(boxText);
        if (!problem.isEmpty()) {
            reportSendProblem(QStringLiteral("无效的十六进制数据: ") + problem, byUser);
            return false;
        }
        payload = hexToBytes(boxText);
    }

    const ConnectionManager::ClientId target = selectedClient();
    ConnectionManager::SendResult result;
    LogEntry::FrameKind kind = LogEntry::FrameKind::Text;
    if (content.binary) {
        // Binary frames carry the text in the selected encoding.
        kind = LogEntry::FrameKind::Binary;
        if (!hex)
            payload = comm->encode(boxText);
        result = m_connection->send(payload, kind, target);
    } else if (hex) {
        // A text frame is UTF-8 on the wire, whatever encoding is selected.
        result = m_connection->send(payload, kind, target);
    } else {
        result = m_connection->sendText(boxText, target);
        payload = boxText.toUtf8();
    }

    using Status = ConnectionManager::SendStatus;
    switch (result.status) {
    case Status::Sent:
        comm->logFrame(LogEntry::TX, payload, kind, result.recipients);
        if (!byUser)
            autoSendProblem.clear();
        return true;
    case Status::NotText:
        reportSendProblem(QStringLiteral("未发送：数据不是有效的 UTF-8，不能作为文本帧发送"),
                          byUser);
        return false;
    case Status::NotConnected:
    case Status::NoClients:
    case Status::Failed:
        break;
    }
    // Auto-send ticks that reach nobody stay quiet: one message per tick
    // would flood the log.
    if (!byUser)
        return false;
    if (result.status == Status::NoClients)
        comm->logSystem(QStringLiteral("未发送：没有已连接的客户端"));
    else if (result.status == Status::Failed)
        comm->logSystem(QStringLiteral("未发送：连接未接收数据"));
    else
        comm->logSystem(QStringLiteral("未发送：未连接"));
    return false;
}

void WebSocketWidget::reportSendProblem(const QString& text, bool byUser)
{
    // A tick fails the same way every interval: 100 entries a second at 10 ms.
    if (!byUser) {
        if (text == autoSendProblem)
            return;
        autoSendProblem = text;
    }
    comm->logSystem(text);
}

void WebSocketWidget::toggleAutoSend(bool)
{
    updateAutoSend();
}

void WebSocketWidget::updateAutoSend()
{
    // The ticked box arms auto send; it runs while something is up.
    if (autoSendCheck->isChecked() && m_connection->isActive()) {
        if (!autoSendTimer->isActive()) {
            autoSendProblem.clear();
            autoSendTimer->start(intervalSpin->value());
        }
    } else {
        autoSendTimer->stop();
    }
}

bool WebSocketWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move)
            scheduleSettingsSave();
        return false;
    }
    if (watched == urlEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        // Down offers every recent address, whatever the field holds.
        QCompleter* completer = urlEdit->completer();
        if (completer->popup()->isVisible() || addressModel->rowCount() == 0)
            return false;
        completer->setCompletionPrefix(QString());
        completer->complete();
        return true;
    }
    if (watched == urlEdit && event->type() == QEvent::FocusOut) {
        // The scheme is the first thing to check in an address.
        urlEdit->setCursorPosition(0);
        return false;
    }
    if (clientList && watched == clientList->viewport() &&
        event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!clientList->itemAt(mouse->position().toPoint()))
            clearClientSelection();
        return false;
    }
    if (watched == clientList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        clearClientSelection();
        return true;
    }
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
        if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
            (key->modifiers() & Qt::ControlModifier)) {
            recallHistory(key->key() == Qt::Key_Up);
            return true;
        }
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

void WebSocketWidget::onTextMessageReceived(const QString& message, const QString& peer)
{
    comm->logFrame(LogEntry::RX, compactUtf8(message), LogEntry::FrameKind::Text, peer);
    if (hasChartRules())
        feedChart(message);
}

void WebSocketWidget::onBinaryMessageReceived(const QByteArray& message, const QString& peer)
{
    comm->logFrame(LogEntry::RX, message, LogEntry::FrameKind::Binary, peer);
    // Without rules nothing can be plotted: spare a large frame its decoding.
    if (hasChartRules())
        feedChart(comm->decode(message));
}

bool WebSocketWidget::hasChartRules() const
{
    return chartEngine && !chartEngine->rules().isEmpty();
}

void WebSocketWidget::feedChart(const QString& text)
{
    const QStringList lines = splitChartLines(text);
    const QList<ChartRule> rules = chartEngine->rules();
    for (const QString& line : lines) {
        for (const ChartRule& rule : rules) {
            if (const auto value = evaluateRule(line, rule))
                chartEngine->addValue(rule, *value);
        }
    }
}

// --------------------------------------------- send history, recent addresses

SendBoxContent WebSocketWidget::sendBoxContent() const
{
    return {sendEdit->toPlainText(), hexSendCheck->isChecked(), binaryRadio->isChecked()};
}

void WebSocketWidget::showInSendBox(const SendBoxContent& content)
{
    sendEdit->setPlainText(content.text);
    sendEdit->moveCursor(QTextCursor::End);
    hexSendCheck->setChecked(content.hex);
    (content.binary ? binaryRadio : textRadio)->setChecked(true);
}

void WebSocketWidget::recallHistory(bool older)
{
    const std::optional<SendBoxContent> recalled =
        older ? sendHistory.older(sendBoxContent()) : sendHistory.newer();
    if (recalled)
        showInSendBox(*recalled);
}

void WebSocketWidget::rememberConnectedAddress()
{
    if (pendingAddress.isEmpty())
        return;
    recentAddresses.add(pendingAddress);
    addressModel->setStringList(recentAddresses.addresses());
    scheduleSettingsSave();
}

// ------------------------------------------------- settings kept across starts

void WebSocketWidget::useSettingsFile(const QString& path)
{
    if (m_settingsStore)
        return;
    QStringList rejected;
    {
        QSettings file(path, QSettings::IniFormat);
        applySettings(WindowSettings::read(file, &rejected), &rejected);
    }
    if (!rejected.isEmpty()) {
        rejected.replaceInStrings(QStringLiteral("file"), QStringLiteral("文件格式"));
        comm->logSystem(QStringLiteral("设置文件中有无法使用的内容，以下设置已恢复默认值: %1 (%2)")
                            .arg(rejected.join(QStringLiteral(", ")), path));
    }

    m_settingsStore = new SettingsStore(
        path, [this](QSettings& file) { settings().write(file); }, this);
    connect(m_settingsStore, &SettingsStore::saved, this, [this](bool ok) {
        // After a good save a new failure is worth a word again.
        if (ok)
            m_saveFailureReported = false;
        if (ok || m_saveFailureReported)
            return;
        m_saveFailureReported = true;
        comm->logSystem(QStringLiteral("设置无法保存: %1").arg(m_settingsStore->filePath()));
    });
    watchSettings();
}

WindowSettings WebSocketWidget::settings() const
{
    WindowSettings s;
    s.serverMode = serverRadio->isChecked();
    s.address = urlEdit->text();
    s.port = portSpin->value();
    s.path = pathEdit->text();
    s.encoding = encodingCombo->currentText();
    s.rememberSecrets = rememberSecretsCheck->isChecked();
    s.recentAddresses = recentAddresses.addresses();
    s.clientOptions = m_connection->clientOptions();
    s.serverOptions = m_connection->serverOptions();

    s.hexDisplay = hexDisplayCheck->isChecked();
    s.showTimestamp = timestampCheck->isChecked();
    s.autoScroll = autoScrollCheck->isChecked();
    s.lineSpacing = lineSpacingSpin->value();
    s.fontSize = fontSizeSpin->value();

    s.hexSend = hexSendCheck->isChecked();
    s.binarySend = binaryRadio->isChecked();
    s.enterSends = enterSendCheck->isChecked();
    s.autoSendIntervalMs = intervalSpin->value();
    s.sendHistory = sendHistory.entries();
    s.savedMessages = quickSendPanel->messages();

    s.chartEnabled = chartEngine->enableCheckBox()->isChecked();
    s.chartTemplate = chartEngine->templateCombo()->currentIndex();
    s.chartType = chartEngine->chartTypeCombo()->currentIndex();
    s.timeWindowSeconds = chartEngine->timeWindowSeconds();
    s.chartRules = chartEngine->rules();

    s.english = LanguageManager::isEnglish();
    s.geometry = saveGeometry();
    return s;
}

void WebSocketWidget::applySettings(const WindowSettings& s, QStringList* rejected)
{
    (s.serverMode ? serverRadio : clientRadio)->setChecked(true);
    urlEdit->setText(s.address);
    urlEdit->setCursorPosition(0);
    portSpin->setValue(s.port);
    pathEdit->setText(s.path);
    encodingCombo->setCurrentText(s.encoding);
    rememberSecretsCheck->setChecked(s.rememberSecrets);
    recentAddresses.setAddresses(s.recentAddresses);
    addressModel->setStringList(recentAddresses.addresses());
    m_connection->setClientOptions(s.clientOptions);
    m_connection->setServerOptions(s.serverOptions);

    hexDisplayCheck->setChecked(s.hexDisplay);
    timestampCheck->setChecked(s.showTimestamp);
    autoScrollCheck->setChecked(s.autoScroll);
    lineSpacingSpin->setValue(s.lineSpacing);
    fontSizeSpin->setValue(s.fontSize);

    hexSendCheck->setChecked(s.hexSend);
    (s.binarySend ? binaryRadio : textRadio)->setChecked(true);
    enterSendCheck->setChecked(s.enterSends);
    intervalSpin->setValue(s.autoSendIntervalMs);
    sendHistory.setEntries(s.sendHistory);
    quickSendPanel->setMessages(s.savedMessages);

    // The type first: each restored rule rebuilds the chart in it.
    chartEngine->enableCheckBox()->setChecked(s.chartEnabled);
    chartEngine->chartTypeCombo()->setCurrentIndex(s.chartType);
    chartEngine->timeWindowSpin()->setValue(s.timeWindowSeconds);
    chartEngine->restoreRules(s.chartRules);
    chartEngine->showTemplateWithoutApplying(s.chartTemplate);

    if (!s.geometry.isEmpty() && !restoreGeometry(s.geometry))
        rejected->append(QStringLiteral("window/geometry"));
    if (s.english)
        languageCombo->setCurrentIndex(1);
    // The caption names the restored mode's action from the start.
    if (s.serverMode)
        updateConnectButton();
}

void WebSocketWidget::watchSettings()
{
    m_settingsWatch = new QObject(this);
    const auto save = [this] {
        scheduleSettingsSave();
    };
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             clientRadio, rememberSecretsCheck, hexDisplayCheck, timestampCheck, autoScrollCheck,
             hexSendCheck, binaryRadio, enterSendCheck, chartEngine->enableCheckBox()})
        connect(button, &QAbstractButton::toggled, m_settingsWatch, save);
    for (QSpinBox* spin :
         {portSpin, lineSpacingSpin, fontSizeSpin, intervalSpin, chartEngine->timeWindowSpin()})
        connect(spin, &QSpinBox::valueChanged, m_settingsWatch, save);
    for (QLineEdit* edit : {urlEdit, pathEdit})
        connect(edit, &QLineEdit::textChanged, m_settingsWatch, save);
    for (QComboBox* combo : {encodingCombo, languageCombo, chartEngine->templateCombo(),
                             chartEngine->chartTypeCombo()})
        connect(combo, &QComboBox::currentIndexChanged, m_settingsWatch, save);
    // Rules come and go with the panel's list of them.
    const QAbstractItemModel* rules = chartEngine->ruleListWidget()->model();
    connect(rules, &QAbstractItemModel::rowsInserted, m_settingsWatch, save);
    connect(rules, &QAbstractItemModel::rowsRemoved, m_settingsWatch, save);
    connect(rules, &QAbstractItemModel::modelReset, m_settingsWatch, save);
    connect(quickSendPanel, &QuickSendPanel::changed, m_settingsWatch, save);
    connect(m_connection, &ConnectionManager::optionsChanged, m_settingsWatch, save);
    // Size and position.
    installEventFilter(this);
}

void WebSocketWidget::scheduleSettingsSave()
{
    if (m_settingsStore)
        m_settingsStore->scheduleSave();
}

#include "websocket/WebSocketWidget.h"

#include "app/SettingsStore.h"
#include "app/WheelGuard.h"
#include "chart/ChartEngine.h"
#include "chart/DataAnalyzer.h"
#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"
#include "decode/DecodePanel.h"
#include "decode/RuleInput.h"
#include "i18n/LanguageManager.h"
#include "i18n/Retranslate.h"
#include "protocol/SocketIoPanel.h"
#include "reply/AutoReplyPanel.h"
#include "session/SessionBar.h"
#include "websocket/AddressOptionsController.h"
#include "websocket/AutoSendPolicy.h"
#include "websocket/BodySplitter.h"
#include "websocket/ConnectionOptionsDialog.h"
#include "websocket/EventFormatter.h"
#include "websocket/HeaderBar.h"
#include "websocket/QuickSendPanel.h"
#include "websocket/QuickSendSplitter.h"
#include "websocket/ReceiveRouter.h"
#include "websocket/SecretMask.h"
#include "websocket/SendArea.h"
#include "websocket/SendController.h"
#include "websocket/ServerOptionsDialog.h"
#include "websocket/SettingsBinder.h"
#include "websocket/SettingsColumn.h"
#include "websocket/SettingsPanel.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

WebSocketWidget::WebSocketWidget(QWidget* parent)
    : QWidget(parent)
{
    comm = new CommunicationBase(this);
    autoSend = new AutoSendPolicy(this);
    connect(autoSend, &AutoSendPolicy::tick, this, [this] { sendFromBox(false); });

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
    sender = new SendController(m_connection, comm, autoSend, this);
    connect(sender, &SendController::historyChanged, this, &WebSocketWidget::scheduleSettingsSave);
    router = new ReceiveRouter(
        comm, [this] { return chartEngine ? chartEngine->ruleEvaluator() : RuleEvaluator(); },
        this);
    connect(m_connection, &ConnectionManager::textReceived, router, &ReceiveRouter::routeText);
    connect(m_connection, &ConnectionManager::binaryReceived, router, &ReceiveRouter::routeBinary);
    connect(m_connection, &ConnectionManager::optionsChanged, this,
            &WebSocketWidget::updateServerOptionsTip);

    setupUI();
    socketIo = new SocketIoPanel({m_connection, comm, logView, sendArea, sender, router}, this);
}

WebSocketWidget::~WebSocketWidget()
{
    if (m_settingsStore)
        m_settingsStore->flush();
    // Nothing torn down after this class is gone may call back into it.
    delete m_binder;
    disconnectAll();
    // Nothing may report into a half-destroyed window.
    m_connection->disconnect(this);
    m_connection->disconnect(router);
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

    auto* header = new HeaderBar(this);
    languageCombo = header->languageCombo();
    connect(header, &HeaderBar::notice, comm, &CommunicationBase::logSystem);
    root->addWidget(header);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(16, 4, 16, 12);
    body->setSpacing(12);

    QWidget* panel = createSettingsPanel();
    panel->setMinimumWidth(254);
    settingsScroll = new SettingsColumn(panel, this);
    settingsScroll->setMinimumWidth(260);
    bodySplitter = new BodySplitter(settingsScroll, createLogArea(), this);
    body->addWidget(bodySplitter, 1);
    root->addLayout(body, 1);
    decodePanel = new DecodePanel(
        {logView, router, sender, sendArea, m_connection, settingsPanel->serverRadio()},
        settingsPanel);
    settingsPanel->layout()->addWidget(decodePanel);
    settingsPanel->adjustSize();

    connect(settingsPanel->lineSpacingSpin(), &QSpinBox::valueChanged, logView,
            &LogViewWidget::setLineSpacing);
    connect(settingsPanel->fontSizeSpin(), &QSpinBox::valueChanged, logView,
            &LogViewWidget::setFontSize);
    m_binder = new SettingsBinder({this, settingsPanel, sendArea, quickSendPanel, languageCombo,
                                   m_connection, sender, &recentAddresses, addressOptions,
                                   bodySplitter, logView->detailToggle()},
                                  this);

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
    settingsPanel = new SettingsPanel(this);
    SettingsPanel* p = settingsPanel;
    urlEdit = p->urlEdit();
    portSpin = p->portSpin();
    pathEdit = p->pathEdit();
    serverOptionsButton = p->serverOptionsButton();
    connectButton = p->connectButton();
    pingButton = p->pingButton();
    chartEngine = p->chartEngine();
    addressOptions = new AddressOptionsController(urlEdit, p->optionsMark(), m_connection, this);

    // A new address ends the retries for the old one.
    connect(urlEdit, &QLineEdit::textChanged, this, [this] {
        m_connection->stopReconnecting(ConnectionEvent::Code::RetryStoppedByAddress);
    });
    connect(urlEdit, &QLineEdit::textChanged, this, &WebSocketWidget::updateAddressToolTip);
    connect(p->clientOptionsButton(), &QPushButton::clicked, this,
            &WebSocketWidget::openConnectionOptions);
    connect(pingButton, &QPushButton::clicked, this, &WebSocketWidget::pingServer);
    connect(serverOptionsButton, &QPushButton::clicked, this, &WebSocketWidget::openServerOptions);
    connect(p->encodingCombo(), &QComboBox::currentTextChanged, comm,
            &CommunicationBase::setEncoding);
    connect(connectButton, &QPushButton::clicked, this, &WebSocketWidget::toggleConnection);
    connect(p->disconnectClientButton(), &QPushButton::clicked, this,
            &WebSocketWidget::disconnectSelectedClient);
    connect(p, &SettingsPanel::sendToClientRequested, this, [this](ConnectionManager::ClientId id) {
        sender->sendFromBox(sendBoxContent(), id, true);
    });
    connect(p, &SettingsPanel::dropClientRequested, m_connection, &ConnectionManager::closeClient);
    connect(p->hexDisplayCheck(), &QCheckBox::toggled, comm, &CommunicationBase::setHexDisplay);
    connect(p->timestampCheck(), &QCheckBox::toggled, comm, &CommunicationBase::setShowTimestamp);
    connect(p->autoScrollCheck(), &QCheckBox::toggled, comm, &CommunicationBase::setAutoScroll);

    // "智能分析" looks at what arrived lately.
    chartEngine->setAnalysisProvider([this] {
        return DataAnalyzer::analyze(DataAnalyzer::recentReceived(
            comm->entries(), DataAnalyzer::recentCount,
            RuleInput::reader(decodePanel ? decodePanel->decoder() : FrameDecoder(),
                              socketIo ? socketIo->textReader() : nullptr)));
    });
    connect(router, &ReceiveRouter::valueFound, chartEngine, &ChartEngine::addValue);
    connect(chartEngine, &ChartEngine::notice, comm, &CommunicationBase::logSystem);
    connect(router, &ReceiveRouter::recordedValueFound, chartEngine,
            &ChartEngine::addRecordedValue);
    return p;
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
    connect(logView, &LogViewWidget::resendRequested, sender, [this](const LogEntry& entry) {
        sender->resend(entry.rawData(), entry.frameKind(), selectedClient());
    });
    if (chartEngine) {
        const int chartTab =
            tabWidget->addTab(chartEngine->chartView(), QStringLiteral("数据图表"));
        // The chart tab is there while "启用图表" is on.
        tabWidget->setTabVisible(chartTab, chartEngine->enableCheckBox()->isChecked());
        connect(chartEngine->enableCheckBox(), &QCheckBox::toggled, this, [this](bool on) {
            tabWidget->setTabVisible(tabWidget->indexOf(chartEngine->chartView()), on);
        });
    }
    quickSendPanel = new QuickSendPanel(area);
    quickSendPanel->setObjectName(QStringLiteral("quickSendPanel"));
    auto* besideLog = new QuickSendSplitter(tabWidget, quickSendPanel, area);
    tabWidget->setCornerWidget(besideLog->toggleButton(), Qt::TopRightCorner);
    connect(
        quickSendPanel, &QuickSendPanel::sendRequested, this,
        [this](const SendBoxContent& content) { sender->send(content, selectedClient(), true); });
    connect(quickSendPanel, &QuickSendPanel::saveFromSendBoxRequested, this,
            [this] { quickSendPanel->addMessage(sendBoxContent()); });
    connect(quickSendPanel, &QuickSendPanel::notice, comm, &CommunicationBase::logSystem);
    autoReplyPanel = new AutoReplyPanel(m_connection, comm, tabWidget);
    autoReplyPanel->setObjectName(QStringLiteral("autoReplyPanel"));
    tabWidget->addTab(autoReplyPanel, QStringLiteral("自动回复"));
    layout->addWidget(besideLog, 1);
    layout->addWidget(createSendArea(), 0);
    SessionBar::Parts parts{comm, m_connection, logView, sendArea};
    parts.clientMode = [this] {
        return settingsPanel->clientRadio()->isChecked();
    };
    parts.target = [this] {
        return selectedClient();
    };
    parts.opened = [this](const LogEntry& entry) {
        router->routeRecorded(entry);
    };
    layout->insertWidget(1, new SessionBar(parts, area));
    return area;
}

QGroupBox* WebSocketWidget::createSendArea()
{
    sendArea = new SendArea(this);
    connect(sendArea, &SendArea::sendRequested, this, &WebSocketWidget::sendData);
    connect(sendArea, &SendArea::historyRequested, this, &WebSocketWidget::recallHistory);
    connect(sendArea->autoSendCheck(), &QCheckBox::toggled, autoSend, &AutoSendPolicy::setArmed);
    connect(sendArea->intervalSpin(), &QSpinBox::valueChanged, autoSend,
            &AutoSendPolicy::setInterval);
    connect(sendArea->templateCheck(), &QCheckBox::toggled, sender, &SendController::setTemplates);
    return sendArea;
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
        setRuntimeText(connectButton, settingsPanel->clientRadio()->isChecked()
                                          ? QStringLiteral("连接")
                                          : QStringLiteral("监听"));
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
    else if (!settingsPanel->clientRadio()->isChecked())
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
    autoSend->setLinkUp(false);
    m_connection->closeAll();
}

void WebSocketWidget::onConnectionStateChanged(ConnectionManager::State state)
{
    if (state == ConnectionManager::Connected)
        rememberConnectedAddress();
    pingButton->setEnabled(state == ConnectionManager::Connected);
    if (state != ConnectionManager::Listening)
        settingsPanel->clearClients();
    updateConnectButton();
    updateStatusLabel();
    autoSend->setLinkUp(m_connection->isActive());
}

void WebSocketWidget::onClientConnected(ConnectionManager::ClientId id, const QString& text)
{
    settingsPanel->addClient(id, text);
}

void WebSocketWidget::onClientDisconnected(ConnectionManager::ClientId id, const QString&)
{
    settingsPanel->removeClient(id);
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
    const QString problem = m_connection->clientAddressProblem(urlEdit->text().trimmed());
    if (urlEdit->property("invalid").toBool() != !problem.isEmpty()) {
        urlEdit->setProperty("invalid", !problem.isEmpty());
        urlEdit->style()->unpolish(urlEdit);
        urlEdit->style()->polish(urlEdit);
    }
    // The field cuts a long address: the tooltip has it whole, secrets masked.
    // A wrong one is told by its problem (what does not parse may hide a password).
    QStringList lines;
    if (!problem.isEmpty())
        lines.append(LanguageManager::translate(problem));
    else
        lines.append(SecretMask::address(urlEdit->text().trimmed()));
    lines += AddressOptions::differenceLines(m_connection->clientOptions());
    urlEdit->setToolTip(lines.join(QLatin1Char('\n')));
}

ConnectionManager::ClientId WebSocketWidget::selectedClient() const
{
    return settingsPanel->selectedClient();
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

void WebSocketWidget::sendFromBox(bool byUser)
{
    sender->sendFromBox(sendBoxContent(), selectedClient(), byUser);
}

void WebSocketWidget::onTextMessageReceived(const QString& message, const QString& peer)
{
    router->routeText(message, peer);
}

void WebSocketWidget::onBinaryMessageReceived(const QByteArray& message, const QString& peer)
{
    router->routeBinary(message, peer);
}

// --------------------------------------------- send history, recent addresses

SendBoxContent WebSocketWidget::sendBoxContent() const
{
    return sendArea->content();
}

void WebSocketWidget::recallHistory(bool older)
{
    const std::optional<SendBoxContent> recalled =
        older ? sender->history().older(sendBoxContent()) : sender->history().newer();
    if (recalled)
        sendArea->showContent(*recalled);
}

void WebSocketWidget::rememberConnectedAddress()
{
    if (pendingAddress.isEmpty())
        return;
    recentAddresses.add(pendingAddress);
    settingsPanel->setRecentAddresses(recentAddresses.addresses());
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
        m_binder->apply(WindowSettings::read(file, &rejected), &rejected);
    }
    // The caption names the restored mode's action from the start.
    if (!settingsPanel->clientRadio()->isChecked())
        updateConnectButton();
    if (!rejected.isEmpty()) {
        rejected.replaceInStrings(QStringLiteral("file"), QStringLiteral("文件格式"));
        comm->logSystem(QStringLiteral("设置文件中有无法使用的内容，以下设置已恢复默认值: %1 (%2)")
                            .arg(rejected.join(QStringLiteral(", ")), path));
    }

    autoReplyPanel->useFile(QFileInfo(path).dir().filePath(QStringLiteral("auto-reply.json")));
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
    m_binder->watch();
    connect(m_binder, &SettingsBinder::changed, this, &WebSocketWidget::scheduleSettingsSave);
}

WindowSettings WebSocketWidget::settings() const
{
    return m_binder->read();
}

void WebSocketWidget::scheduleSettingsSave()
{
    if (m_settingsStore)
        m_settingsStore->scheduleSave();
}

#include "session/SessionBar.h"

#include "comm/CommunicationBase.h"
#include "comm/ExportDialogs.h"
#include "comm/LogViewWidget.h"
#include "i18n/LanguageManager.h"
#include "reply/ReplyHost.h"
#include "session/HarFile.h"
#include "session/ReplayRunner.h"
#include "websocket/RequestHeaders.h"
#include "websocket/SecretMask.h"
#include "websocket/SendArea.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QWebSocket>

SessionBar::ChooseHook SessionBar::chooseConnection = [](QWidget* parent,
                                                         const QStringList& items) {
    bool ok = false;
    const QString item =
        QInputDialog::getItem(parent, QStringLiteral("选择连接"),
                              QStringLiteral("文件中有多个 WebSocket 连接:"), items, 0, false, &ok);
    return ok ? int(items.indexOf(item)) : -1;
};

namespace {

const QString harFilter = QStringLiteral("HAR 文件 (*.har);;所有文件 (*)");

QPushButton* barButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFixedHeight(24);
    return button;
}

struct Speed
{
    const char* label;
    double factor;
};
constexpr Speed speeds[] = {{"0.5×", 0.5}, {"1×", 1}, {"2×", 2}, {"10×", 10}, {"最快", 0}};

} // namespace

SessionBar::SessionBar(const Parts& parts, QWidget* parent)
    : QWidget(parent)
    , m_parts(parts)
    , m_runner(new ReplayRunner(parts.connection, this))
    , m_host(new ReplyHost(parts.connection, this))
{
    setObjectName(QStringLiteral("sessionBar"));
    m_saveButton =
        barButton(QStringLiteral("保存会话…"), QStringLiteral("saveSessionButton"), parts.logView);
    m_openButton =
        barButton(QStringLiteral("打开会话…"), QStringLiteral("openSessionButton"), parts.logView);
    parts.logView->addBarButton(m_saveButton);
    parts.logView->addBarButton(m_openButton);
    m_sendFileButton = new QPushButton(QStringLiteral("发送文件…"), parts.sendArea);
    m_sendFileButton->setObjectName(QStringLiteral("sendFileButton"));
    parts.sendArea->addRowWidget(m_sendFileButton);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_sessionLabel = new QLabel(QStringLiteral("未打开会话"), this);
    m_sessionLabel->setObjectName(QStringLiteral("sessionLabel"));
    m_replayButton = new QPushButton(QStringLiteral("回放"), this);
    m_replayButton->setObjectName(QStringLiteral("replayButton"));
    m_speedCombo = new QComboBox(this);
    m_speedCombo->setObjectName(QStringLiteral("replaySpeedCombo"));
    for (const Speed& speed : speeds)
        m_speedCombo->addItem(QString::fromUtf8(speed.label), speed.factor);
    m_speedCombo->setCurrentIndex(1);
    m_lockstepCheck = new QCheckBox(QStringLiteral("等待回复"), this);
    m_lockstepCheck->setObjectName(QStringLiteral("replayLockstepCheck"));
    m_lockstepCheck->setToolTip(QStringLiteral("每条发送前等到录制中在它之前收到的回复都已收到"));
    m_compareCheck = new QCheckBox(QStringLiteral("比较回复"), this);
    m_compareCheck->setObjectName(QStringLiteral("compareRepliesCheck"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("replayProgress"));
    LanguageManager::addListener(this, [this] {
        m_progress->setFormat(LanguageManager::translate(QStringLiteral("回放 %v / %m")));
    });
    m_progress->setFormat(LanguageManager::translate(QStringLiteral("回放 %v / %m")));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setMaximumHeight(20);
    m_pauseButton = new QPushButton(QStringLiteral("暂停"), this);
    m_pauseButton->setObjectName(QStringLiteral("replayPauseButton"));
    m_stopButton = new QPushButton(QStringLiteral("停止"), this);
    m_stopButton->setObjectName(QStringLiteral("replayStopButton"));
    m_mockCheck = new QCheckBox(QStringLiteral("作为模拟服务器"), this);
    m_mockCheck->setObjectName(QStringLiteral("mockServerCheck"));
    m_mockCheck->setToolTip(QStringLiteral("监听时把打开的会话中服务器一方发给每个连接的客户端"));
    for (QWidget* widget : std::initializer_list<QWidget*>{
             m_sessionLabel, m_replayButton, m_speedCombo, m_lockstepCheck, m_compareCheck,
             m_progress, m_pauseButton, m_stopButton, m_mockCheck})
        row->addWidget(widget, widget == m_progress ? 1 : 0);

    connect(m_saveButton, &QPushButton::clicked, this, &SessionBar::save);
    connect(m_openButton, &QPushButton::clicked, this, &SessionBar::open);
    connect(m_sendFileButton, &QPushButton::clicked, this, &SessionBar::chooseFileToSend);
    connect(m_replayButton, &QPushButton::clicked, this, &SessionBar::startReplay);
    connect(m_pauseButton, &QPushButton::clicked, this, &SessionBar::togglePause);
    connect(m_stopButton, &QPushButton::clicked, m_runner, &ReplayRunner::stop);
    connect(m_lockstepCheck, &QCheckBox::toggled, m_speedCombo, &QWidget::setDisabled);
    connect(m_mockCheck, &QCheckBox::toggled, this, [this](bool on) {
        Q_UNUSED(on);
        updateMock();
        updateControls();
    });

    connect(m_runner, &ReplayRunner::progress, this, [this](int sent, int total) {
        m_progress->setRange(0, std::max(1, total));
        m_progress->setValue(sent);
    });
    connect(m_runner, &ReplayRunner::frameSent, this, &SessionBar::logSent);
    connect(m_runner, &ReplayRunner::notice, parts.log, &CommunicationBase::logSystem);
    connect(m_runner, &ReplayRunner::finished, this, &SessionBar::updateControls);
    useReplyHost(m_host);

    connect(parts.log, &CommunicationBase::logEntryAdded, this,
            [this](const LogEntry& entry) { m_lastSerial = entry.serial(); });
    connect(parts.log, &CommunicationBase::logCleared, this, [this] {
        m_clients.removeIf([](const SessionCapture::ClientSpan& client) { return client.left; });
        for (SessionCapture::ClientSpan& client : m_clients)
            client.joined = 0;
    });
    connect(parts.connection, &ConnectionManager::stateChanged, this,
            [this](ConnectionManager::State state) {
                if (state == ConnectionManager::Connected)
                    rememberClientAddress();
                updateMock();
                updateControls();
            });
    connect(parts.connection, &ConnectionManager::clientJoined, this,
            [this](ConnectionManager::ClientId id, const QString& text) {
                QWebSocket* socket = m_parts.connection->serverClientSocket(id);
                const QString url = socket ? socket->requestUrl().toString() : QString();
                // Its own entry ("客户端已连接") follows, and belongs to it.
                m_clients.append({text, SecretMask::address(url), m_lastSerial + 1, 0});
            });
    connect(parts.connection, &ConnectionManager::clientLeft, this,
            [this](ConnectionManager::ClientId, const QString& text) {
                for (SessionCapture::ClientSpan& client : m_clients) {
                    if (client.peer == text && client.left == 0)
                        client.left = m_lastSerial + 1;
                }
            });
    updateControls();
}

void SessionBar::useReplyHost(ReplyHost* host)
{
    if (m_host != host) {
        m_host->chain().remove(&m_responder);
        m_host->disconnect(this);
        if (m_host->parent() == this)
            m_host->deleteLater();
        m_host = host;
    }
    connect(m_host, &ReplyHost::replySent, this, [this](const ReplyHost::Sent& sent) {
        logSent(sent.data, sent.kind, sent.recipients);
    });
    connect(m_host, &ReplyHost::notice, m_parts.log, &CommunicationBase::logSystem);
    updateMock();
}

void SessionBar::updateMock()
{
    // Only a server has clients to answer.
    const bool on = m_opened && m_mockCheck->isChecked() && !m_parts.clientMode();
    const bool in = m_host->chain().links().contains(&m_responder);
    if (on && !in)
        m_host->chain().insert(0, &m_responder);
    else if (!on && in)
        m_host->chain().remove(&m_responder);
    // A host of its own runs only for the recording.
    if (m_host->parent() == this)
        m_host->setEnabled(on);
}

void SessionBar::updateControls()
{
    const bool running = m_runner->isRunning();
    const bool connected = m_parts.connection->state() == ConnectionManager::Connected;
    m_replayButton->setEnabled(m_opened && connected && !running);
    m_pauseButton->setEnabled(running);
    m_stopButton->setEnabled(running);
    m_pauseButton->setText(m_runner->isPaused() ? QStringLiteral("继续") : QStringLiteral("暂停"));
    m_mockCheck->setEnabled(m_opened);
}

void SessionBar::rememberClientAddress()
{
    QWebSocket* socket = m_parts.connection->clientModeSocket();
    if (!socket)
        return;
    const QUrl url = socket->requestUrl();
    m_clientUrl = SecretMask::address(url.toString());
    const ClientOptions& options = m_parts.connection->clientOptions();
    QList<HarConnection::Header> headers{
        {QStringLiteral("Host"),
         url.port() > 0 ? url.host() + QLatin1Char(':') + QString::number(url.port()) : url.host()},
        {QStringLiteral("Upgrade"), QStringLiteral("websocket")},
        {QStringLiteral("Connection"), QStringLiteral("Upgrade")},
        {QStringLiteral("Sec-WebSocket-Version"), QStringLiteral("13")}};
    if (!options.origin.isEmpty())
        headers.append({QStringLiteral("Origin"), options.origin});
    if (!options.subprotocols.isEmpty())
        headers.append({QStringLiteral("Sec-WebSocket-Protocol"),
                        options.subprotocols.join(QStringLiteral(", "))});
    for (const RequestHeaders::Header& header : RequestHeaders::parse(options.headers).headers) {
        const QString name = QString::fromLatin1(header.first);
        headers.append({name, SecretMask::isSecretName(name) ? SecretMask::mask()
                                                             : QString::fromUtf8(header.second)});
    }
    m_clientHeaders = headers;
}

QList<HarConnection> SessionBar::recordedConnections() const
{
    const QList<LogEntry> entries = m_parts.log->entries();
    if (m_parts.clientMode())
        return {SessionCapture::clientConnection(entries, m_clientUrl, m_clientHeaders)};
    return SessionCapture::serverConnections(entries, m_clients);
}

bool SessionBar::saveFile(const QString& path)
{
    const QList<HarConnection> connections = recordedConnections();
    QString error;
    if (HarFile::write(path, connections, &error))
        return true;
    ExportDialogs::warning(this, QStringLiteral("保存会话失败"),
                           QStringLiteral("无法写入 %1: %2").arg(path, error));
    return false;
}

void SessionBar::save()
{
    QString filter;
    QString path = ExportDialogs::getSaveFileName(
        this, QStringLiteral("保存会话"), QStringLiteral("session.har"), harFilter, &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".har");
    if (saveFile(path))
        m_parts.log->logSystem(QStringLiteral("会话已保存: %1").arg(path));
}

bool SessionBar::openFile(const QString& path)
{
    const HarFile::ReadResult read = HarFile::read(path);
    if (!read.ok()) {
        ExportDialogs::warning(
            this, QStringLiteral("无法打开会话"),
            QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), read.error));
        return false;
    }
    int chosen = 0;
    if (read.connections.size() > 1) {
        QStringList items;
        for (const HarConnection& connection : read.connections)
            items.append(QStringLiteral("%1 — %2 条消息 — %3")
                             .arg(SecretMask::address(connection.url))
                             .arg(connection.messages.size())
                             .arg(QLocale::c().toString(connection.started.toLocalTime(),
                                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        chosen = chooseConnection(this, items);
        if (chosen < 0 || chosen >= read.connections.size())
            return false;
    }
    const HarConnection& connection = read.connections[chosen];
    for (const LogEntry& entry : SessionCapture::logEntries(connection, m_parts.log->encoding())) {
        m_parts.log->addEntry(entry);
        m_parts.opened(entry);
    }
    m_parts.log->logSystem(QStringLiteral("已打开会话 %1: %2，%3 条消息")
                               .arg(QFileInfo(path).fileName(), SecretMask::address(connection.url))
                               .arg(connection.messages.size()));
    m_exchange = RecordedExchange(connection);
    m_opened = true;
    m_sessionLabel->setText(QFileInfo(path).fileName());
    m_sessionLabel->setToolTip(SecretMask::address(connection.url));
    m_responder.setRecording(m_exchange, false);
    updateMock();
    updateControls();
    return true;
}

void SessionBar::open()
{
    const QString path =
        ExportDialogs::getOpenFileName(this, QStringLiteral("打开会话"), QString(), harFilter);
    if (!path.isEmpty())
        openFile(path);
}

void SessionBar::startReplay()
{
    ReplayRunner::Options options;
    options.speed = m_speedCombo->currentData().toDouble();
    options.lockstep = m_lockstepCheck->isChecked();
    options.compare = m_compareCheck->isChecked();
    if (!m_runner->start(m_exchange, options))
        m_parts.log->logSystem(QStringLiteral("未回放：未连接"));
    updateControls();
}

void SessionBar::togglePause()
{
    if (m_runner->isPaused())
        m_runner->resume();
    else
        m_runner->pause();
    updateControls();
}

void SessionBar::logSent(const QByteArray& data, LogEntry::FrameKind kind,
                         const QString& recipients)
{
    m_parts.log->logFrame(LogEntry::TX, data, kind, recipients);
}

bool SessionBar::sendFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_parts.log->logSystem(
            QStringLiteral("未发送：无法打开文件 %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.size() > maxFileFrameBytes) {
        m_parts.log->logSystem(QStringLiteral("未发送：文件太大 (%1 MiB，最多 32 MiB)")
                                   .arg(file.size() / (1024 * 1024)));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        m_parts.log->logSystem(
            QStringLiteral("未发送：无法读取文件 %1: %2").arg(path, file.errorString()));
        return false;
    }
    LogEntry::FrameKind kind = LogEntry::FrameKind::Binary;
    if (m_parts.sendArea->textRadio()->isChecked()) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        (void)QString(utf8(bytes));
        if (!utf8.hasError())
            kind = LogEntry::FrameKind::Text;
        else
            m_parts.log->logSystem(
                QStringLiteral("文件不是 UTF-8 文本，作为二进制帧发送: %1").arg(path));
    }
    const ConnectionManager::SendResult result =
        m_parts.connection->send(bytes, kind, m_parts.target());
    switch (result.status) {
    case ConnectionManager::SendStatus::Sent:
        logSent(bytes, kind, result.recipients);
        return true;
    case ConnectionManager::SendStatus::NoClients:
        m_parts.log->logSystem(QStringLiteral("未发送：没有已连接的客户端"));
        break;
    case ConnectionManager::SendStatus::Failed:
        m_parts.log->logSystem(QStringLiteral("未发送：连接未接收数据"));
        break;
    default:
        m_parts.log->logSystem(QStringLiteral("未发送：未连接"));
        break;
    }
    return false;
}

void SessionBar::chooseFileToSend()
{
    const QString path = ExportDialogs::getOpenFileName(this, QStringLiteral("发送文件"), QString(),
                                                        QStringLiteral("所有文件 (*)"));
    if (!path.isEmpty())
        sendFile(path);
}

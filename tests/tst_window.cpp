#include "LoopbackOnly.h"

#include "WindowControls.h"
#include "chart/AnalysisDialog.h"
#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/CommunicationBase.h"
#include "i18n/LanguageManager.h"
#include "websocket/SettingsPanel.h"
#include "websocket/WebSocketWidget.h"

#include <QAbstractItemView>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <memory>

// Records what the desktop would have opened.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shouldBuildEveryControlWithItsDefaults();
    void shouldKeepHeaderAndSettingsColumnSizes();
    void shouldSwitchSettingsWithModeButKeepCaption();
    void shouldPresentListeningAndIdleStates();
    void shouldKeepRunningServerWhenModeChanges();
    void shouldCancelPendingClientBeforeServerStarts();
    void shouldShowChartTabOnlyWhileEnabled();
    void shouldRestoreEveryWalkedTextAfterEnglishAndBack();
    void shouldKeepRuntimeTextsCurrentAcrossLanguageSwitches();
    void shouldPassSettingsToLogAndView();
    void shouldPlotOneValuePerLineOfReceivedFrame();
    void shouldRefuseAMistypedAddressWithOneClearWord();
    void shouldShowTheBeginningOfTheAddressWhenNotEditing();
    void shouldOpenDocumentationPage();
    void shouldLogDisconnectedWhenDestroyedIdle();
    void shouldKeepTheLogAtTheBottomAcrossModeSwitchAndResize();
    void shouldOfferValuesOfRecentReceivedEntriesForAnalysis();
    void shouldListEveryLanguageBelowTheSelector();
    void shouldWidenTheRecentAddressPopupWithinTheScreen();
    void shouldKeepTheWidenedSettingsColumnWithoutGapsAcrossStarts();
    void shouldSayInTheLogWhenNoBrowserOpensTheDocumentation();

private:
    static quint16 freePort();
    static QStringList sysMessages(const WebSocketWidget& window);
    static QString statusText(const WebSocketWidget& window);
    static void chooseLanguage(WebSocketWidget& window, bool english);
};

void WindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    keepNetworkOnLoopback();
}

void WindowTest::cleanup()
{
    LanguageManager::setEnglish(false);
}

quint16 WindowTest::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, 0))
        return 0;
    return probe.serverPort();
}

QStringList WindowTest::sysMessages(const WebSocketWidget& window)
{
    QStringList out;
    const auto entries = window.findChild<CommunicationBase*>()->entries();
    for (const LogEntry& entry : entries) {
        if (entry.direction() == LogEntry::SYS)
            out.append(entry.text());
    }
    return out;
}

QString WindowTest::statusText(const WebSocketWidget& window)
{
    return window.findChild<QLabel*>(QStringLiteral("connStatus"))->text();
}

void WindowTest::chooseLanguage(WebSocketWidget& window, bool english)
{
    WindowControls(&window).languageCombo->setCurrentIndex(english ? 1 : 0);
    QCOMPARE(LanguageManager::isEnglish(), english);
}

void WindowTest::shouldBuildEveryControlWithItsDefaults()
{
    WebSocketWidget window;
    WindowControls c(&window);

    QCOMPARE(window.windowTitle(), QStringLiteral("WebSocket调试助手"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.minimumSize(), QSize(900, 600));
    QCOMPARE(window.size(), QSize(1120, 760));

    QVERIFY(c.clientRadio->isChecked());
    QCOMPARE(c.clientRadio->text(), QStringLiteral("WebSocket 客户端"));
    QCOMPARE(c.serverRadio->text(), QStringLiteral("WebSocket 服务端"));
    QCOMPARE(c.urlEdit->text(), QStringLiteral("ws://127.0.0.1:8080/ws"));
    QCOMPARE(c.pathEdit->text(), QStringLiteral("/ws"));

    QStringList encodings;
    for (int i = 0; i < c.encodingCombo->count(); ++i)
        encodings << c.encodingCombo->itemText(i);
    QCOMPARE(encodings,
             QStringList({QStringLiteral("UTF-8"), QStringLiteral("ASCII"), QStringLiteral("GBK"),
                          QStringLiteral("GB2312"), QStringLiteral("Unicode")}));
    QCOMPARE(c.encodingCombo->currentText(), QStringLiteral("UTF-8"));

    QCOMPARE(c.connectButton->text(), QStringLiteral("连接"));
    QCOMPARE(c.connectButton->objectName(), QStringLiteral("accentButton"));
    QCOMPARE(c.connectButton->height(), 36);
    QCOMPARE(c.disconnectClientButton->text(), QStringLiteral("断开选中客户端"));
    QCOMPARE(c.disconnectClientButton->objectName(), QStringLiteral("dangerButton"));

    QVERIFY(!c.hexDisplayCheck->isChecked());
    QVERIFY(c.timestampCheck->isChecked());
    QVERIFY(c.autoScrollCheck->isChecked());
    QCOMPARE(c.sendEdit->placeholderText(), QStringLiteral("输入要发送的数据..."));
    QCOMPARE(c.sendEdit->height(), 70);
    QVERIFY(!c.hexSendCheck->isChecked());
    QVERIFY(c.textRadio->isChecked());
    QVERIFY(!c.binaryRadio->isChecked());
    QVERIFY(c.enterSendCheck->isChecked());
    QCOMPARE(c.sendButton->text(), QStringLiteral("刷新"));
    QCOMPARE(c.sendButton->objectName(), QStringLiteral("accentButton"));
    QCOMPARE(c.sendButton->size(), QSize(120, 32));
    QVERIFY(!c.autoSendCheck->isChecked());
    struct Spin
    {
        QSpinBox* box;
        int value, min, max;
        const char* suffix;
    };
    for (const Spin& s :
         {Spin{c.portSpin, 8080, 1, 65535, ""}, Spin{c.lineSpacingSpin, 0, -10, 10, " px"},
          Spin{c.fontSizeSpin, 11, 7, 16, " pt"}, Spin{c.intervalSpin, 1000, 10, 60000, " ms"}}) {
        QCOMPARE(s.box->value(), s.value);
        QCOMPARE(s.box->minimum(), s.min);
        QCOMPARE(s.box->maximum(), s.max);
        QCOMPARE(s.box->suffix(), QString::fromLatin1(s.suffix));
    }
    QCOMPARE(c.intervalSpin->singleStep(), 100);

    QCOMPARE(c.tabWidget->count(), 3);
    QCOMPARE(c.tabWidget->tabText(0), QStringLiteral("通信日志"));
    QCOMPARE(c.tabWidget->tabText(1), QStringLiteral("数据图表"));
    QCOMPARE(c.tabWidget->widget(1), c.chartEngine->chartView());
    QCOMPARE(c.tabWidget->tabText(2), QStringLiteral("自动回复"));
    // Quick send is no tab that would hide the log: a closed panel beside it.
    QCOMPARE(c.tabWidget->cornerWidget(), c.find<QPushButton>("quickSendToggle"));
    QCOMPARE(c.find<QPushButton>("quickSendToggle")->text(), QStringLiteral("快捷发送"));
    QVERIFY(c.find<QWidget>("quickSendPanel")->isHidden());
    // Braces typed into the box stay literal unless asked otherwise.
    QVERIFY(!c.find<QCheckBox>("templateCheck")->isChecked());
    QVERIFY(!c.find<QCheckBox>("autoReplyEnabled")->isChecked());
    QVERIFY(!c.find<QCheckBox>("rememberSecretsCheck")->isChecked());

    QStringList groups;
    const auto boxes = window.findChildren<QGroupBox*>();
    for (const QGroupBox* box : boxes)
        groups << box->title();
    for (const char* title :
         {"模式选择", "连接设置", "已连接客户端", "显示设置", "数据可视化", "发送区"})
        QVERIFY2(groups.contains(QString::fromUtf8(title)), title);

    QCOMPARE(statusText(window), QStringLiteral("◆未连接"));
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("adBanner")));
    QCOMPARE(c.languageCombo->currentIndex(), 0);
    QVERIFY(!c.isConnected());
    QVERIFY(!c.serverRadio->isChecked());
    QVERIFY(!c.autoSendTimer->isActive());
    // Nothing is logged while the window is built.
    QVERIFY(c.comm->entries().isEmpty());
}

void WindowTest::shouldKeepHeaderAndSettingsColumnSizes()
{
    WebSocketWidget window;
    WindowControls c(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* header = window.findChild<QFrame*>(QStringLiteral("headerBar"));
    QVERIFY(header);
    QCOMPARE(header->height(), 52);
    QCOMPARE(c.settingsScroll->width(), 260);
    QCOMPARE(c.settingsScroll->widget()->width(), 254);
    QCOMPARE(c.settingsScroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // The column keeps its width; the tabs take what the window gains.
    const int tabsBefore = c.tabWidget->width();
    window.resize(1400, 800);
    QTRY_COMPARE(window.width(), 1400);
    QTRY_COMPARE(c.tabWidget->width(), tabsBefore + 280);
    QCOMPARE(c.settingsScroll->width(), 260);
    QCOMPARE(header->height(), 52);

    window.resize(500, 300);
    QTRY_COMPARE(window.size(), QSize(900, 600));
}

void WindowTest::shouldSwitchSettingsWithModeButKeepCaption()
{
    WebSocketWidget window;
    WindowControls c(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(c.clientBox->isVisible());
    QVERIFY(!c.serverBox->isVisible());
    QVERIFY(!c.clientsGroup->isVisible());

    c.serverRadio->click();
    QVERIFY(c.serverRadio->isChecked());
    QVERIFY(!c.clientRadio->isChecked());
    QVERIFY(!c.clientBox->isVisible());
    QVERIFY(c.serverBox->isVisible());
    QVERIFY(c.clientsGroup->isVisible());
    QCOMPARE(c.clientList->count(), 0);
    // The caption names the next action only after a state change.
    QCOMPARE(c.connectButton->text(), QStringLiteral("连接"));
    // The panel follows the shown groups.
    QCOMPARE(c.settingsScroll->widget()->height(), c.settingsScroll->widget()->sizeHint().height());

    c.clientRadio->click();
    QVERIFY(!c.serverRadio->isChecked());
    QVERIFY(c.clientBox->isVisible());
    QVERIFY(!c.serverBox->isVisible());
    QVERIFY(!c.clientsGroup->isVisible());
}

void WindowTest::shouldPresentListeningAndIdleStates()
{
    WebSocketWidget window;
    WindowControls c(&window);
    const quint16 port = freePort();
    QVERIFY(port != 0);
    c.serverRadio->click();
    c.portSpin->setValue(port);

    c.connectButton->click();
    QVERIFY(c.isConnected());
    QCOMPARE(c.connection->state(), ConnectionManager::Listening);
    QCOMPARE(c.connectButton->text(), QStringLiteral("断开"));
    QVERIFY(c.connectButton->styleSheet().contains(QStringLiteral("#EF4444")));
    QCOMPARE(c.connectButton->height(), 36);
    QCOMPARE(statusText(window), QStringLiteral("🟢 已连接"));
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("connStatus"))
                ->styleSheet()
                .contains(QStringLiteral("#10B981")));
    QCOMPARE(sysMessages(window).constLast(),
             QStringLiteral("WebSocket服务器已启动，端口 %1，路径 /ws").arg(port));

    c.connectButton->click();
    QVERIFY(!c.isConnected());
    QCOMPARE(c.connection->state(), ConnectionManager::Idle);
    QCOMPARE(c.connectButton->text(), QStringLiteral("监听"));
    QCOMPARE(c.connectButton->objectName(), QStringLiteral("accentButton"));
    QVERIFY(c.connectButton->styleSheet().isEmpty());
    QCOMPARE(statusText(window), QStringLiteral("⚫未连接"));
    QCOMPARE(sysMessages(window).constLast(), QStringLiteral("已断开"));

    // The port is free again once the server stopped.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::Any, port));
}

void WindowTest::shouldKeepRunningServerWhenModeChanges()
{
    WebSocketWidget window;
    WindowControls c(&window);
    const quint16 port = freePort();
    c.serverRadio->click();
    c.portSpin->setValue(port);
    c.connectButton->click();
    QVERIFY(c.isConnected());

    c.clientRadio->click();
    QVERIFY(c.connection->state() == ConnectionManager::Listening);
    QCOMPARE(c.connectButton->text(), QStringLiteral("断开"));
    QVERIFY(c.clientRadio->isEnabled());

    // "断开" stops the server whatever mode is selected, then names the
    // action of the mode selected now.
    c.connectButton->click();
    QCOMPARE(c.connection->state(), ConnectionManager::Idle);
    QCOMPARE(c.connectButton->text(), QStringLiteral("连接"));
}

void WindowTest::shouldCancelPendingClientBeforeServerStarts()
{
    // A peer that accepts TCP but never answers the handshake keeps the
    // attempt pending.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    WebSocketWidget window;
    WindowControls c(&window);
    c.urlEdit->setText(QStringLiteral("ws://127.0.0.1:%1/").arg(silent.serverPort()));
    c.connectButton->click();
    QVERIFY(c.connection->clientModeSocket());
    QTRY_VERIFY(silent.hasPendingConnections());
    QTcpSocket* accepted = silent.nextPendingConnection();
    QSignalSpy peerGone(accepted, &QTcpSocket::disconnected);

    // The pending attempt shows as such in either mode; the click cancels it
    // and the next one listens.
    c.serverRadio->click();
    c.portSpin->setValue(freePort());
    QCOMPARE(c.connectButton->text(), QStringLiteral("取消"));
    c.connectButton->click();
    QCOMPARE(c.connection->state(), ConnectionManager::Idle);
    QVERIFY(peerGone.wait(5000));
    c.connectButton->click();
    QCOMPARE(c.connection->state(), ConnectionManager::Listening);
    QVERIFY(!c.connection->clientModeSocket());
    QTRY_COMPARE(window.findChildren<QWebSocket*>().size(), 0);
    QVERIFY(c.isConnected());
    QCOMPARE(c.connectButton->text(), QStringLiteral("断开"));
}

void WindowTest::shouldShowChartTabOnlyWhileEnabled()
{
    WebSocketWidget window;
    WindowControls c(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QChartView* view = c.chartEngine->chartView();
    QVERIFY(!c.tabWidget->isTabVisible(1));

    c.chartEngine->enableCheckBox()->setChecked(true);
    QVERIFY(c.tabWidget->isTabVisible(1));
    // The log tab stays in front; the chart does not cover it.
    QCOMPARE(c.tabWidget->currentIndex(), 0);
    QVERIFY(!view->isVisible());
    c.tabWidget->setCurrentIndex(1);
    QVERIFY(view->isVisible());

    c.chartEngine->enableCheckBox()->setChecked(false);
    QVERIFY(!c.tabWidget->isTabVisible(1));
    QVERIFY(!view->isVisible());
}

void WindowTest::shouldRestoreEveryWalkedTextAfterEnglishAndBack()
{
    WebSocketWidget window;
    WindowControls c(&window);

    auto snapshot = [&window, &c] {
        QStringList texts;
        for (const QLabel* w : window.findChildren<QLabel*>())
            texts << w->text();
        for (const QAbstractButton* w : window.findChildren<QAbstractButton*>())
            texts << w->text();
        for (const QGroupBox* w : window.findChildren<QGroupBox*>())
            texts << w->title();
        for (int i = 0; i < c.tabWidget->count(); ++i)
            texts << c.tabWidget->tabText(i);
        for (const QLineEdit* w : window.findChildren<QLineEdit*>())
            texts << w->placeholderText();
        texts << c.sendEdit->placeholderText() << window.windowTitle();
        for (const QComboBox* w : window.findChildren<QComboBox*>()) {
            for (int i = 0; i < w->count(); ++i)
                texts << w->itemText(i);
        }
        return texts;
    };

    const QStringList chinese = snapshot();
    chooseLanguage(window, true);

    QCOMPARE(window.windowTitle(), QStringLiteral("WebSocket Debug Tool"));
    QCOMPARE(c.connectButton->text(), QStringLiteral("Connect"));
    QCOMPARE(c.sendButton->text(), QStringLiteral("Refresh"));
    QCOMPARE(c.clientRadio->text(), QStringLiteral("WebSocket Client"));
    QCOMPARE(c.tabWidget->tabText(0), QStringLiteral("Log"));
    QCOMPARE(c.tabWidget->tabText(1), QStringLiteral("Chart"));
    QCOMPARE(c.sendEdit->placeholderText(), QStringLiteral("Enter data to send..."));
    QCOMPARE(c.chartEngine->enableCheckBox()->text(), QStringLiteral("Enable Chart"));
    // Glyph-only labels and texts without an entry stay as they are.
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("headerIcon"))->text(), QStringLiteral("◆"));
    QCOMPARE(statusText(window), QStringLiteral("◆未连接"));
    QCOMPARE(c.disconnectClientButton->text(), QStringLiteral("Disconnect Selected"));
    QVERIFY(snapshot() != chinese);

    chooseLanguage(window, false);
    QCOMPARE(snapshot(), chinese);
}

void WindowTest::shouldKeepRuntimeTextsCurrentAcrossLanguageSwitches()
{
    WebSocketWidget window;
    WindowControls c(&window);
    const quint16 port = freePort();
    c.serverRadio->click();
    c.portSpin->setValue(port);

    // A walk to English saves "连接" as the button's Chinese text...
    chooseLanguage(window, true);
    QCOMPARE(c.connectButton->text(), QStringLiteral("Connect"));

    // ...then the program changes the caption while English is active.
    c.connectButton->click();
    QVERIFY(c.isConnected());
    QCOMPARE(c.connectButton->text(), QStringLiteral("Disconnect"));
    QCOMPARE(statusText(window), QStringLiteral("🟢 Connected"));

    // Back in Chinese the window must describe the state it is in.
    chooseLanguage(window, false);
    QCOMPARE(c.connectButton->text(), QStringLiteral("断开"));
    QCOMPARE(statusText(window), QStringLiteral("🟢 已连接"));

    chooseLanguage(window, true);
    QCOMPARE(c.connectButton->text(), QStringLiteral("Disconnect"));

    c.connectButton->click();
    QCOMPARE(c.connectButton->text(), QStringLiteral("Listen"));
    QCOMPARE(statusText(window), QStringLiteral("○ Disconnected"));
    chooseLanguage(window, false);
    QCOMPARE(c.connectButton->text(), QStringLiteral("监听"));
    QCOMPARE(statusText(window), QStringLiteral("⚫未连接"));

    // The placeholder restored on focus-out follows the language too.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    chooseLanguage(window, true);
    c.sendEdit->setFocus();
    QTRY_VERIFY(c.sendEdit->hasFocus());
    QVERIFY(c.sendEdit->placeholderText().isEmpty());
    c.urlEdit->setFocus();
    QTRY_COMPARE(c.sendEdit->placeholderText(), QStringLiteral("Enter data to send..."));
    chooseLanguage(window, false);
    QCOMPARE(c.sendEdit->placeholderText(), QStringLiteral("输入要发送的数据..."));

    // Texts no walk reaches: a progress format, and two buttons that mean different things.
    auto* replay = window.findChild<QProgressBar*>(QStringLiteral("replayProgress"));
    chooseLanguage(window, true);
    QCOMPARE(replay->format(), QStringLiteral("Replay %v / %m"));
    QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("autoReplyDuplicate"))->text(),
             QStringLiteral("Duplicate"));
    QCOMPARE(LanguageManager::translate(QStringLiteral("复制")), QStringLiteral("Copy"));
    chooseLanguage(window, false);
    QCOMPARE(replay->format(), QStringLiteral("回放 %v / %m"));
}

void WindowTest::shouldPassSettingsToLogAndView()
{
    WebSocketWidget window;
    WindowControls c(&window);
    c.hexDisplayCheck->setChecked(true);
    c.timestampCheck->setChecked(false);
    c.autoScrollCheck->setChecked(false);
    c.encodingCombo->setCurrentText(QStringLiteral("GBK"));
    QVERIFY(c.comm->hexDisplay());
    QVERIFY(!c.comm->showTimestamp());
    QVERIFY(!c.comm->autoScroll());
    QCOMPARE(c.comm->encoding(), QStringLiteral("GBK"));

    auto* logOutput = window.findChild<QListWidget*>(QStringLiteral("logOutput"));
    QVERIFY(logOutput);
    c.lineSpacingSpin->setValue(5);
    QVERIFY(logOutput->styleSheet().contains(QStringLiteral("padding: 7px 6px 7px 6px")));
    c.fontSizeSpin->setValue(14);
    QVERIFY(logOutput->styleSheet().contains(QStringLiteral("font-size: 14pt")));
    QCOMPARE(logOutput->font().pointSize(), 14);
}

void WindowTest::shouldPlotOneValuePerLineOfReceivedFrame()
{
    WebSocketWidget window;
    WindowControls c(&window);
    ChartEngine* engine = c.chartEngine;
    engine->ruleNameEdit()->setText(QStringLiteral("temp"));
    engine->expressionEdit()->setText(QStringLiteral("t=(\\d+)"));
    engine->onAddRule();
    engine->ruleNameEdit()->setText(QStringLiteral("v"));
    engine->expressionEdit()->setText(QStringLiteral("v"));
    engine->onAddRule();
    QCOMPARE(engine->rules().size(), 2);

    // Lines split at runs of CR and LF, blank lines dropped, each line
    // offered to every rule; the JSON rule only matches JSON lines.
    window.onTextMessageReceived(QStringLiteral("t=12\r\n\r\n  t=13  \n\n\r{\"v\": 7.5}\r"));
    const QList<ChartSeriesData*>& store = engine->seriesStore();
    QCOMPARE(store.size(), 2);
    QCOMPARE(store.at(0)->points.size(), 2);
    QCOMPARE(store.at(0)->points.at(0).value, 12.0);
    QCOMPARE(store.at(0)->points.at(1).value, 13.0);
    QCOMPARE(store.at(1)->points.size(), 1);
    QCOMPARE(store.at(1)->points.at(0).value, 7.5);

    // A binary frame is decoded with the selected encoding before matching:
    // "t=42" in UTF-16 only matches once decoded as such. A text frame is its
    // own text whatever encoding is selected.
    c.encodingCombo->setCurrentText(QStringLiteral("Unicode"));
    const QByteArray utf16("t\0=\0"
                           "4\0"
                           "2\0",
                           8);
    window.onBinaryMessageReceived(utf16);
    window.onTextMessageReceived(QStringLiteral("t=7"));
    QCOMPARE(store.at(0)->points.size(), 4);
    QCOMPARE(store.at(0)->points.at(2).value, 42.0);
    QCOMPARE(store.at(0)->points.at(3).value, 7.0);
}

void WindowTest::shouldRefuseAMistypedAddressWithOneClearWord()
{
    WebSocketWidget window;
    WindowControls c(&window);
    const QString noScheme = QStringLiteral("地址必须以 ws:// 或 wss:// 开头");
    const QList<QPair<QString, QString>> cases{
        {QStringLiteral("127.0.0.1:8080/ws"), noScheme},
        {QStringLiteral("http://127.0.0.1:8080/ws"), noScheme},
        {QStringLiteral("ws://"), QStringLiteral("地址缺少主机名")},
        {QStringLiteral("ws://local host:8080/"), QStringLiteral("地址中不能含有空格")},
        {QStringLiteral("   "), QStringLiteral("地址为空")},
    };
    for (const auto& [typed, message] : cases) {
        const qsizetype before = sysMessages(window).size();
        c.urlEdit->setText(typed);
        c.connectButton->click();
        QCOMPARE(sysMessages(window).mid(before), QStringList{message});
        QCOMPARE(c.connection->state(), ConnectionManager::Idle);
    }

    // Blanks around an address are trimmed before it is tried.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("ws://127.0.0.1:%1/ws").arg(silent.serverPort());
    c.urlEdit->setText(QStringLiteral("  ") + address + QStringLiteral(" "));
    c.connectButton->click();
    QCOMPARE(sysMessages(window).constLast(), QStringLiteral("正在连接 %1...").arg(address));
    QCOMPARE(c.connection->state(), ConnectionManager::Connecting);
}

void WindowTest::shouldShowTheBeginningOfTheAddressWhenNotEditing()
{
    WebSocketWidget window;
    WindowControls c(&window);
    QCOMPARE(c.urlEdit->cursorPosition(), 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    c.urlEdit->setFocus();
    QTRY_VERIFY(c.urlEdit->hasFocus());
    c.urlEdit->end(false);
    c.sendEdit->setFocus();
    QTRY_COMPARE(c.urlEdit->cursorPosition(), 0);
}

void WindowTest::shouldOpenDocumentationPage()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    {
        WebSocketWidget window;
        WindowControls c(&window);
        auto* doc = window.findChild<QPushButton*>(QStringLiteral("docButton"));
        QVERIFY(doc);
        QCOMPARE(doc->text(), QStringLiteral("📖 文档"));
        doc->click();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(recorder.opened.size(), 1);
    QCOMPARE(recorder.opened.constFirst(),
             QUrl(QStringLiteral("https://gaugely.example/docs/gaugely/sockwise")));
}

void WindowTest::shouldLogDisconnectedWhenDestroyedIdle()
{
    auto window = std::make_unique<WebSocketWidget>();
    QSignalSpy added(window->findChild<CommunicationBase*>(), &CommunicationBase::logEntryAdded);
    window.reset();
    QCOMPARE(added.size(), 1);
    QCOMPARE(added.constFirst().constFirst().value<LogEntry>().text(), QStringLiteral("已断开"));
}

void WindowTest::shouldKeepTheLogAtTheBottomAcrossModeSwitchAndResize()
{
    WebSocketWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* comm = window.findChild<CommunicationBase*>();
    auto* rows = window.findChild<QListWidget*>(QStringLiteral("logOutput"));
    for (int i = 0; i < 200; ++i)
        comm->logReceived("row");
    QTRY_COMPARE(rows->count(), 200);
    QScrollBar* bar = rows->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());

    const int height = rows->height();
    window.findChild<QRadioButton*>(QStringLiteral("serverRadio"))->setChecked(true);
    QTRY_COMPARE(bar->value(), bar->maximum());
    window.resize(window.width(), window.height() - 120);
    QTRY_VERIFY(rows->height() < height);
    QCOMPARE(bar->value(), bar->maximum());
    comm->logReceived("next");
    QTRY_COMPARE(rows->count(), 201);
    QCOMPARE(bar->value(), bar->maximum());
}

void WindowTest::shouldOfferValuesOfRecentReceivedEntriesForAnalysis()
{
    WebSocketWidget window;
    auto* comm = window.findChild<CommunicationBase*>();
    auto* engine = window.findChild<ChartEngine*>(QStringLiteral("chartEngine"));
    for (const char* frame : {"{\"temp\": 20}", "{\"temp\": 21}", "{\"temp\": 22}"})
        comm->logReceived(frame);
    AnalysisDialog::choose = [](QWidget*, const QList<ValueProposal>&) {
        return QList<int>{0};
    };
    engine->enableCheckBox()->setChecked(true);
    engine->analyzeButton()->click();
    AnalysisDialog::restoreDefault();
    QCOMPARE(engine->rules().value(0).expression, QStringLiteral("temp"));
    QCOMPARE(engine->seriesStore().first()->points.size(), 3);
}

void WindowTest::shouldListEveryLanguageBelowTheSelector()
{
    // At the top of the screen, where a popup over the chosen item ran off it.
    WebSocketWidget window;
    WindowControls c(&window);
    window.move(window.screen()->availableGeometry().topLeft());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    c.languageCombo->setCurrentIndex(1);
    c.languageCombo->showPopup();
    QAbstractItemView* list = c.languageCombo->view();
    QTRY_VERIFY(list->isVisible());
    for (int row = 0; row < c.languageCombo->count(); ++row)
        QVERIFY(list->viewport()->rect().contains(list->visualRect(list->model()->index(row, 0))));
    QVERIFY(list->window()->geometry().top() >=
            c.languageCombo->mapToGlobal(QPoint(0, c.languageCombo->height())).y() - 1);
}

void WindowTest::shouldWidenTheRecentAddressPopupWithinTheScreen()
{
    // Longer than the screen is wide: it gets the screen's width.
    const QString longest = QStringLiteral("ws://127.0.0.1:8080/") + QString(400, u'p');
    WebSocketWidget window;
    WindowControls c(&window);
    window.findChild<SettingsPanel*>()->setRecentAddresses({QStringLiteral("ws://h/ws"), longest});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    c.urlEdit->setFocus();
    QTest::keyClick(c.urlEdit, Qt::Key_Down);
    QAbstractItemView* popup = c.urlEdit->completer()->popup();
    QTRY_VERIFY(popup->isVisible());
    const QRect screen = c.urlEdit->screen()->availableGeometry();
    QTRY_COMPARE(popup->width(), screen.width());
    QVERIFY(screen.contains(popup->geometry()));

    // The field cuts it; its tooltip has it whole, secrets masked.
    c.urlEdit->setText(longest);
    QCOMPARE(c.urlEdit->toolTip(), longest);
    c.urlEdit->setText(QStringLiteral("wss://user:pw9@h/ws?token=abc"));
    QCOMPARE(c.urlEdit->toolTip(), QStringLiteral("wss://•••@h/ws?token=•••"));
}

void WindowTest::shouldKeepTheWidenedSettingsColumnWithoutGapsAcrossStarts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Sockwise.conf"));
    auto window = std::make_unique<WebSocketWidget>();
    window->useSettingsFile(path);
    // Room for the log's own minimum beside a column 150 px wider.
    window->resize(1600, 900);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto c = std::make_unique<WindowControls>(window.get());
    QWidget* panel = c->settingsScroll->widget();
    const int column = c->settingsScroll->width();
    QSplitterHandle* handle =
        window->findChild<QSplitter*>(QStringLiteral("bodySplitter"))->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(150, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(150, 0));
    QTRY_COMPARE(c->settingsScroll->width(), column + 150);
    QTRY_COMPARE(panel->width(), c->settingsScroll->viewport()->width());
    // A group hidden by a mode switch leaves no gap.
    c->serverRadio->click();
    c->clientRadio->click();
    QTRY_COMPARE(panel->height(), panel->sizeHint().height());

    window = std::make_unique<WebSocketWidget>();
    window->useSettingsFile(path);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    c = std::make_unique<WindowControls>(window.get());
    QTRY_COMPARE(c->settingsScroll->width(), column + 150);
}

void WindowTest::shouldSayInTheLogWhenNoBrowserOpensTheDocumentation()
{
    // No handler and no desktop under offscreen: nothing can open the page.
    WebSocketWidget window;
    WindowControls c(&window);
    window.findChild<QPushButton*>(QStringLiteral("docButton"))->click();
    QCOMPARE(c.systemTexts().last(),
             QStringLiteral("无法启动浏览器，请手动打开文档: "
                            "https://gaugely.example/docs/gaugely/sockwise"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"

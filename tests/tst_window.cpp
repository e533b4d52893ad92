#include "LoopbackOnly.h"

#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/CommunicationBase.h"
#include "i18n/LanguageManager.h"
#include "websocket/WebSocketWidget.h"

#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
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
    void shouldAbortPendingClientWhenServerStarts();
    void shouldShowChartTabOnlyWhileEnabled();
    void shouldRestoreEveryWalkedTextAfterEnglishAndBack();
    void shouldKeepRuntimeTextsCurrentAcrossLanguageSwitches();
    void shouldPassSettingsToLogAndView();
    void shouldPlotOneValuePerLineOfReceivedFrame();
    void shouldOpenDocumentationPage();
    void shouldLogDisconnectedWhenDestroyedIdle();

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
    const auto entries = window.comm->entries();
    for (const LogEntry& entry : entries) {
        if (entry.direction == LogEntry::SYS)
            out.append(entry.text);
    }
    return out;
}

QString WindowTest::statusText(const WebSocketWidget& window)
{
    return window.findChild<QLabel*>(QStringLiteral("connStatus"))->text();
}

void WindowTest::chooseLanguage(WebSocketWidget& window, bool english)
{
    window.languageCombo->setCurrentIndex(english ? 1 : 0);
    QCOMPARE(LanguageManager::isEnglish(), english);
}

void WindowTest::shouldBuildEveryControlWithItsDefaults()
{
    WebSocketWidget window;

    QCOMPARE(window.windowTitle(), QStringLiteral("WebSocket调试助手"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.minimumSize(), QSize(900, 600));
    QCOMPARE(window.size(), QSize(1120, 760));

    QVERIFY(window.clientRadio->isChecked());
    QCOMPARE(window.clientRadio->text(), QStringLiteral("WebSocket 客户端"));
    QCOMPARE(window.serverRadio->text(), QStringLiteral("WebSocket 服务端"));
    QCOMPARE(window.urlEdit->text(), QStringLiteral("ws://127.0.0.1:8080/ws"));
    QCOMPARE(window.pathEdit->text(), QStringLiteral("/ws"));

    QStringList encodings;
    for (int i = 0; i < window.encodingCombo->count(); ++i)
        encodings << window.encodingCombo->itemText(i);
    QCOMPARE(encodings,
             QStringList({QStringLiteral("UTF-8"), QStringLiteral("ASCII"), QStringLiteral("GBK"),
                          QStringLiteral("GB2312"), QStringLiteral("Unicode")}));
    QCOMPARE(window.encodingCombo->currentText(), QStringLiteral("UTF-8"));

    QCOMPARE(window.connectButton->text(), QStringLiteral("连接"));
    QCOMPARE(window.connectButton->objectName(), QStringLiteral("accentButton"));
    QCOMPARE(window.connectButton->height(), 36);
    QCOMPARE(window.disconnectClientButton->text(), QStringLiteral("断开选中客户端"));
    QCOMPARE(window.disconnectClientButton->objectName(), QStringLiteral("dangerButton"));

    QVERIFY(!window.hexDisplayCheck->isChecked());
    QVERIFY(window.timestampCheck->isChecked());
    QVERIFY(window.autoScrollCheck->isChecked());
    QCOMPARE(window.sendEdit->placeholderText(), QStringLiteral("输入要发送的数据..."));
    QCOMPARE(window.sendEdit->height(), 70);
    QVERIFY(!window.hexSendCheck->isChecked());
    QVERIFY(window.textRadio->isChecked());
    QVERIFY(!window.binaryRadio->isChecked());
    QVERIFY(window.enterSendCheck->isChecked());
    QCOMPARE(window.sendButton->text(), QStringLiteral("刷新"));
    QCOMPARE(window.sendButton->objectName(), QStringLiteral("accentButton"));
    QCOMPARE(window.sendButton->size(), QSize(120, 32));
    QVERIFY(!window.autoSendCheck->isChecked());
    struct Spin
    {
        QSpinBox* box;
        int value, min, max;
        const char* suffix;
    };
    for (const Spin& s : {Spin{window.portSpin, 8080, 1, 65535, ""},
                          Spin{window.lineSpacingSpin, 0, -10, 10, " px"},
                          Spin{window.fontSizeSpin, 11, 7, 16, " pt"},
                          Spin{window.intervalSpin, 1000, 10, 60000, " ms"}}) {
        QCOMPARE(s.box->value(), s.value);
        QCOMPARE(s.box->minimum(), s.min);
        QCOMPARE(s.box->maximum(), s.max);
        QCOMPARE(s.box->suffix(), QString::fromLatin1(s.suffix));
    }
    QCOMPARE(window.intervalSpin->singleStep(), 100);

    QCOMPARE(window.tabWidget->count(), 2);
    QCOMPARE(window.tabWidget->tabText(0), QStringLiteral("通信日志"));
    QCOMPARE(window.tabWidget->tabText(1), QStringLiteral("数据图表"));
    QCOMPARE(window.tabWidget->widget(1), window.chartEngine->chartView());

    QStringList groups;
    const auto boxes = window.findChildren<QGroupBox*>();
    for (const QGroupBox* box : boxes)
        groups << box->title();
    for (const char* title :
         {"模式选择", "连接设置", "已连接客户端", "显示设置", "数据可视化", "发送区"})
        QVERIFY2(groups.contains(QString::fromUtf8(title)), title);

    QCOMPARE(statusText(window), QStringLiteral("◆未连接"));
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("adBanner")));
    QCOMPARE(window.languageCombo->currentIndex(), 0);
    QVERIFY(!window.isConnected);
    QVERIFY(!window.isServerMode);
    QVERIFY(!window.autoSendTimer->isActive());
    // Nothing is logged while the window is built.
    QVERIFY(window.comm->entries().isEmpty());
}

void WindowTest::shouldKeepHeaderAndSettingsColumnSizes()
{
    WebSocketWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* header = window.findChild<QFrame*>(QStringLiteral("headerBar"));
    QVERIFY(header);
    QCOMPARE(header->height(), 52);
    QCOMPARE(window.settingsScroll->width(), 260);
    QCOMPARE(window.settingsScroll->widget()->width(), 254);
    QCOMPARE(window.settingsScroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // The column keeps its width; the tabs take what the window gains.
    const int tabsBefore = window.tabWidget->width();
    window.resize(1400, 800);
    QTRY_COMPARE(window.width(), 1400);
    QTRY_COMPARE(window.tabWidget->width(), tabsBefore + 280);
    QCOMPARE(window.settingsScroll->width(), 260);
    QCOMPARE(header->height(), 52);

    window.resize(500, 300);
    QTRY_COMPARE(window.size(), QSize(900, 600));
}

void WindowTest::shouldSwitchSettingsWithModeButKeepCaption()
{
    WebSocketWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QVERIFY(window.clientBox->isVisible());
    QVERIFY(!window.serverBox->isVisible());
    QVERIFY(!window.clientsGroup->isVisible());

    window.serverRadio->click();
    QVERIFY(window.isServerMode);
    QVERIFY(!window.clientRadio->isChecked());
    QVERIFY(!window.clientBox->isVisible());
    QVERIFY(window.serverBox->isVisible());
    QVERIFY(window.clientsGroup->isVisible());
    QCOMPARE(window.clientList->count(), 0);
    // The caption names the next action only after a state change.
    QCOMPARE(window.connectButton->text(), QStringLiteral("连接"));
    // The panel follows the shown groups.
    QCOMPARE(window.settingsScroll->widget()->height(),
             window.settingsScroll->widget()->sizeHint().height());

    window.clientRadio->click();
    QVERIFY(!window.isServerMode);
    QVERIFY(window.clientBox->isVisible());
    QVERIFY(!window.serverBox->isVisible());
    QVERIFY(!window.clientsGroup->isVisible());
}

void WindowTest::shouldPresentListeningAndIdleStates()
{
    WebSocketWidget window;
    const quint16 port = freePort();
    QVERIFY(port != 0);
    window.serverRadio->click();
    window.portSpin->setValue(port);

    window.connectButton->click();
    QVERIFY(window.isConnected);
    QVERIFY(window.server);
    QCOMPARE(window.connectButton->text(), QStringLiteral("断开"));
    QVERIFY(window.connectButton->styleSheet().contains(QStringLiteral("#EF4444")));
    QCOMPARE(window.connectButton->height(), 36);
    QCOMPARE(statusText(window), QStringLiteral("🟢 已连接"));
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("connStatus"))
                ->styleSheet()
                .contains(QStringLiteral("#10B981")));
    QCOMPARE(sysMessages(window).constLast(),
             QStringLiteral("WebSocket服务器已启动，端口 %1，路径 /ws").arg(port));

    window.connectButton->click();
    QVERIFY(!window.isConnected);
    QVERIFY(!window.server);
    QCOMPARE(window.connectButton->text(), QStringLiteral("监听"));
    QCOMPARE(window.connectButton->objectName(), QStringLiteral("accentButton"));
    QVERIFY(window.connectButton->styleSheet().isEmpty());
    QCOMPARE(statusText(window), QStringLiteral("⚫未连接"));
    QCOMPARE(sysMessages(window).constLast(), QStringLiteral("已断开"));

    // The port is free again once the server stopped.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::Any, port));
}

void WindowTest::shouldKeepRunningServerWhenModeChanges()
{
    WebSocketWidget window;
    const quint16 port = freePort();
    window.serverRadio->click();
    window.portSpin->setValue(port);
    window.connectButton->click();
    QVERIFY(window.isConnected);

    window.clientRadio->click();
    QVERIFY(window.server && window.server->isListening());
    QCOMPARE(window.connectButton->text(), QStringLiteral("断开"));
    QVERIFY(window.clientRadio->isEnabled());

    // "断开" stops the server whatever mode is selected, then names the
    // action of the mode selected now.
    window.connectButton->click();
    QVERIFY(!window.server);
    QCOMPARE(window.connectButton->text(), QStringLiteral("连接"));
}

void WindowTest::shouldAbortPendingClientWhenServerStarts()
{
    // A peer that accepts TCP but never answers the handshake keeps the
    // attempt pending.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    WebSocketWidget window;
    window.urlEdit->setText(QStringLiteral("ws://127.0.0.1:%1/").arg(silent.serverPort()));
    window.connectButton->click();
    QVERIFY(window.clientSocket);
    QTRY_VERIFY(silent.hasPendingConnections());
    QTcpSocket* accepted = silent.nextPendingConnection();
    QSignalSpy peerGone(accepted, &QTcpSocket::disconnected);

    window.serverRadio->click();
    window.portSpin->setValue(freePort());
    window.connectButton->click();
    QVERIFY(window.server);
    QVERIFY(!window.clientSocket);
    QVERIFY(peerGone.wait(5000));
    QTRY_COMPARE(window.findChildren<QWebSocket*>().size(), 0);
    QVERIFY(window.isConnected);
    QCOMPARE(window.connectButton->text(), QStringLiteral("断开"));
}

void WindowTest::shouldShowChartTabOnlyWhileEnabled()
{
    WebSocketWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QChartView* view = window.chartEngine->chartView();
    QVERIFY(!window.tabWidget->isTabVisible(1));

    window.chartEngine->enableCheckBox()->setChecked(true);
    QVERIFY(window.tabWidget->isTabVisible(1));
    // The log tab stays in front; the chart does not cover it.
    QCOMPARE(window.tabWidget->currentIndex(), 0);
    QVERIFY(!view->isVisible());
    window.tabWidget->setCurrentIndex(1);
    QVERIFY(view->isVisible());

    window.chartEngine->enableCheckBox()->setChecked(false);
    QVERIFY(!window.tabWidget->isTabVisible(1));
    QVERIFY(!view->isVisible());
}

void WindowTest::shouldRestoreEveryWalkedTextAfterEnglishAndBack()
{
    WebSocketWidget window;

    auto snapshot = [&window] {
        QStringList texts;
        for (const QLabel* w : window.findChildren<QLabel*>())
            texts << w->text();
        for (const QAbstractButton* w : window.findChildren<QAbstractButton*>())
            texts << w->text();
        for (const QGroupBox* w : window.findChildren<QGroupBox*>())
            texts << w->title();
        for (int i = 0; i < window.tabWidget->count(); ++i)
            texts << window.tabWidget->tabText(i);
        for (const QLineEdit* w : window.findChildren<QLineEdit*>())
            texts << w->placeholderText();
        texts << window.sendEdit->placeholderText() << window.windowTitle();
        for (const QComboBox* w : window.findChildren<QComboBox*>()) {
            for (int i = 0; i < w->count(); ++i)
                texts << w->itemText(i);
        }
        return texts;
    };

    const QStringList chinese = snapshot();
    chooseLanguage(window, true);

    QCOMPARE(window.windowTitle(), QStringLiteral("WebSocket Debug Tool"));
    QCOMPARE(window.connectButton->text(), QStringLiteral("Connect"));
    QCOMPARE(window.sendButton->text(), QStringLiteral("Refresh"));
    QCOMPARE(window.clientRadio->text(), QStringLiteral("WebSocket Client"));
    QCOMPARE(window.tabWidget->tabText(0), QStringLiteral("Log"));
    QCOMPARE(window.tabWidget->tabText(1), QStringLiteral("Chart"));
    QCOMPARE(window.sendEdit->placeholderText(), QStringLiteral("Enter data to send..."));
    QCOMPARE(window.chartEngine->enableCheckBox()->text(), QStringLiteral("Enable Chart"));
    // Glyph-only labels and texts without an entry stay as they are.
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("headerIcon"))->text(), QStringLiteral("◆"));
    QCOMPARE(statusText(window), QStringLiteral("◆未连接"));
    QCOMPARE(window.disconnectClientButton->text(), QStringLiteral("Disconnect Selected"));
    QVERIFY(snapshot() != chinese);

    chooseLanguage(window, false);
    QCOMPARE(snapshot(), chinese);
}

void WindowTest::shouldKeepRuntimeTextsCurrentAcrossLanguageSwitches()
{
    WebSocketWidget window;
    const quint16 port = freePort();
    window.serverRadio->click();
    window.portSpin->setValue(port);

    // A walk to English saves "连接" as the button's Chinese text...
    chooseLanguage(window, true);
    QCOMPARE(window.connectButton->text(), QStringLiteral("Connect"));

    // ...then the program changes the caption while English is active.
    window.connectButton->click();
    QVERIFY(window.isConnected);
    QCOMPARE(window.connectButton->text(), QStringLiteral("Disconnect"));
    QCOMPARE(statusText(window), QStringLiteral("🟢 Connected"));

    // Back in Chinese the window must describe the state it is in.
    chooseLanguage(window, false);
    QCOMPARE(window.connectButton->text(), QStringLiteral("断开"));
    QCOMPARE(statusText(window), QStringLiteral("🟢 已连接"));

    chooseLanguage(window, true);
    QCOMPARE(window.connectButton->text(), QStringLiteral("Disconnect"));

    window.connectButton->click();
    QCOMPARE(window.connectButton->text(), QStringLiteral("Listen"));
    QCOMPARE(statusText(window), QStringLiteral("○ Disconnected"));
    chooseLanguage(window, false);
    QCOMPARE(window.connectButton->text(), QStringLiteral("监听"));
    QCOMPARE(statusText(window), QStringLiteral("⚫未连接"));

    // The placeholder restored on focus-out follows the language too.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    chooseLanguage(window, true);
    window.sendEdit->setFocus();
    QTRY_VERIFY(window.sendEdit->hasFocus());
    QVERIFY(window.sendEdit->placeholderText().isEmpty());
    window.urlEdit->setFocus();
    QTRY_COMPARE(window.sendEdit->placeholderText(), QStringLiteral("Enter data to send..."));
    chooseLanguage(window, false);
    QCOMPARE(window.sendEdit->placeholderText(), QStringLiteral("输入要发送的数据..."));
}

void WindowTest::shouldPassSettingsToLogAndView()
{
    WebSocketWidget window;
    window.hexDisplayCheck->setChecked(true);
    window.timestampCheck->setChecked(false);
    window.autoScrollCheck->setChecked(false);
    window.encodingCombo->setCurrentText(QStringLiteral("GBK"));
    QVERIFY(window.comm->hexDisplay());
    QVERIFY(!window.comm->showTimestamp());
    QVERIFY(!window.comm->autoScroll());
    QCOMPARE(window.comm->encoding(), QStringLiteral("GBK"));

    auto* logOutput = window.findChild<QListWidget*>(QStringLiteral("logOutput"));
    QVERIFY(logOutput);
    window.lineSpacingSpin->setValue(5);
    QVERIFY(logOutput->styleSheet().contains(QStringLiteral("padding: 7px 6px 7px 6px")));
    window.fontSizeSpin->setValue(14);
    QVERIFY(logOutput->styleSheet().contains(QStringLiteral("font-size: 14pt")));
    QCOMPARE(logOutput->font().pointSize(), 14);
}

void WindowTest::shouldPlotOneValuePerLineOfReceivedFrame()
{
    WebSocketWidget window;
    ChartEngine* engine = window.chartEngine;
    engine->ruleNameEdit()->setText(QStringLiteral("temp"));
    engine->expressionEdit()->setText(QStringLiteral("t=(\\d+)"));
    engine->onAddRule();
    engine->ruleNameEdit()->setText(QStringLiteral("v"));
    engine->expressionEdit()->setText(QStringLiteral("v"));
    engine->onAddRule();
    QCOMPARE(engine->rules().size(), 2);

    // Lines split at runs of CR and LF, blank lines dropped, each line
    // offered to every rule; the JSON rule only matches JSON lines.
    window.feedChart(QByteArrayLiteral("t=12\r\n\r\n  t=13  \n\n\r{\"v\": 7.5}\r"));
    const QList<ChartSeriesData*>& store = engine->seriesStore();
    QCOMPARE(store.size(), 2);
    QCOMPARE(store.at(0)->points.size(), 2);
    QCOMPARE(store.at(0)->points.at(0).value, 12.0);
    QCOMPARE(store.at(0)->points.at(1).value, 13.0);
    QCOMPARE(store.at(1)->points.size(), 1);
    QCOMPARE(store.at(1)->points.at(0).value, 7.5);

    // Received bytes are decoded with the selected encoding before matching:
    // "t=42" in UTF-16 only matches once decoded as such.
    window.encodingCombo->setCurrentText(QStringLiteral("Unicode"));
    window.feedChart(QByteArray("t\0=\0"
                                "4\0"
                                "2\0",
                                8));
    QCOMPARE(store.at(0)->points.size(), 3);
    QCOMPARE(store.at(0)->points.at(2).value, 42.0);

    // Received frames take the same road, binary or text.
    window.encodingCombo->setCurrentText(QStringLiteral("UTF-8"));
    window.onBinaryMessageReceived(QByteArrayLiteral("t=5\nt=6"));
    window.onTextMessageReceived(QStringLiteral("t=7"));
    QCOMPARE(store.at(0)->points.size(), 6);
    QCOMPARE(store.at(0)->points.at(5).value, 7.0);
    QCOMPARE(window.comm->rxBytes(), qint64(7 + 3));
}

void WindowTest::shouldOpenDocumentationPage()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    {
        WebSocketWidget window;
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
    QSignalSpy added(window->comm, &CommunicationBase::logEntryAdded);
    window.reset();
    QCOMPARE(added.size(), 1);
    QCOMPARE(added.constFirst().constFirst().value<LogEntry>().text, QStringLiteral("已断开"));
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"

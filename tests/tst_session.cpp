#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"
#include "chart/ChartSeriesData.h"
#include "comm/ExportDialogs.h"
#include "session/HarFile.h"
#include "session/RecordedExchange.h"
#include "session/SessionBar.h"
#include "session/SessionCapture.h"

#include <QDateTimeAxis>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 15000;
const QString fixture = QStringLiteral(SOCKWISE_TESTS_DIR "/fixtures/echo.har");

HarMessage frame(bool sent, qint64 msecs, const QByteArray& data, bool binary = false)
{
    HarMessage message;
    message.sent = sent;
    message.msecs = msecs;
    message.data = data;
    message.binary = binary;
    return message;
}

// A recording of three exchanges whose second reply an echo server cannot give.
HarConnection echoRecording()
{
    HarConnection connection;
    connection.url = u"ws://127.0.0.1/"_s;
    connection.started = QDateTime::fromMSecsSinceEpoch(1000000, QTimeZone::utc());
    connection.messages = {frame(true, 1000000, "a"),
                           frame(false, 1000010, "a"),
                           frame(true, 1000020, "b"),
                           frame(false, 1000030, "B"),
                           frame(true, 1000040, R"({"x": 1, "y": [2]})"),
                           frame(false, 1000050, R"({"y":[2],"x":1})")};
    return connection;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

class SessionTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    QTemporaryDir dir;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    SessionBar* bar = nullptr;
    QStringList warnings;
    std::unique_ptr<PythonPeer> echo;

    QString path(const QString& name) const { return dir.filePath(name); }

    bool connectToEcho()
    {
        echo = std::make_unique<PythonPeer>(u"echo_server.py"_s, QStringList());
        if (!QTest::qWaitFor([&] { return !echo->linesWith(u"PORT "_s).isEmpty(); }, kTimeout))
            return false;
        c->urlEdit->setText(u"ws://127.0.0.1:%1/"_s.arg(echo->linesWith(u"PORT "_s).first()));
        c->connectButton->click();
        return QTest::qWaitFor([&] { return c->isConnected(); }, kTimeout);
    }

    QList<LogEntry> frames() const
    {
        QList<LogEntry> found;
        for (const LogEntry& entry : c->comm->entries())
            if (entry.direction() != LogEntry::SYS)
                found.append(entry);
        return found;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        keepNetworkOnLoopback();
        pythonReady = PythonPeer::available();
        QVERIFY(dir.isValid());
    }
    void init()
    {
        window = std::make_unique<WebSocketWidget>();
        c = std::make_unique<WindowControls>(window.get());
        bar = window->findChild<SessionBar*>(u"sessionBar"_s);
        QVERIFY(bar);
        warnings.clear();
        ExportDialogs::warning = [this](QWidget*, const QString&, const QString& text) {
            warnings.append(text);
        };
    }
    void cleanup()
    {
        c.reset();
        window.reset();
        echo.reset();
        ExportDialogs::restoreDefaults();
    }

    void shouldReadTheWebSocketEntriesOfABrowserCapture()
    {
        const HarFile::ReadResult read = HarFile::read(fixture);
        QVERIFY2(read.ok(), qPrintable(read.error));
        // The page's own HTTP entry is skipped, so is a message without data.
        QCOMPARE(read.connections.size(), 2);
        const HarConnection& echoed = read.connections[0];
        QCOMPARE(echoed.url, u"ws://localhost:8880/echo"_s);
        QCOMPARE(echoed.messages.size(), 6);
        QCOMPARE(echoed.messages[0].msecs, 1767607201100);
        QCOMPARE(echoed.messages[4].data, QByteArray::fromHex("000102ff"));
        QVERIFY(echoed.messages[4].binary && echoed.messages[4].sent);
        QCOMPARE(read.connections[1].messages.size(), 5);

        const RecordedExchange feed(read.connections[1]);
        QCOMPARE(feed.serverFramesAfter(0).size(), 1);
        QCOMPARE(feed.serverFramesAfter(1).size(), 2);
        QCOMPARE(feed.serverFramesAfter(1)[1].gapMs, 100);
        QCOMPARE(feed.receivedBefore(1), 3);
        // JSON is compared as values; anything else as it is.
        QVERIFY(RecordedExchange::matches(echoed.messages[3], R"({"a":1,"b":[true,null]})", false));
        QVERIFY(!RecordedExchange::matches(echoed.messages[3], R"({"a":1,"b":[true]})", false));
        QVERIFY(!RecordedExchange::matches(echoed.messages[0], "HELLO", false));
        QVERIFY(!RecordedExchange::matches(echoed.messages[0], "hello", true));
    }

    void shouldRefuseAFileThatHoldsNoRecording_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("why");
        const QByteArray head =
            R"({"log":{"version":"1.2","entries":[{"_resourceType":"websocket",)"
            R"("request":{"url":"ws://x/"},"_webSocketMessages":[)";
        QTest::newRow("not JSON") << QByteArray("<html>") << u"不是 JSON"_s;
        QTest::newRow("not HAR") << QByteArray(R"({"entries":[]})") << u"不是 HAR"_s;
        QTest::newRow("no WebSocket")
            << QByteArray(R"({"log":{"entries":[{"request":{}}]}})") << u"没有 WebSocket"_s;
        QTest::newRow("wrong type")
            << head + R"({"type":"ping","time":1,"opcode":1,"data":"x"}]}]}})" << u"type"_s;
        QTest::newRow("time as text")
            << head + R"({"type":"send","time":"1","opcode":1,"data":"x"}]}]}})" << u"time"_s;
        QTest::newRow("bad Base64")
            << head + R"({"type":"send","time":1,"opcode":2,"data":"A*=="}]}]}})" << u"Base64"_s;
        QTest::newRow("not an object") << head + R"(3]}]}})" << u"不是对象"_s;
        QTest::newRow("too large") << QByteArray() << u"文件太大"_s;
    }
    void shouldRefuseAFileThatHoldsNoRecording()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, why);
        QFile file(path(u"bad.har"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (content.isEmpty())
            QVERIFY(file.resize(HarFile::maxFileBytes + 1)); // sparse: nothing is written
        else
            file.write(content);
        file.close();
        c->comm->logSystem(u"before"_s);
        const int entries = c->comm->entryCount();

        QVERIFY(!bar->openFile(file.fileName()));
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings[0].contains(why), qPrintable(warnings[0]));
        QCOMPARE(c->comm->entryCount(), entries);
        QVERIFY(!c->find<QPushButton>("replayButton")->isEnabled());
    }

    void shouldOpenTheSameEntriesItSaved()
    {
        c->comm->logSystem(u"会话开始"_s);
        c->comm->logFrame(LogEntry::TX, u"你好\nworld"_s.toUtf8(), LogEntry::FrameKind::Text,
                          u"ws://127.0.0.1:1/"_s);
        c->comm->logFrame(LogEntry::RX, QByteArray::fromHex("ff00fe"), LogEntry::FrameKind::Binary,
                          u"ws://127.0.0.1:1/"_s);
        c->comm->logSystem(u"已断开"_s);
        const QList<LogEntry> saved = c->comm->entries();
        QVERIFY(bar->saveFile(path(u"round.har"_s)));

        init();
        QVERIFY(bar->openFile(path(u"round.har"_s)));
        const QList<LogEntry> opened = c->comm->entries();
        QCOMPARE(opened.size(), saved.size() + 1);
        for (qsizetype i = 0; i < saved.size(); ++i) {
            QCOMPARE(opened[i].direction(), saved[i].direction());
            QCOMPARE(opened[i].rawData(), saved[i].rawData());
            QCOMPARE(opened[i].frameKind(), saved[i].frameKind());
            QCOMPARE(opened[i].text(), saved[i].text());
            QCOMPARE(opened[i].peer(), saved[i].peer());
            QCOMPARE(opened[i].timestamp().toMSecsSinceEpoch(),
                     saved[i].timestamp().toMSecsSinceEpoch());
        }
        QCOMPARE(opened.last().text(), u"已打开会话 round.har: ws://127.0.0.1:1/，2 条消息"_s);
        // What was recorded is not traffic of this run.
        QCOMPARE(c->comm->txBytes() + c->comm->rxBytes(), 0);
    }

    void shouldKeepEachClientOfTheServerInItsOwnConnection()
    {
        CommunicationBase log;
        log.logFrame(LogEntry::RX, "from a", LogEntry::FrameKind::Text, u"a:1"_s);
        log.logFrame(LogEntry::TX, "to all", LogEntry::FrameKind::Text, u"全部 (2)"_s);
        log.logFrame(LogEntry::TX, "to b", LogEntry::FrameKind::Text, u"b:2"_s);
        log.logSystem(u"b left"_s);
        const QList<HarConnection> connections = SessionCapture::serverConnections(
            log.entries(), {{u"a:1"_s, u"ws://h/a"_s, 1, 0}, {u"b:2"_s, u"ws://h/b"_s, 2, 4}});
        QCOMPARE(connections.size(), 2);
        QCOMPARE(connections[0].messages.size(), 2);
        QCOMPARE(connections[1].messages.size(), 2);
        QCOMPARE(connections[1].messages[1].data, QByteArray("to b"));
        QCOMPARE(connections[1].notes.size(), 1);
    }

    void shouldChooseOneOfSeveralConnectionsWithItsSecretsMasked()
    {
        QStringList offered;
        SessionBar::chooseConnection = [&offered](QWidget*, const QStringList& items) {
            offered = items;
            return 1;
        };
        QVERIFY(c->chartEngine->addRule({u"price"_s, JsonPath, u"price"_s}));
        QVERIFY(bar->openFile(fixture));
        QCOMPARE(offered.size(), 2);
        QVERIFY(offered[0].startsWith(u"ws://localhost:8880/echo — 6 条消息"_s));
        QCOMPARE(c->systemTexts().last(),
                 u"已打开会话 echo.har: wss://stream.example.test/feed?token=•••，5 条消息"_s);
        QCOMPARE(frames().size(), 5);
        QCOMPARE(frames()[0].direction(), LogEntry::RX);
        // The chart plots the recorded values at their recorded times.
        const QList<DataPoint>& points = c->chartEngine->seriesStore().first()->points;
        QCOMPARE(points.size(), 2);
        QCOMPARE(points[1].value, 11.0);
        QCOMPARE(points[1].time.toMSecsSinceEpoch(), 1767607205700);
        auto* axis = qobject_cast<QDateTimeAxis*>(c->chartEngine->chart()->axes(Qt::Horizontal)[0]);
        QTRY_COMPARE_WITH_TIMEOUT(axis->max().toMSecsSinceEpoch(), 1767607205700, kTimeout);
    }

    void shouldReplayAndReportEachReplyThatDiffers_data()
    {
        QTest::addColumn<bool>("lockstep");
        QTest::newRow("as fast as possible") << false;
        QTest::newRow("lock-step") << true;
    }
    void shouldReplayAndReportEachReplyThatDiffers()
    {
        REQUIRE_PYTHON();
        QFETCH(bool, lockstep);
        QVERIFY(HarFile::write(path(u"echo.har"_s), {echoRecording()}));
        QVERIFY(bar->openFile(path(u"echo.har"_s)));
        QVERIFY(connectToEcho());
        c->find<QComboBox>("replaySpeedCombo")->setCurrentIndex(4);
        c->find<QCheckBox>("replayLockstepCheck")->setChecked(lockstep);
        c->find<QCheckBox>("compareRepliesCheck")->setChecked(true);
        const int from = c->comm->entryCount();
        c->find<QPushButton>("replayButton")->click();

        QTRY_VERIFY_WITH_TIMEOUT(c->systemTexts(from).join(u'\n').contains(u"回放结束"_s),
                                 kTimeout);
        QCOMPARE(c->systemTexts(from), QStringList({u"回复不同 #2: 期望 B 收到 b"_s,
                                                    u"回放结束: 已发送 3 / 3，回复相同 2 / 3"_s}));
        QVERIFY(echo->waitForLine(u"TEXT "_s + QString::fromLatin1(QByteArray("b").toHex())));
        auto* progress = c->find<QProgressBar>("replayProgress");
        QCOMPARE(progress->text(), u"回放 3 / 3"_s);
        QVERIFY(c->find<QPushButton>("replayButton")->isEnabled());
    }

    void shouldExitByWhetherTheRepliesMatch_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("same replies") << fixture << QStringList{u"--expect"_s, u"--speed=0"_s} << 0;
        QTest::newRow("one differs") << u"echo.har"_s << QStringList{u"--expect"_s} << 1;
        QTest::newRow("differs, not asked") << u"echo.har"_s << QStringList{u"--lockstep"_s} << 0;
        QTest::newRow("bad speed") << fixture << QStringList{u"--speed"_s, u"fast"_s} << 2;
        QTest::newRow("both paces") << fixture << QStringList{u"--lockstep"_s, u"--speed=2"_s} << 2;
        QTest::newRow("no such connection") << fixture << QStringList{u"--connection=3"_s} << 2;
        QTest::newRow("no file") << u"missing.har"_s << QStringList() << 2;
    }
    void shouldExitByWhetherTheRepliesMatch()
    {
        REQUIRE_PYTHON();
        QFETCH(QString, recording);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QVERIFY(HarFile::write(path(u"echo.har"_s), {echoRecording()}));
        PythonPeer server(u"echo_server.py"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(!server.linesWith(u"PORT "_s).isEmpty(), kTimeout);
        QProcess replay;
        replay.start(QStringLiteral(SOCKWISE_BINARY),
                     QStringList{u"replay"_s,
                                 recording.contains(u'/') ? recording : path(recording),
                                 u"ws://127.0.0.1:%1/"_s.arg(server.linesWith(u"PORT "_s)[0]),
                                 u"--save"_s, path(u"out.har"_s)} +
                         options);
        QVERIFY(replay.waitForFinished(kTimeout));
        const QString errors = QString::fromUtf8(replay.readAllStandardError());
        QCOMPARE(replay.exitCode(), exitCode);
        if (exitCode == 2)
            QCOMPARE(errors.count(u'\n'), 1);
        if (exitCode == 1)
            QVERIFY2(errors.contains(u"回复不同 #2: 期望 B 收到 b"_s), qPrintable(errors));
        if (exitCode == 0 && recording == fixture) {
            // What went over the wire, saved: three frames each way.
            const HarFile::ReadResult saved = HarFile::read(path(u"out.har"_s));
            QVERIFY2(saved.ok(), qPrintable(saved.error));
            QCOMPARE(saved.connections.value(0).messages.size(), 6);
            QCOMPARE(saved.connections[0].sentCount(), 3);
        }
    }

    void shouldServeTheRecordingToEachClient()
    {
        REQUIRE_PYTHON();
        const quint16 port = freePort();
        QProcess mock;
        mock.start(QStringLiteral(SOCKWISE_BINARY),
                   {u"mock"_s, u"--har"_s, fixture, u"--connection=2"_s, u"--port"_s,
                    QString::number(port)});
        QVERIFY(mock.waitForReadyRead(kTimeout));
        PythonPeer client(u"har_client.py"_s, {u"ws://127.0.0.1:%1/feed"_s.arg(port)});
        QVERIFY(client.waitForLine(u"RECV welcome"_s));
        client.send(u"subscribe"_s);
        QVERIFY(client.waitForLine(u"RECV {\"price\": 11}"_s));
        QCOMPARE(client.linesWith(u"RECV "_s),
                 QStringList({u"welcome"_s, u"{\"price\": 10.5}"_s, u"{\"price\": 11}"_s}));
        // A frame other than the recording's is reported, and the play goes on.
        client.send(u"goodbye"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(mock.peek(1 << 20)).contains(u"与录制不同"_s),
                                 kTimeout);
        mock.terminate();
        QVERIFY(mock.waitForFinished(kTimeout));
        QCOMPARE(mock.exitCode(), 0);
    }

    void shouldAnswerClientsOfTheWindowsServerFromTheRecording()
    {
        REQUIRE_PYTHON();
        SessionBar::chooseConnection = [](QWidget*, const QStringList&) {
            return 1;
        };
        QVERIFY(bar->openFile(fixture));
        c->serverRadio->setChecked(true);
        c->find<QCheckBox>("mockServerCheck")->setChecked(true);
        c->portSpin->setValue(freePort());
        c->connectButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->isConnected(), kTimeout);
        PythonPeer client(u"har_client.py"_s, {u"ws://127.0.0.1:%1/"_s.arg(c->portSpin->value())});
        QVERIFY(client.waitForLine(u"RECV welcome"_s));
        client.send(u"subscribe"_s);
        QVERIFY(client.waitForLine(u"RECV {\"price\": 11}"_s));
        // What the mock sent is logged as any send.
        QTRY_COMPARE_WITH_TIMEOUT(frames().size(), 5 + 4, kTimeout);
        QCOMPARE(frames().last().direction(), LogEntry::TX);
        QCOMPARE(frames().last().rawData(), QByteArray(R"({"price": 11})"));
    }

    void shouldSendAFileAsOneFrame_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("textChosen");
        QTest::addColumn<QString>("echoed");
        QTest::newRow("UTF-8 as text") << u"温度 21\n"_s.toUtf8() << true << u"TEXT "_s;
        QTest::newRow("UTF-8 as binary") << QByteArray("21\n") << false << u"BINARY "_s;
        QTest::newRow("not UTF-8") << QByteArray::fromHex("00ffc3") << true << u"BINARY "_s;
    }
    void shouldSendAFileAsOneFrame()
    {
        REQUIRE_PYTHON();
        QFETCH(QByteArray, content);
        QFETCH(bool, textChosen);
        QFETCH(QString, echoed);
        QFile file(path(u"frame.bin"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        QVERIFY(connectToEcho());
        (textChosen ? c->textRadio : c->binaryRadio)->setChecked(true);
        QVERIFY(bar->sendFile(file.fileName()));
        QVERIFY(echo->waitForLine(echoed + QString::fromLatin1(content.toHex())));
        QCOMPARE(frames().first().rawData(), content);
        QCOMPARE(c->comm->txBytes(), content.size());

        QVERIFY(file.resize(SessionBar::maxFileFrameBytes + 1));
        QVERIFY(!bar->sendFile(file.fileName()));
        QCOMPARE(c->systemTexts().last(), u"未发送：文件太大 (32 MiB，最多 32 MiB)"_s);
    }
};

QTEST_MAIN(SessionTest)
#include "tst_session.moc"

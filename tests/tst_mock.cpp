// `sockwise mock` as a CI job runs it: the real program with no display,
// real python clients on loopback.
#include "PythonPeer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The program headless: no display of any kind in its environment.
struct Mock
{
    QProcess process;
    QStringList out;

    void start(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
            while (process.canReadLine())
                out << QString::fromUtf8(process.readLine()).chopped(1);
        });
        process.start(QStringLiteral(SOCKWISE_BINARY), args);
    }
    bool waitFor(const QString& part)
    {
        return QTest::qWaitFor([&] { return !out.filter(part).isEmpty(); },
                               PythonPeer::defaultTimeout);
    }
    ~Mock()
    {
        process.kill();
        process.waitForFinished();
    }
};

} // namespace

class MockTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    QTemporaryDir dir;

    QString rulesFile(const QByteArray& rules)
    {
        const QString path = dir.filePath(u"rules-%1.json"_s.arg(qHash(rules)));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("{\"format\": \"sockwise-auto-reply\", \"version\": 1, \"rules\": [" + rules +
                   "]}");
        return path;
    }
    // A mock of these rules on a free port; 0 when it did not start.
    quint16 startMock(Mock& mock, const QString& rules, const QStringList& more = {})
    {
        const quint16 port = freePort();
        mock.start(QStringList{u"mock"_s, u"--rules"_s, rules, u"--port"_s, QString::number(port)} +
                   more);
        return mock.waitFor(u"[SYS] WebSocket服务器已启动"_s) ? port : 0;
    }
    static QString url(quint16 port, const QString& path = u"/any/path"_s)
    {
        return u"ws://127.0.0.1:%1%2"_s.arg(port).arg(path);
    }

private slots:
    void initTestCase()
    {
        pythonReady = PythonPeer::available();
        QVERIFY(dir.isValid());
    }

    void shouldAnswerByTheRulesAndPrintEveryFrame()
    {
        REQUIRE_PYTHON();
        Mock mock;
        const quint16 port =
            startMock(mock, QStringLiteral(SOCKWISE_TESTS_DIR "/data/auto-reply-example.json"));
        QVERIFY(port);
        PythonPeer client(u"reply_client.py"_s, {url(port)});
        QVERIFY(client.waitForLine(u"TEXT \"{\\\"type\\\":\\\"welcome\\\",\\\"seq\\\":1}\""_s));
        client.send(u"text ping"_s);
        QVERIFY(client.waitForLine(u"TEXT \"pong\""_s));
        client.send(u"text {\"jsonrpc\":\"2.0\",\"id\":9007199254740993,\"method\":\"getTemp\"}"_s);
        client.send(u"text AT+CSQ"_s);
        client.send(u"hex 0103 0000 000a"_s);
        QVERIFY(client.waitForLine(u"BINARY 0103140001"_s));
        // The rpc answer waits 20 ms, so the later frames overtake it.
        QVERIFY(client.waitForLine(u"TEXT \"OK CSQ\\r\\n\""_s));
        QTRY_VERIFY(
            !client.linesWith(u"TEXT \"{\\\"jsonrpc\\\":\\\"2.0\\\",\\\"id\\\":9007199254740993,"_s)
                 .isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!client.linesWith(u"TEXT \"{\\\"temp\\\":"_s).isEmpty(), 5000);

        const QRegularExpression rx(
            uR"(^\d\d:\d\d:\d\d\.\d{3} \[RX\] 127\.0\.0\.1:\d+ text ping$)"_s);
        QVERIFY2(!mock.out.filter(rx).isEmpty(), qPrintable(mock.out.join(u'\n')));
        QVERIFY(!mock.out.filter(u"[TX] 127.0.0.1:"_s)
                     .filter(u"text pong (自动回复: ping)"_s)
                     .isEmpty());
        QVERIFY(
            !mock.out.filter(u"[RX] 127.0.0.1:"_s).filter(u"binary 01 03 00 00 00 0A"_s).isEmpty());
        QVERIFY(!mock.out.filter(u"text OK CSQ\\r\\n (自动回复: at)"_s).isEmpty());
    }

    void shouldAnswerTheSenderOrEveryClientOnTheServedPath()
    {
        REQUIRE_PYTHON();
        Mock mock;
        const quint16 port = startMock(
            mock,
            rulesFile("{\"name\":\"all\",\"match\":{\"type\":\"contains\",\"value\":\"news\"},"
                      "\"reply\":{\"content\":\"{{payload}} for all\",\"to\":\"all\"}},"
                      "{\"name\":\"me\",\"match\":{\"type\":\"any\"},"
                      "\"reply\":{\"content\":\"just {{peer}}\"}}"),
            {u"--path"_s, u"/ws"_s});
        QVERIFY(port);
        PythonPeer first(u"reply_client.py"_s, {url(port, u"/ws"_s)});
        PythonPeer second(u"reply_client.py"_s, {url(port, u"/ws"_s)});
        PythonPeer elsewhere(u"reply_client.py"_s, {url(port, u"/other"_s)});
        QVERIFY(first.waitForLine(u"OPEN"_s));
        QVERIFY(second.waitForLine(u"OPEN"_s));
        QVERIFY(mock.waitFor(u"路径"_s)); // the refused path is logged
        first.send(u"text hi"_s);
        QTRY_COMPARE(first.linesWith(u"TEXT \"just 127.0.0.1:"_s).size(), 1);
        second.send(u"text big news"_s);
        QVERIFY(first.waitForLine(u"TEXT \"big news for all\""_s));
        QVERIFY(second.waitForLine(u"TEXT \"big news for all\""_s));
        QCOMPARE(second.linesWith(u"TEXT \"just"_s).size(), 0);
        QVERIFY(elsewhere.lines.filter(u"TEXT"_s).isEmpty());
    }

    void shouldSendDelayedRepliesInOrderAndDropThoseOfAClientGone()
    {
        REQUIRE_PYTHON();
        Mock mock;
        const quint16 port = startMock(
            mock, rulesFile("{\"name\":\"list\",\"match\":{\"type\":\"equals\",\"value\":\"list\"},"
                            "\"reply\":[{\"content\":\"a\",\"delayMs\":50},{\"content\":\"b\"},"
                            "{\"content\":\"c\",\"delayMs\":10}]},"
                            "{\"name\":\"fast\",\"match\":{\"type\":\"equals\",\"value\":\"fast\"},"
                            "\"reply\":{\"content\":\"late\",\"delayMs\":300,\"to\":\"all\"}},"
                            "{\"name\":\"slow\",\"match\":{\"type\":\"equals\",\"value\":\"slow\"},"
                            "\"reply\":{\"content\":\"later\",\"delayMs\":600}}"));
        QVERIFY(port);
        PythonPeer gone(u"reply_client.py"_s, {url(port)});
        PythonPeer stays(u"reply_client.py"_s, {url(port)});
        QVERIFY(gone.waitForLine(u"OPEN"_s));
        QVERIFY(stays.waitForLine(u"OPEN"_s));
        stays.send(u"text list"_s);
        QTRY_COMPARE(stays.linesWith(u"TEXT "_s),
                     (QStringList{u"\"a\""_s, u"\"b\""_s, u"\"c\""_s}));
        gone.send(u"text fast"_s);
        QVERIFY(mock.waitFor(u"text fast"_s));
        gone.send(u"close"_s);
        QVERIFY(mock.waitFor(u"客户端断开"_s));
        stays.send(u"text slow"_s);
        // Its 600 ms are past the 300 ms the one gone would have waited.
        QVERIFY(stays.waitForLine(u"TEXT \"later\""_s));
        // Meant for everyone, but caused by the one gone: dropped with it.
        QVERIFY(!stays.lines.contains(u"TEXT \"late\""_s));
        QVERIFY(mock.out.filter(u"(自动回复: fast)"_s).isEmpty());
    }

    void shouldHoldAFloodToTheGuard()
    {
        REQUIRE_PYTHON();
        Mock mock;
        const quint16 port = startMock(
            mock, rulesFile("{\"name\":\"ping\",\"match\":{\"type\":\"equals\",\"value\":\"ping\"},"
                            "\"reply\":{\"content\":\"pong\"}},"
                            "{\"name\":\"done\",\"match\":{\"type\":\"equals\",\"value\":\"done\"},"
                            "\"reply\":{\"content\":\"done-ok\"}}"));
        QVERIFY(port);
        PythonPeer client(u"reply_client.py"_s, {url(port)});
        QVERIFY(client.waitForLine(u"OPEN"_s));
        client.send(u"flood 10000 ping"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!client.linesWith(u"FLOODED "_s).isEmpty(), 60000);
        const QStringList figures = client.linesWith(u"FLOODED "_s).first().split(u' ');
        const int pongs = figures.at(0).toInt();
        const int ms = figures.at(1).toInt();
        QVERIFY2(pongs >= 100 && pongs <= 100 * (ms / 1000 + 1), qPrintable(figures.join(u' ')));
        QTRY_COMPARE(mock.out.filter(u"[SYS] 自动回复 \"ping\" 超过每秒 100 次，已暂停"_s).size(),
                     1);
    }

    void shouldEndCleanlyOnASignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void shouldEndCleanlyOnASignal()
    {
        REQUIRE_PYTHON();
        QFETCH(int, signal);
        Mock mock;
        const quint16 port =
            startMock(mock, QStringLiteral(SOCKWISE_TESTS_DIR "/data/auto-reply-example.json"));
        QVERIFY(port);
        PythonPeer client(u"reply_client.py"_s, {url(port)});
        QVERIFY(client.waitForLine(u"OPEN"_s));
        ::kill(pid_t(mock.process.processId()), signal);
        QVERIFY(mock.process.waitForFinished(PythonPeer::defaultTimeout));
        QCOMPARE(mock.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(mock.process.exitCode(), 0);
        QVERIFY(client.waitForLine(u"CLOSED"_s));
    }

    void shouldRefuseWhatCannotStart_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString good = QStringLiteral(SOCKWISE_TESTS_DIR "/data/auto-reply-example.json");
        const QString badRegex = rulesFile("{\"name\":\"r\",\"match\":{\"type\":\"regex\","
                                           "\"value\":\"[\"},\"reply\":{\"content\":\"x\"}}");
        QTest::newRow("bad regex") << QStringList{u"--rules"_s, badRegex, u"--port"_s, u"1"_s}
                                   << u"规则 1 \"r\" 的 match.value"_s;
        QTest::newRow("no file") << QStringList{u"--rules"_s, dir.filePath(u"none.json"_s),
                                                u"--port"_s, u"1"_s}
                                 << u"无法读取"_s;
        QTest::newRow("no port") << QStringList{u"--rules"_s, good} << u"--port"_s;
        QTest::newRow("bad port") << QStringList{u"--rules"_s, good, u"--port"_s, u"70000"_s}
                                  << u"--port"_s;
        QTest::newRow("unknown option")
            << QStringList{u"--rules"_s, good, u"--bogus"_s} << u"bogus"_s;
        QTest::newRow("bad address")
            << QStringList{u"--rules"_s, good, u"--port"_s, u"1"_s, u"--listen"_s, u"nowhere"_s}
            << u"nowhere"_s;
        QTest::newRow("port in use")
            << QStringList{u"--rules"_s, good, u"--port"_s} << u"监听失败"_s;
    }
    void shouldRefuseWhatCannotStart()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTcpServer taken;
        if (args.last() == u"--port"_s) {
            QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
            args << QString::number(taken.serverPort());
        }
        Mock mock;
        mock.start(QStringList{u"mock"_s} + args);
        QVERIFY(mock.process.waitForFinished(PythonPeer::defaultTimeout));
        QCOMPARE(mock.process.exitCode(), 2);
        const QStringList errors =
            QString::fromUtf8(mock.process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(message), qPrintable(errors.first()));
        QVERIFY(mock.out.isEmpty());
    }

    void shouldTellItsUsageAndVersion()
    {
        for (const QString& word : {u"--help"_s, u"--version"_s}) {
            Mock mock;
            mock.start({word});
            QVERIFY(mock.process.waitForFinished(PythonPeer::defaultTimeout));
            QCOMPARE(mock.process.exitCode(), 0);
            QVERIFY(
                mock.out.join(u'\n').contains(word == u"--help"_s ? u"mock"_s : u"sockwise 1."_s));
        }
        // Words the window does not take are refused before any display is sought.
        for (const QString& word : {u"frob"_s, u"--bogus"_s}) {
            Mock mock;
            mock.start({word});
            QVERIFY(mock.process.waitForFinished(PythonPeer::defaultTimeout));
            QCOMPARE(mock.process.exitCode(), 2);
            const QStringList errors = QString::fromUtf8(mock.process.readAllStandardError())
                                           .split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors.first().contains(word), qPrintable(errors.first()));
        }
    }
};

QTEST_GUILESS_MAIN(MockTest)
#include "tst_mock.moc"

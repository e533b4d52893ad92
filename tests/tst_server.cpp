// Server mode's options and its conduct under load: bound addresses, wss,
// paths, subprotocols, handshake deadlines, peers that reset at once, and a
// process short of file descriptors.
#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"
#include "websocket/ServerOptionsDialog.h"

#include "i18n/LanguageManager.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 15000;

QString wsUrl(const QString& host, quint16 port, const QString& path = u"/ws"_s)
{
    return u"%1://%2:%3%4"_s.arg(u"ws"_s, host).arg(port).arg(path);
}

} // namespace

class ServerTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    std::vector<std::unique_ptr<PythonPeer>> peers;

    quint16 listen(const ServerOptions& options = ServerOptions())
    {
        c->serverRadio->setChecked(true);
        c->connection->setServerOptions(options);
        // Another program may take the port between the probe and the listen.
        for (int attempt = 0; attempt < 5 && !c->isConnected(); ++attempt) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::Any, 0)) {
                c->portSpin->setValue(probe.serverPort());
                probe.close();
                c->connectButton->click();
            }
        }
        return c->isConnected() ? quint16(c->portSpin->value()) : 0;
    }

    PythonPeer* peer(const QString& script, const QStringList& args)
    {
        peers.push_back(std::make_unique<PythonPeer>(script, args));
        return peers.back().get();
    }
    // The first line of the peer that begins with the prefix, once it came.
    static QString lineOf(PythonPeer* peer, const QString& prefix)
    {
        const bool came =
            QTest::qWaitFor([&] { return !peer->linesWith(prefix).isEmpty(); }, kTimeout);
        return came ? peer->linesWith(prefix).first() : u"(none)"_s;
    }

    QStringList systemTexts(const QString& containing) const
    {
        QStringList texts;
        for (const LogEntry& entry : c->comm->entries()) {
            if (entry.direction == LogEntry::SYS && entry.text.contains(containing))
                texts.append(entry.text);
        }
        return texts;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        keepNetworkOnLoopback();
        pythonReady = PythonPeer::available();
    }
    void init()
    {
        window = std::make_unique<WebSocketWidget>();
        c = std::make_unique<WindowControls>(window.get());
    }
    void cleanup()
    {
        c.reset();
        window.reset();
        peers.clear();
        LanguageManager::setEnglish(false);
    }

    void shouldBeReachableOnlyOnTheBoundLoopback_data()
    {
        QTest::addColumn<int>("bind");
        QTest::addColumn<QString>("reached");
        QTest::addColumn<QString>("notReached");
        QTest::newRow("127.0.0.1")
            << int(ServerOptions::Bind::LocalV4) << u"127.0.0.1"_s << u"[::1]"_s;
        QTest::newRow("::1") << int(ServerOptions::Bind::LocalV6) << u"[::1]"_s << u"127.0.0.1"_s;
    }
    void shouldBeReachableOnlyOnTheBoundLoopback()
    {
        QTcpServer v6;
        if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback on this machine");
        QFETCH(int, bind);
        QFETCH(QString, reached);
        QFETCH(QString, notReached);
        ServerOptions options;
        options.bind = ServerOptions::Bind(bind);
        const quint16 port = listen(options);
        QVERIFY(port);
        QWebSocket inside;
        QWebSocket outside;
        QSignalSpy opened(&inside, &QWebSocket::connected);
        QSignalSpy refused(&outside, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
        inside.open(QUrl(wsUrl(reached, port)));
        outside.open(QUrl(wsUrl(notReached, port)));
        QVERIFY(opened.wait(kTimeout));
        QVERIFY(refused.count() || refused.wait(kTimeout));
        QCOMPARE(refused.first().first().value<QAbstractSocket::SocketError>(),
                 QAbstractSocket::ConnectionRefusedError);
        QTRY_COMPARE(c->clientList->count(), 1);
    }

    void shouldServeWssWithTheGivenCertificateAndRefuseABadOne()
    {
        REQUIRE_PYTHON();
        QTemporaryDir dir;
        const QString certificate = dir.filePath(u"cert.pem"_s);
        const QString key = dir.filePath(u"key.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s,
                                     u"-days"_s, u"1"_s, u"-subj"_s, u"/CN=localhost"_s,
                                     u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s,
                                     key, u"-out"_s, certificate});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            QSKIP("openssl could not make a certificate");

        // A certificate where the key should be: nothing listens.
        ServerOptions options;
        options.certificateFile = certificate;
        options.privateKeyFile = certificate;
        c->serverRadio->setChecked(true);
        c->connection->setServerOptions(options);
        c->connectButton->click();
        QVERIFY(!c->isConnected());
        QCOMPARE(systemTexts(u"监听失败"_s),
                 QStringList{u"监听失败: 私钥文件 %1 不是未加密的 PEM 私钥"_s.arg(certificate)});

        options.privateKeyFile = key;
        const quint16 port = listen(options);
        QVERIFY(port);
        const QString url = u"wss://127.0.0.1:%1/ws"_s.arg(port);
        PythonPeer* trusting = peer(u"probe.py"_s, {url, u"--ca"_s, certificate});
        QCOMPARE(lineOf(trusting, u"OPEN "_s), u"-"_s);
        QTRY_VERIFY_WITH_TIMEOUT(c->comm->rxBytes() == 5, kTimeout);
        // Plain text where TLS is expected.
        PythonPeer* plain = peer(u"probe.py"_s, {wsUrl(u"127.0.0.1"_s, port)});
        QVERIFY(!lineOf(plain, u"FAILED "_s).isEmpty());
        QTRY_COMPARE(systemTexts(u"TLS 握手失败"_s).size(), 1);
        QCOMPARE(c->clientList->count(), 1);
    }

    void shouldRefuseOtherPathsAndPickTheClientsFirstSupportedSubprotocol()
    {
        REQUIRE_PYTHON();
        ServerOptions options;
        options.restrictPath = true;
        options.subprotocols = QStringList{u"b"_s, u"a"_s};
        const quint16 port = listen(options);
        QVERIFY(port);
        PythonPeer* stray = peer(u"probe.py"_s, {wsUrl(u"127.0.0.1"_s, port, u"/other"_s)});
        QCOMPARE(lineOf(stray, u"CLOSED "_s), u"1008"_s);
        QCOMPARE(systemTexts(u"/other"_s).size(), 1);
        QCOMPARE(c->clientList->count(), 0);

        PythonPeer* served = peer(u"probe.py"_s, {wsUrl(u"127.0.0.1"_s, port, u"/ws?x=1"_s),
                                                  u"--subprotocols"_s, u"x,a,b"_s});
        QCOMPARE(lineOf(served, u"OPEN "_s), u"a"_s);
        QTRY_COMPARE(c->clientList->count(), 1);
        QCOMPARE(systemTexts(u"子协议: a"_s).size(), 1);
    }

    void shouldDropAClientThatNeverFinishesItsUpgrade()
    {
        ServerOptions options;
        options.handshakeTimeoutSeconds = 1;
        const quint16 port = listen(options);
        QVERIFY(port);
        QTcpSocket silent;
        QSignalSpy dropped(&silent, &QTcpSocket::disconnected);
        QElapsedTimer clock;
        clock.start();
        silent.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(dropped.wait(5000));
        QVERIFY(clock.elapsed() >= 900);
        QCOMPARE(systemTexts(u"未在 1 秒内完成握手"_s).size(), 1);
        QCOMPARE(c->clientList->count(), 0);
    }

    void shouldApplyTheDialogOnOkOnlyAndShowChangedOptions()
    {
        c->serverRadio->setChecked(true);
        auto* button = c->find<QPushButton>("serverOptionsButton");
        button->click();
        auto* dialog = c->find<ServerOptionsDialog>("serverOptionsDialog");
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QComboBox*>(u"bindCombo"_s)->setCurrentIndex(1);
        dialog->findChild<QPushButton*>(u"cancelButton"_s)->click();
        QVERIFY(c->connection->serverOptions().isDefault());
        QVERIFY(button->toolTip().isEmpty());

        button->click();
        QCOMPARE(dialog->findChild<QComboBox*>(u"bindCombo"_s)->currentIndex(), 0);
        dialog->findChild<QComboBox*>(u"bindCombo"_s)->setCurrentIndex(1);
        auto* subprotocols = dialog->findChild<QLineEdit*>(u"subprotocolsEdit"_s);
        subprotocols->setText(u"mqtt, bad/name"_s);
        QTest::keyClick(subprotocols, Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->findChild<QLabel*>(u"optionsProblem"_s)->text(),
                 u"子协议名称含有无效字符"_s);
        subprotocols->setText(u"mqtt, stomp"_s);
        QTest::keyClick(subprotocols, Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(c->connection->serverOptions().bind, ServerOptions::Bind::LocalV4);
        QCOMPARE(c->connection->serverOptions().subprotocols, (QStringList{u"mqtt"_s, u"stomp"_s}));
        QVERIFY(button->toolTip().contains(u"监听地址: 127.0.0.1\n"_s));

        c->languageCombo->setCurrentIndex(1);
        QVERIFY(button->toolTip().contains(u"Subprotocols: mqtt, stomp"_s));
        QCOMPARE(button->text(), u"Server Options"_s);
        QCOMPARE(dialog->windowTitle(), u"Server Options"_s);
        QCOMPARE(dialog->findChild<QPushButton*>(u"okButton"_s)->text(), u"OK"_s);
    }

    // Peers that reset right after their request: every row and entry still
    // names its peer.
    void shouldNameEveryPeerThroughAConnectAndResetChurn()
    {
        REQUIRE_PYTHON();
        const quint16 port = listen();
        QVERIFY(port);
        QStringList joined;
        connect(
            c->connection, &ConnectionManager::clientJoined, this,
            [&joined](ConnectionManager::ClientId, const QString& text) { joined.append(text); });
        PythonPeer* churn = peer(u"reset_churn.py"_s, {QString::number(port), u"400"_s});
        QVERIFY(churn->waitForLine(u"DONE"_s, 60000));
        QTRY_VERIFY_WITH_TIMEOUT(!joined.isEmpty() && c->clientList->count() == 0 &&
                                     systemTexts(u"客户端断开: "_s).size() == joined.size(),
                                 kTimeout);
        const QRegularExpression named(u"^127\\.0\\.0\\.1:[1-9][0-9]*$"_s);
        for (const QString& text : std::as_const(joined))
            QVERIFY2(named.match(text).hasMatch(), qPrintable(text));
        for (const QString& entry : systemTexts(u"客户端"_s))
            QVERIFY2(entry.contains(u"127.0.0.1:"_s) && !entry.contains(u":0"_s),
                     qPrintable(entry));
    }

    // A process allowed 200 descriptors keeps 136 clients, refuses the rest
    // with 1013 under one notice, pauses when accepting fails, never spins,
    // and takes clients again once descriptors are free.
    void shouldKeepItsLimitAndRecoverWhenShortOfDescriptors()
    {
        REQUIRE_PYTHON();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        QProcess child;
        QStringList lines;
        connect(&child, &QProcess::readyReadStandardOutput, this, [&] {
            while (child.canReadLine())
                lines.append(QString::fromUtf8(child.readLine().trimmed()));
        });
        const auto clients = [&lines] {
            const QStringList counts = lines.filter(u"CLIENTS "_s);
            return counts.isEmpty() ? 0 : counts.last().mid(8).toInt();
        };
        const auto cpuMs = [&] {
            lines.removeIf([](const QString& line) { return line.startsWith(u"CPU "_s); });
            child.write("cpu\n");
            const bool came =
                QTest::qWaitFor([&] { return lines.last().startsWith(u"CPU "_s); }, kTimeout);
            return came ? lines.last().mid(4).toLongLong() : -1;
        };
        child.start(QStringLiteral(SOCKWISE_SERVERCHILD), {port, u"200"_s});
        QVERIFY(QTest::qWaitFor([&] { return lines.contains(u"LISTENING"_s); }, kTimeout));
        QElapsedTimer clock;
        clock.start();

        PythonPeer* crowd = peer(u"crowd.py"_s, {wsUrl(u"127.0.0.1"_s, port.toUShort()), u"180"_s});
        QVERIFY(crowd->waitForLine(u"SETTLED"_s, 60000));
        QTRY_COMPARE_WITH_TIMEOUT(crowd->linesWith(u"CLOSED "_s).size(), 44, kTimeout);
        QCOMPARE(clients(), 136);
        QVERIFY(crowd->linesWith(u"CLOSED "_s).filter(QRegularExpression(u" 1013$"_s)).size() ==
                44);
        QCOMPARE(lines.filter(u"客户端数已达上限 136"_s).size(), 1);
        const qint64 cpu = cpuMs();
        QVERIFY2(cpu >= 0 && cpu < clock.elapsed() / 2, "the server spun");

        crowd->send(u"leave 20"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(), 116, kTimeout);
        crowd->send(u"more 10"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(), 126, kTimeout);

        // No descriptor left at all: accepting fails, pauses, and resumes.
        const qint64 cpuBefore = cpuMs();
        clock.restart();
        child.write("hog\n");
        QVERIFY(QTest::qWaitFor([&] { return lines.contains(u"HOGGED"_s); }, kTimeout));
        crowd->send(u"more 3"_s);
        QVERIFY(
            QTest::qWaitFor([&] { return !lines.filter(u"接受连接失败"_s).isEmpty(); }, kTimeout));
        child.write("free\n");
        QTRY_COMPARE_WITH_TIMEOUT(clients(), 129, kTimeout);
        QCOMPARE(lines.filter(u"接受连接失败"_s).size(), 1);
        QCOMPARE(lines.filter(u"已恢复接受新连接"_s).size(), 1);
        const qint64 cpuAfter = cpuMs();
        QVERIFY2(cpuAfter >= 0 && cpuAfter - cpuBefore < clock.elapsed() / 2, "the server spun");
        QCOMPARE(child.state(), QProcess::Running);
        child.kill();
        child.waitForFinished();
    }
};

QTEST_MAIN(ServerTest)
#include "tst_server.moc"

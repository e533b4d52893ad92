// Server mode's options and its conduct under load: bound addresses, wss,
// paths, subprotocols, handshake deadlines, peers that reset at once, and a
// process short of file descriptors.
#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"
#include "websocket/ReadBufferTuner.h"
#include "websocket/ServerOptionsDialog.h"
#include "websocket/ServerSession.h"

#include "i18n/LanguageManager.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 15000;

QString wsUrl(const QString& host, quint16 port)
{
    return u"ws://%1:%2/ws"_s.arg(host).arg(port);
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

    // The first line of a new peer's that begins with the prefix, once it came.
    QString answerOf(const QString& script, const QStringList& args, const QString& prefix)
    {
        peers.push_back(std::make_unique<PythonPeer>(script, args));
        PythonPeer* peer = peers.back().get();
        const bool came =
            QTest::qWaitFor([&] { return !peer->linesWith(prefix).isEmpty(); }, kTimeout);
        return came ? peer->linesWith(prefix).first() : u"(none)"_s;
    }

    QStringList systemTexts(const QString& containing) const
    {
        return c->systemTexts().filter(containing);
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

    void shouldNotBeReachedOnIpv6WhenBoundTo127001()
    {
        QTcpServer v6;
        if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback on this machine");
        ServerOptions options;
        options.bind = ServerOptions::Bind::LocalV4;
        const quint16 port = listen(options);
        QWebSocket inside;
        QWebSocket outside;
        QSignalSpy opened(&inside, &QWebSocket::connected);
        QSignalSpy refused(&outside, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error));
        inside.open(QUrl(wsUrl(u"127.0.0.1"_s, port)));
        outside.open(QUrl(wsUrl(u"[::1]"_s, port)));
        QVERIFY(opened.wait(kTimeout));
        QVERIFY(refused.count() || refused.wait(kTimeout));
        QCOMPARE(refused.first().first(),
                 QVariant::fromValue(QAbstractSocket::ConnectionRefusedError));
    }

    // A wss server serving one path with two subprotocols.
    void shouldServeWssOnOnePathWithTheClientsFirstSupportedSubprotocol()
    {
        REQUIRE_PYTHON();
        QTemporaryDir dir;
        const QString certificate = dir.filePath(u"cert.pem"_s);
        const QString key = dir.filePath(u"key.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      u"req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -addext "
                      "subjectAltName=IP:127.0.0.1 -keyout"_s.split(u' ') +
                          QStringList{key, u"-out"_s, certificate});
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            QSKIP("openssl could not make a certificate");

        // A certificate where the key belongs: the server does not start.
        ServerOptions options;
        options.restrictPath = true;
        options.subprotocols = QStringList{u"b"_s, u"a"_s};
        options.certificateFile = options.privateKeyFile = certificate;
        QCOMPARE(listen(options), 0);
        QCOMPARE(systemTexts(u"监听失败"_s).last(),
                 u"监听失败: 私钥文件 %1 不是未加密的 PEM 私钥"_s.arg(certificate));

        options.privateKeyFile = key;
        const QString url = u"wss://127.0.0.1:%1"_s.arg(listen(options));
        QCOMPARE(systemTexts(u"服务器已启动"_s),
                 QStringList(u"WebSocket服务器已启动，wss 端口 %1，路径 /ws"_s.arg(url.mid(16))));
        QCOMPARE(answerOf(u"probe.py"_s, {url + u"/ws?x=1"_s, certificate, u"x,a,b"_s}, u"OPEN "_s),
                 u"a"_s);
        QTRY_COMPARE_WITH_TIMEOUT(c->comm->rxBytes(), 5, kTimeout);
        QCOMPARE(systemTexts(u"子协议: a"_s).size(), 1);
        QCOMPARE(answerOf(u"probe.py"_s, {url + u"/other"_s, certificate}, u"CLOSED "_s),
                 u"1008"_s);
        QCOMPARE(systemTexts(u"/other"_s).size(), 1);
        // Plain text where TLS is expected.
        QVERIFY(answerOf(u"probe.py"_s, {u"ws"_s + url.mid(3) + u"/ws"_s}, u"FAILED"_s).isEmpty());
        QTRY_COMPARE(systemTexts(u"TLS 握手失败"_s).size(), 1);
        QCOMPARE(c->clientList->count(), 1);
    }

    void shouldDropAClientThatNeverFinishesItsUpgrade()
    {
        ServerOptions options;
        options.handshakeTimeoutSeconds = 1;
        QTcpSocket silent;
        QSignalSpy dropped(&silent, &QTcpSocket::disconnected);
        QElapsedTimer clock;
        clock.start();
        silent.connectToHost(QHostAddress::LocalHost, listen(options));
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
        auto* bind = dialog->findChild<QComboBox*>(u"bindCombo"_s);
        auto* subprotocols = dialog->findChild<QLineEdit*>(u"subprotocolsEdit"_s);
        bind->setCurrentIndex(1);
        dialog->findChild<QPushButton*>(u"cancelButton"_s)->click();
        QVERIFY(c->connection->serverOptions().isDefault());
        QVERIFY(button->toolTip().isEmpty());

        button->click();
        QCOMPARE(bind->currentIndex(), 0);
        bind->setCurrentIndex(1);
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
    // names its peer (one reset before it was announced is no client at all),
    // and the server serves the next client as before.
    void shouldRefuseFilesThatCannotServeWssWhenOkIsPressed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a-rather-long-folder-name-for-the-certificate.pem"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not pem\n") == 8);
        file.close();
        c->serverRadio->setChecked(true);
        c->find<QPushButton>("serverOptionsButton")->click();
        auto* dialog = c->find<ServerOptionsDialog>("serverOptionsDialog");
        auto* certificate = dialog->findChild<QLineEdit*>(u"certificateEdit"_s);
        certificate->setText(path);
        dialog->findChild<QLineEdit*>(u"privateKeyEdit"_s)->setText(path);
        // The whole path shows.
        QVERIFY(certificate->width() > certificate->fontMetrics().horizontalAdvance(path));
        QCOMPARE(certificate->toolTip(), path);

        dialog->findChild<QPushButton*>(u"okButton"_s)->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->findChild<QLabel*>(u"optionsProblem"_s)->text(),
                 u"证书文件 %1 不是 PEM 证书"_s.arg(path));
        QVERIFY(c->connection->serverOptions().isDefault());
    }

    void shouldNameEveryPeerThroughAConnectAndResetChurn()
    {
        REQUIRE_PYTHON();
        const quint16 port = listen();
        QStringList joined;
        connect(
            c->connection, &ConnectionManager::clientJoined, this,
            [&joined](ConnectionManager::ClientId, const QString& text) { joined.append(text); });
        QVERIFY(
            answerOf(u"reset_churn.py"_s, {QString::number(port), u"400"_s}, u"DONE"_s).isEmpty());
        QWebSocket after;
        QSignalSpy opened(&after, &QWebSocket::connected);
        after.open(QUrl(wsUrl(u"127.0.0.1"_s, port)));
        QVERIFY(opened.wait(kTimeout));
        QTRY_VERIFY_WITH_TIMEOUT(
            joined.contains(ServerSession::clientTextOf(after.localAddress(), after.localPort())),
            kTimeout);
        after.close();
        QTRY_VERIFY_WITH_TIMEOUT(c->clientList->count() == 0 &&
                                     systemTexts(u"客户端断开: "_s).size() == joined.size(),
                                 kTimeout);
        const QRegularExpression named(u"^127\\.0\\.0\\.1:[1-9][0-9]*$"_s);
        for (const QString& text : std::as_const(joined))
            QVERIFY2(named.match(text).hasMatch(), qPrintable(text));
        for (const QString& entry : systemTexts(u"客户端"_s))
            QVERIFY2(entry.contains(u"127.0.0.1:"_s) && !entry.contains(u":0"_s),
                     qPrintable(entry));
    }

    // Clients that connect at once while the loop is busy: the kernel queues
    // them all (none waits for its TCP retry a second later), and each client
    // is paired with its own connection: named after it, its read buffer
    // tuned on it.
    void shouldTakeABurstOfClientsEachOnItsOwnConnection()
    {
        constexpr int kBurst = 300;
        QFile limit(u"/proc/sys/net/core/somaxconn"_s);
        if (limit.open(QIODevice::ReadOnly) && limit.readAll().trimmed().toInt() < kBurst)
            QSKIP("net.core.somaxconn is below the burst");
        const quint16 port = listen();
        std::vector<std::unique_ptr<QTcpSocket>> burst;
        for (int i = 0; i < kBurst; ++i) {
            burst.push_back(std::make_unique<QTcpSocket>());
            burst.back()->setProxy(QNetworkProxy::NoProxy);
            burst.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        // Without the loop the server accepts nothing: its queue alone holds them.
        QDeadlineTimer deadline(800);
        QSet<QString> peers;
        for (const auto& socket : burst) {
            if (socket->waitForConnected(int(deadline.remainingTime())))
                peers.insert(u"127.0.0.1:"_s + QString::number(socket->localPort()));
        }
        QCOMPARE(peers.size(), kBurst);
        for (const auto& socket : burst) {
            socket->write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n\r\n");
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(c->connection->clientIds().size()), kBurst, kTimeout);
        QSet<QString> named;
        for (const ConnectionManager::ClientId id : c->connection->clientIds()) {
            const QWebSocket* socket = c->connection->serverClientSocket(id);
            const auto* tuner = socket->findChild<ReadBufferTuner*>();
            QVERIFY(tuner && tuner->transport());
            QCOMPARE(tuner->transport()->peerPort(), socket->peerPort());
            named.insert(c->connection->clientText(id));
        }
        QCOMPARE(named, peers);
        QCOMPARE(systemTexts(u"未在"_s), QStringList());
    }

    // Clients sending large frames at once: their read buffers grow from one
    // shared total, one after the other, and every frame arrives whole.
    void shouldBoundTheClientsReadBuffersTogether()
    {
        REQUIRE_PYTHON();
        constexpr int kClients = 3;
        constexpr qint64 kFrame = 20 * 1024 * 1024;
        constexpr qint64 kTotal = 32 * 1024 * 1024;
        auto* session = window->findChild<ServerSession*>();
        QVERIFY(session);
        session->setReadGrowthTotal(kTotal);
        const quint16 port = listen();
        peers.push_back(std::make_unique<PythonPeer>(
            u"clients.py"_s, QStringList(kClients, wsUrl(u"127.0.0.1"_s, port))));
        PythonPeer* clients = peers.back().get();
        QVERIFY(clients->waitForLine(u"READY"_s));
        QTRY_COMPARE_WITH_TIMEOUT(int(c->connection->clientIds().size()), kClients, kTimeout);

        qint64 largest = 0;
        QTimer sample;
        connect(&sample, &QTimer::timeout, this, [&] {
            qint64 sum = 0;
            for (const ConnectionManager::ClientId id : c->connection->clientIds())
                sum += c->connection->serverClientSocket(id)->readBufferSize();
            largest = std::max(largest, sum);
        });
        sample.start(1);
        QList<QByteArray> received;
        connect(c->connection, &ConnectionManager::binaryReceived, this,
                [&received](const QByteArray& data) { received.append(data); });
        for (int i = 0; i < kClients; ++i)
            clients->send(u"sendlarge %1 binary %2"_s.arg(i).arg(kFrame));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), kClients, 60000);
        sample.stop();

        QByteArray expected(kFrame, '\0');
        for (qint64 i = 0; i < kFrame; ++i)
            expected[i] = char(((i % 251) * 31 + 7) & 0xFF);
        for (const QByteArray& frame : std::as_const(received))
            QVERIFY(frame == expected);
        QVERIFY2(largest <= kTotal + kClients * ReadBufferTuner::smallBufferSize,
                 qPrintable(QString::number(largest)));
        QTRY_COMPARE_WITH_TIMEOUT(session->readGrowthAvailable(), kTotal, kTimeout);
    }

    // A process allowed 200 descriptors keeps 136 clients, refuses the rest
    // with 1013 under one notice, pauses when accepting fails, never spins,
    // and takes clients again once descriptors are free.
    void shouldKeepItsLimitAndRecoverWhenShortOfDescriptors()
    {
        REQUIRE_PYTHON();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        QProcess child;
        QStringList lines;
        connect(&child, &QProcess::readyReadStandardOutput, this, [&] {
            while (child.canReadLine())
                lines.append(QString::fromUtf8(child.readLine().trimmed()));
        });
        const auto clients = [&lines] {
            const QStringList counts = lines.filter(u"CLIENTS "_s);
            return counts.isEmpty() ? QString() : counts.last();
        };
        const auto seen = [&lines](const QString& text) {
            return lines.filter(text).size();
        };
        const auto cpuMs = [&] {
            child.write("cpu\n");
            const bool came =
                QTest::qWaitFor([&] { return lines.last().startsWith(u"CPU "_s); }, kTimeout);
            return came ? lines.takeLast().mid(4).toLongLong() : -1;
        };
        child.start(QStringLiteral(SOCKWISE_SERVERCHILD), {QString::number(port), u"200"_s});
        QVERIFY(QTest::qWaitFor([&] { return seen(u"LISTENING"_s); }, kTimeout));
        // The process's start-up is not the server's doing.
        const qint64 cpuAtStart = cpuMs();
        QElapsedTimer clock;
        clock.start();

        peers.push_back(std::make_unique<PythonPeer>(
            u"crowd.py"_s, QStringList{wsUrl(u"127.0.0.1"_s, port), u"180"_s}));
        PythonPeer* crowd = peers.back().get();
        QVERIFY(crowd->waitForLine(u"SETTLED"_s, 60000));
        QTRY_COMPARE_WITH_TIMEOUT(crowd->linesWith(u"CLOSED 1013"_s).size(), 44, kTimeout);
        QCOMPARE(clients(), u"CLIENTS 136"_s);
        QCOMPARE(seen(u"客户端数已达上限 136"_s), 1);
        const qint64 cpu = cpuMs();
        QVERIFY2(cpuAtStart >= 0 && cpu >= 0 && cpu - cpuAtStart < clock.elapsed() / 2,
                 "the server spun");

        crowd->send(u"leave 20"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(), u"CLIENTS 116"_s, kTimeout);
        crowd->send(u"more 10"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(), u"CLIENTS 126"_s, kTimeout);

        // No descriptor left at all: accepting fails, pauses, and resumes.
        const qint64 cpuBefore = cpuMs();
        clock.restart();
        child.write("hog\n");
        QVERIFY(QTest::qWaitFor([&] { return seen(u"HOGGED"_s); }, kTimeout));
        crowd->send(u"more 3"_s);
        QVERIFY(QTest::qWaitFor([&] { return seen(u"接受连接失败"_s); }, kTimeout));
        child.write("free\n");
        QTRY_COMPARE_WITH_TIMEOUT(clients(), u"CLIENTS 129"_s, kTimeout);
        QCOMPARE(seen(u"接受连接失败"_s), 1);
        QCOMPARE(seen(u"已恢复接受新连接"_s), 1);
        const qint64 cpuAfter = cpuMs();
        QVERIFY2(cpuAfter >= 0 && cpuAfter - cpuBefore < clock.elapsed() / 2, "the server spun");
        QCOMPARE(child.state(), QProcess::Running);
        child.kill();
        child.waitForFinished();
    }
};

QTEST_MAIN(ServerTest)
#include "tst_server.moc"

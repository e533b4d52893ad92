// Client mode's connection options against real peers on loopback: Debian's
// python3-websockets (tests/peers/handshake_server.py), a CONNECT proxy, and
// plain Qt TCP servers that misbehave on purpose.
#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"

#include "i18n/LanguageManager.h"
#include "websocket/ConnectionOptionsDialog.h"
#include "websocket/SecretMask.h"
#include "websocket/SystemProxy.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using State = ConnectionManager::State;

namespace {

constexpr int kTimeout = 15000;

QString wsUrl(quint16 port, const QString& scheme = u"ws"_s)
{
    return u"%1://127.0.0.1:%2/"_s.arg(scheme).arg(port);
}

} // namespace

class ClientOptionsTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    std::vector<std::unique_ptr<PythonPeer>> peers;

    // Starts a peer and returns the port it printed (0 when it did not).
    quint16 start(const QString& script, const QStringList& args = {})
    {
        peers.push_back(std::make_unique<PythonPeer>(script, args));
        PythonPeer* peer = peers.back().get();
        return QTest::qWaitFor([peer] { return !peer->linesWith(u"PORT "_s).isEmpty(); }, kTimeout)
                   ? peer->linesWith(u"PORT "_s).first().toUShort()
                   : 0;
    }
    PythonPeer* peer(size_t i = 0) const { return peers.at(i).get(); }

    void connectWith(const ClientOptions& options, const QString& url)
    {
        c->connection->setClientOptions(options);
        c->urlEdit->setText(url);
        c->connectButton->click();
    }
    bool reaches(State state, int timeout = kTimeout)
    {
        return QTest::qWaitFor([&] { return c->connection->state() == state; }, timeout);
    }
    QStringList log(int from = 0) const
    {
        QStringList texts;
        for (const LogEntry& entry : c->comm->entries().mid(from))
            texts.append(entry.direction == LogEntry::SYS ? entry.text : entry.peer);
        return texts;
    }
    // Entries from `from` on that begin with `prefix`.
    QStringList logged(const QString& prefix, int from = 0) const
    {
        return log(from).filter(QRegularExpression(u"^"_s + QRegularExpression::escape(prefix)));
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

    void shouldSendHeadersSubprotocolsAndOriginWithSecretsNeverShown()
    {
        REQUIRE_PYTHON();
        const quint16 port =
            start(u"handshake_server.py"_s,
                  {u"--protocols"_s, u"mqtt"_s, u"--token"_s, u"Authorization:Bearer s3cret"_s});
        QVERIFY(port);
        // Without the token header the server refuses, and the log says how.
        const QString secretUrl = u"ws://bob:pw9@127.0.0.1:%1/?token=abc9&x=1"_s.arg(port);
        connectWith(ClientOptions(), secretUrl);
        QVERIFY(peer()->waitForLine(u"REFUSED 401"_s));
        QVERIFY(reaches(State::Idle));
        QVERIFY(log().contains(u"正在连接 ws://•••@127.0.0.1:%1/?token=•••&x=1..."_s.arg(port)));
        QTRY_COMPARE(logged(u"服务器拒绝升级: "_s),
                     QStringList{u"服务器拒绝升级: HTTP 401 Unauthorized"_s});

        ClientOptions options;
        options.headers = u"Authorization: Bearer s3cret\nX-Trace: 7"_s;
        options.subprotocols = QStringList{u"graphql-transport-ws"_s, u"mqtt"_s};
        options.origin = u"https://app.example"_s;
        connectWith(options, secretUrl);
        QVERIFY(reaches(State::Connected));
        for (const QString& header :
             {u"Authorization: Bearer s3cret"_s, u"X-Trace: 7"_s, u"Origin: https://app.example"_s,
              u"Sec-WebSocket-Protocol: graphql-transport-ws, mqtt"_s})
            QVERIFY2(peer()->lines.contains(u"HEADER "_s + header), qPrintable(header));
        QVERIFY(peer()->waitForLine(u"OPEN mqtt"_s));
        QVERIFY(log().contains(u"子协议: mqtt"_s));
        QVERIFY(log().contains(u"连接选项: 请求头: Authorization: •••, X-Trace: 7；子协议: "
                               "graphql-transport-ws, mqtt；Origin: https://app.example"_s));

        // None of the server's protocols offered: connected, and said so.
        options.subprotocols = QStringList{u"stomp"_s};
        c->connectButton->click();
        connectWith(options, wsUrl(port));
        QVERIFY(reaches(State::Connected));
        QVERIFY(log().contains(u"服务器未选择子协议"_s));

        // Secrets reach neither the log, its export nor the address tooltip.
        QTemporaryDir dir;
        QVERIFY(c->comm->exportToFile(dir.filePath(u"log.csv"_s), false, true));
        QFile file(dir.filePath(u"log.csv"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString shown =
            log().join(u'\n') + QString::fromUtf8(file.readAll()) + c->urlEdit->toolTip();
        QVERIFY(c->urlEdit->toolTip().contains(u"Authorization: •••"_s));
        for (const char* secret : {"s3cret", "pw9", "abc9"})
            QVERIFY2(!shown.contains(QLatin1String(secret)), secret);
    }

    void shouldPointOutMalformedHeadersAndApplyOnlyOnOk()
    {
        c->find<QPushButton>("clientOptionsButton")->click();
        auto* dialog = window->findChild<ConnectionOptionsDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        auto* headers = dialog->findChild<QPlainTextEdit*>(u"headersEdit"_s);
        auto* problems = dialog->findChild<QLabel*>(u"optionsProblems"_s);
        headers->setPlainText(u"Host: evil\nno colon\nX-Ok: 1"_s);
        dialog->findChild<QPushButton*>(u"optionsOkButton"_s)->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(problems->text(), u"第 1 行：Host 由握手本身设置，不能覆盖\n"
                                   "第 2 行：缺少冒号，应为 Name: value"_s);
        LanguageManager::setEnglish(true);
        QCOMPARE(dialog->windowTitle(), u"Connection Options"_s);
        QVERIFY(problems->text().startsWith(u"Line 1: Host is set by the handshake itself"_s));
        LanguageManager::setEnglish(false);
        QVERIFY(c->connection->clientOptions().isDefault());

        headers->setPlainText(u"X-Ok: 1"_s);
        dialog->findChild<QSpinBox*>(u"heartbeatSpin"_s)->setValue(5);
        QTest::keyClick(dialog->findChild<QLineEdit*>(u"originEdit"_s), Qt::Key_Return);
        QTRY_VERIFY(!window->findChild<ConnectionOptionsDialog*>());
        QCOMPARE(c->connection->clientOptions().headers, u"X-Ok: 1"_s);
        QCOMPARE(c->urlEdit->toolTip(), u"连接选项:\n请求头: X-Ok: 1\n心跳: 5 s"_s);

        // Esc leaves the options as they were.
        c->find<QPushButton>("clientOptionsButton")->click();
        dialog = window->findChild<ConnectionOptionsDialog*>();
        dialog->findChild<QPlainTextEdit*>(u"headersEdit"_s)->setPlainText(u"X-Other: 2"_s);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(!window->findChild<ConnectionOptionsDialog*>());
        QCOMPARE(c->connection->clientOptions().headers, u"X-Ok: 1"_s);
    }

    void shouldVerifyCertificatesUnlessIgnoredOrTrustedFromCaFile()
    {
        REQUIRE_PYTHON();
        if (!QSslSocket::supportsSsl())
            QSKIP("no TLS backend");
        QTemporaryDir dir;
        const QString cert = dir.filePath(u"cert.pem"_s);
        const QString key = dir.filePath(u"key.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"1"_s,
                       u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s,
                       u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s, key, u"-out"_s, cert});
        QVERIFY2(openssl.waitForFinished(kTimeout) && openssl.exitCode() == 0, "openssl failed");
        const quint16 port = start(u"handshake_server.py"_s, {u"--tls"_s, cert, key});
        QVERIFY(port);

        connectWith(ClientOptions(), wsUrl(port, u"wss"_s));
        QVERIFY(reaches(State::Idle));
        QTRY_VERIFY(!logged(u"证书错误: "_s).isEmpty());
        QVERIFY(!peer()->lines.contains(u"OPEN -"_s));

        ClientOptions ignoring;
        ignoring.ignoreCertificateErrors = true;
        int from = int(c->comm->entries().size());
        connectWith(ignoring, wsUrl(port, u"wss"_s));
        QVERIFY(reaches(State::Connected));
        QVERIFY(!logged(u"已忽略证书错误: "_s, from).isEmpty());
        c->connectButton->click();

        ClientOptions trusting;
        trusting.caFile = cert;
        from = int(c->comm->entries().size());
        connectWith(trusting, wsUrl(port, u"wss"_s));
        QVERIFY(reaches(State::Connected));
        QCOMPARE(logged(u"已忽略"_s, from) + logged(u"证书错误"_s, from), QStringList());
    }

    void shouldGiveUpAHandshakeThatTakesTooLong()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        ClientOptions options;
        options.handshakeTimeoutSeconds = 1;
        connectWith(options, wsUrl(silent.serverPort()));
        QVERIFY(reaches(State::Connecting, 0));
        QTRY_VERIFY(silent.hasPendingConnections());
        QSignalSpy gone(silent.nextPendingConnection(), &QTcpSocket::disconnected);
        QVERIFY(reaches(State::Idle, 5000));
        QVERIFY(log().contains(u"握手超时：1 秒内未完成，已放弃连接"_s));
        QVERIFY(gone.count() > 0 || gone.wait(kTimeout));
        QCOMPARE(c->connectButton->text(), u"连接"_s);
    }

    void shouldAbortTheSocketWhenTheHandshakeFails()
    {
        // Answers the upgrade with an endless header, as long as anyone reads it.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QPointer<QTcpSocket> accepted;
        qint64 sent = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            accepted = server.nextPendingConnection();
            accepted->write("HTTP/1.1 101 Switching Protocols\r\n");
            connect(accepted, &QTcpSocket::bytesWritten, accepted, [&](qint64 bytes) {
                sent += bytes;
                if (accepted->bytesToWrite() == 0)
                    accepted->write("X-Pad: " + QByteArray(4000, 'a') + "\r\n");
            });
        });
        ClientOptions untimed; // the timeout would end it too, later
        untimed.handshakeTimeoutSeconds = 0;
        connectWith(untimed, wsUrl(server.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(accepted && accepted->state() == QAbstractSocket::UnconnectedState,
                                 kTimeout);
        QVERIFY(reaches(State::Idle));
        QVERIFY2(sent < 8 << 20, qPrintable(QString::number(sent)));
        QCOMPARE(logged(u"连接错误: "_s).size(), 1);
    }

    void shouldReconnectWithBackOffOnlyAfterDropsNotAskedFor()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        QVERIFY(port);
        c->connection->setReconnectDelays(50, 200);
        ClientOptions options;
        options.autoReconnect = true;
        connectWith(options, wsUrl(port));
        QVERIFY(reaches(State::Connected));

        // A server that goes away (1001, then refused attempts) is retried,
        // each wait twice the last up to the cap.
        peer()->send(u"stop"_s);
        QTRY_VERIFY_WITH_TIMEOUT(logged(u"第 4 次重连："_s).size() == 1, kTimeout);
        QCOMPARE(logged(u"关闭代码 1001"_s).size(), 1);
        QCOMPARE(logged(u"0."_s).mid(0, 4),
                 (QStringList{u"0.05 秒后第 1 次重连"_s, u"0.1 秒后第 2 次重连"_s,
                              u"0.2 秒后第 3 次重连"_s, u"0.2 秒后第 4 次重连"_s}));
        QVERIFY(QTest::qWaitFor([this] { return c->statusText().startsWith(u"◆ 重连中 ("_s); }));
        QCOMPARE(c->connectButton->text(), u"断开"_s);
        peer()->send(u"start"_s);
        QVERIFY(reaches(State::Connected));

        // A drop without a close frame starts again from the first wait; a
        // change of address ends the retries.
        int from = int(c->comm->entries().size());
        peer()->send(u"drop"_s);
        QTRY_VERIFY(!logged(u"0.05 秒后第 1 次重连"_s, from).isEmpty());
        QVERIFY(reaches(State::Connected));
        peer()->send(u"stop"_s);
        QVERIFY(reaches(State::Reconnecting));
        c->urlEdit->setText(wsUrl(port) + u"x"_s);
        QCOMPARE(c->connection->state(), State::Idle);
        QCOMPARE(log().last(), u"地址已更改，停止重连"_s);

        // So does the user's click, and a close of 1000 is not retried.
        peer()->send(u"start"_s);
        connectWith(options, wsUrl(port));
        QVERIFY(reaches(State::Connected));
        peer()->send(u"stop"_s);
        QVERIFY(reaches(State::Reconnecting));
        c->connectButton->click();
        QCOMPARE(c->connection->state(), State::Idle);
        peer()->send(u"start"_s);
        connectWith(options, wsUrl(port));
        QVERIFY(reaches(State::Connected));
        from = int(c->comm->entries().size());
        peer()->send(u"close"_s);
        QVERIFY(reaches(State::Idle));
        QVERIFY(!QTest::qWaitFor([&] { return !logged(u"第 1 次重连"_s, from).isEmpty(); }, 300));
    }

    void shouldLogPongOfAPingAndCloseWhenHeartbeatsGoUnanswered()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        QVERIFY(port);
        ClientOptions options;
        options.heartbeatSeconds = 1;
        connectWith(options, wsUrl(port));
        QVERIFY(reaches(State::Connected));
        const int from = int(c->comm->entries().size());
        c->find<QPushButton>("pingButton")->click();
        QTRY_COMPARE(logged(u"Pong "_s).size(), 1);
        QVERIFY(logged(u"Pong "_s).first().endsWith(u" ms"_s));
        // Heartbeats reach the server and leave no trace in the log or counters.
        QTRY_VERIFY_WITH_TIMEOUT(peer()->lines.count(u"PING"_s) >= 3, kTimeout);
        QCOMPARE(log(from).size(), 1);
        QCOMPARE(c->comm->txBytes() + c->comm->rxBytes(), 0);

        peer()->send(u"mute"_s);
        QVERIFY(reaches(State::Idle, 5000));
        QCOMPARE(log(from + 1), QStringList{u"心跳超时：1 秒内未收到 Pong，已断开连接"_s});
    }

    void shouldGoThroughTheChosenProxyOnly()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        const quint16 proxyPort = start(u"connect_proxy.py"_s);
        QVERIFY(port && proxyPort);
        const QString tunnel = u"CONNECT 127.0.0.1:%1"_s.arg(port);
        auto connectVia = [&](ClientOptions::Proxy proxy) {
            ClientOptions options;
            options.proxy = proxy;
            options.proxyHost = u"127.0.0.1"_s;
            options.proxyPort = proxyPort;
            connectWith(options, wsUrl(port));
            const bool up = reaches(State::Connected);
            c->connectButton->click();
            return up;
        };
        // None means none, even with an application-wide proxy.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, proxyPort));
        const bool direct = connectVia(ClientOptions::Proxy::None);
        keepNetworkOnLoopback();
        QVERIFY(direct);
        QVERIFY(connectVia(ClientOptions::Proxy::Http));
        QVERIFY(peer(1)->waitForLine(tunnel));
        QCOMPARE(peer(1)->lines.count(tunnel), 1);

        qputenv("http_proxy", u"http://127.0.0.1:%1"_s.arg(proxyPort).toLatin1());
        qputenv("no_proxy", "example.org");
        QVERIFY(connectVia(ClientOptions::Proxy::System));
        qputenv("no_proxy", "localhost,127.0.0.0/8");
        QVERIFY(connectVia(ClientOptions::Proxy::System));
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
        QCOMPARE(peer(1)->lines.count(tunnel), 2);
        QCOMPARE(logged(u"系统代理: "_s),
                 (QStringList{u"系统代理: HTTP 127.0.0.1:%1"_s.arg(proxyPort),
                              u"系统代理: 不使用代理"_s}));

        ClientOptions socks;
        socks.proxy = ClientOptions::Proxy::Socks5;
        socks.proxyHost = u"127.0.0.1"_s;
        socks.proxyPort = 1;
        connectWith(socks, wsUrl(port));
        QCOMPARE(c->connection->clientModeSocket()->proxy().type(), QNetworkProxy::Socks5Proxy);
    }

    void shouldReadProxiesAndMaskSecretsLikeCommandLineTools()
    {
        const QHash<QByteArray, QByteArray> env{{"https_proxy", "socks5h://u:p@10.0.0.1"},
                                                {"all_proxy", "proxy.lan:3128"},
                                                {"no_proxy", ".corp.example, 192.168.0.0/16"}};
        auto proxyFor = [&](const char* url) {
            return SystemProxy::forUrl(QUrl(QLatin1String(url)),
                                       [&](const char* name) { return env.value(name); })
                .value_or(QNetworkProxy(QNetworkProxy::DefaultProxy));
        };
        QCOMPARE(proxyFor("wss://a.b/").type(), QNetworkProxy::Socks5Proxy);
        QCOMPARE(proxyFor("wss://a.b/").port(), quint16(1080));
        QCOMPARE(proxyFor("wss://a.b/").password(), u"p"_s);
        QCOMPARE(proxyFor("ws://a.b/").hostName(), u"proxy.lan"_s);
        QCOMPARE(proxyFor("ws://a.b/").port(), quint16(3128));
        for (const char* bypassed :
             {"wss://corp.example/", "ws://x.corp.example/", "ws://192.168.4.5/"})
            QCOMPARE(proxyFor(bypassed).type(), QNetworkProxy::NoProxy);

        QCOMPARE(SecretMask::address(u"wss://u:p@h:1/a?api_key=1&q=2&%74oken=3#f?password=4"_s),
                 u"wss://•••@h:1/a?api_key=•••&q=2&%74oken=•••#f?password=4"_s);
        QCOMPARE(SecretMask::headers(u"Cookie: a=1\nAccept: */*"_s), u"Cookie: •••\nAccept: */*"_s);
    }
};

QTEST_MAIN(ClientOptionsTest)
#include "tst_clientoptions.moc"

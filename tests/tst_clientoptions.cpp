// Client mode's connection options against python3-websockets, a CONNECT
// proxy and Qt TCP servers that misbehave on purpose, all on loopback.
#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"

#include "i18n/LanguageManager.h"
#include "websocket/ConnectionOptionsDialog.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using State = ConnectionManager::State;

class ClientOptionsTest : public QObject
{
    Q_OBJECT

    static constexpr int kTimeout = 15000;
    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    std::vector<std::unique_ptr<PythonPeer>> peers;

    // Starts a peer; its port, or 0 when it printed none.
    quint16 start(const QString& script, const QStringList& args = {})
    {
        PythonPeer* peer = peers.emplace_back(std::make_unique<PythonPeer>(script, args)).get();
        return QTest::qWaitFor([peer] { return !peer->linesWith(u"PORT "_s).isEmpty(); }, kTimeout)
                   ? peer->linesWith(u"PORT "_s).first().toUShort()
                   : 0;
    }
    PythonPeer* peer(size_t i = 0) const { return peers.at(i).get(); }
    static QString url(quint16 port, const char* scheme = "ws")
    {
        return u"%1://127.0.0.1:%2/"_s.arg(QLatin1String(scheme)).arg(port);
    }
    // Options belong to the address shown: the address goes in first.
    void connectWith(const ClientOptions& options, const QString& address)
    {
        c->urlEdit->setText(address);
        c->connection->setClientOptions(options);
        c->connectButton->click();
    }
    bool reaches(State state, int timeout = kTimeout)
    {
        return QTest::qWaitFor([&] { return c->connection->state() == state; }, timeout);
    }
    int mark() const { return int(c->comm->entries().size()); }
    // System entries from `from` on, those beginning with `prefix` only.
    QStringList log(int from = 0, const QString& prefix = QString()) const
    {
        QStringList texts = c->systemTexts(from);
        texts.removeIf([&](const QString& text) { return !text.startsWith(prefix); });
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

    void shouldSendHeadersSubprotocolsAndOriginWithSecretsNeverShown()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s, {u"--protocols"_s, u"mqtt"_s,
                                                              u"--token"_s, u"Cookie:id=s3cret"_s});
        QVERIFY(port);
        // Without the token header the server refuses, and the log says how.
        const QString secretUrl = u"ws://bob:pw9@127.0.0.1:%1/?token=abc9&x=1"_s.arg(port);
        connectWith(ClientOptions(), secretUrl);
        QVERIFY(peer()->waitForLine(u"REFUSED 401"_s) && reaches(State::Idle));
        QCOMPARE(log().first(), u"正在连接 ws://•••@127.0.0.1:%1/?token=•••&x=1..."_s.arg(port));
        QTRY_COMPARE(log(0, u"服务器拒绝"_s),
                     QStringList{u"服务器拒绝升级: HTTP 401 Unauthorized"_s});

        ClientOptions options;
        options.headers = u"Cookie: id=s3cret\nX-Trace: 7"_s;
        options.subprotocols = QStringList{u"graphql-transport-ws"_s, u"mqtt"_s};
        options.origin = u"https://app.example"_s;
        connectWith(options, secretUrl);
        QVERIFY(reaches(State::Connected) && peer()->waitForLine(u"OPEN mqtt"_s));
        for (const QString& header :
             {u"Cookie: id=s3cret"_s, u"X-Trace: 7"_s, u"Origin: https://app.example"_s,
              u"Sec-WebSocket-Protocol: graphql-transport-ws, mqtt"_s})
            QVERIFY2(peer()->lines.contains(u"HEADER "_s + header), qPrintable(header));
        QVERIFY(log().contains(u"子协议: mqtt"_s));
        QVERIFY(log().contains(u"连接选项: 请求头: Cookie: •••, X-Trace: 7；子协议: "
                               "graphql-transport-ws, mqtt；Origin: https://app.example"_s));

        // None of the server's protocols offered: connected, and said so.
        options.subprotocols = QStringList{u"stomp"_s};
        c->connectButton->click();
        connectWith(options, url(port));
        QVERIFY(reaches(State::Connected));
        QCOMPARE(log().last(), u"服务器未选择子协议"_s);

        // Secrets reach neither the log (nor so its export) nor the address tooltip.
        QVERIFY(c->urlEdit->toolTip().contains(u"Cookie: •••"_s));
        for (const char* secret : {"s3cret", "pw9", "abc9"})
            QVERIFY(
                !QString(log().join(u' ') + c->urlEdit->toolTip()).contains(QLatin1String(secret)));
    }

    void shouldNotSendASecretHeaderWhoseValueWasNotKept()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Sockwise.conf"_s);
        {
            WebSocketWidget earlier;
            earlier.useSettingsFile(path);
            ClientOptions options;
            options.headers = u"Authorization: Bearer s3cret\nX-Room: 7"_s;
            options.autoReconnect = true;
            earlier.connection()->setClientOptions(options);
        }
        window->useSettingsFile(path);
        const ClientOptions restored = window->connection()->clientOptions();
        connectWith(restored, url(port));
        QVERIFY(port && reaches(State::Connected) && peer()->waitForLine(u"OPEN -"_s));
        QVERIFY(peer()->lines.contains(u"HEADER X-Room: 7"_s));
        QVERIFY(peer()->linesWith(u"HEADER Authorization"_s).isEmpty());
        // Said once, also when the connection is tried again.
        peer()->send(u"drop"_s);
        QVERIFY(reaches(State::Reconnecting) && reaches(State::Connected));
        QCOMPARE(log(0, u"请求头"_s),
                 QStringList{u"请求头 Authorization 的值未保存，未发送；请在连接选项中重新填写"_s});
        QVERIFY(log(0, u"连接选项"_s).contains(u"连接选项: 请求头: X-Room: 7；自动重连"_s));
    }

    void shouldPointOutMalformedHeadersAndApplyOnlyOnOk()
    {
        c->find<QPushButton>("clientOptionsButton")->click();
        auto* dialog = window->findChild<ConnectionOptionsDialog*>();
        auto* headers = dialog->findChild<QPlainTextEdit*>(u"headersEdit"_s);
        auto* problems = dialog->findChild<QLabel*>(u"optionsProblems"_s);
        headers->setPlainText(u"Host: evil\nno colon\nX-Ok: 1"_s);
        dialog->findChild<QPushButton*>(u"optionsOkButton"_s)->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(problems->text(),
                 u"第 1 行：Host 由握手本身设置，不能覆盖\n第 2 行：缺少冒号，应为 Name: value"_s);
        LanguageManager::setEnglish(true);
        QCOMPARE(dialog->windowTitle(), u"Connection Options"_s);
        QVERIFY(problems->text().startsWith(u"Line 1: Host is set by the handshake itself"_s));
        LanguageManager::setEnglish(false);
        QVERIFY(c->connection->clientOptions().isDefault());

        headers->setPlainText(u"X-Ok: 1"_s);
        dialog->findChild<QSpinBox*>(u"heartbeatSpin"_s)->setValue(5);
        QTest::keyClick(dialog->findChild<QLineEdit*>(u"originEdit"_s), Qt::Key_Return);
        QTRY_VERIFY(!window->findChild<ConnectionOptionsDialog*>());
        QCOMPARE(c->urlEdit->toolTip(),
                 u"ws://127.0.0.1:8080/ws\n连接选项:\n请求头: X-Ok: 1\n心跳: 5 s"_s);
        QCOMPARE(c->connection->clientOptions().headers, u"X-Ok: 1"_s);
    }

    void shouldVerifyCertificatesUnlessIgnoredOrTrustedFromCaFile()
    {
        REQUIRE_PYTHON();
        QTemporaryDir dir;
        const QString cert = dir.filePath(u"cert.pem"_s), key = dir.filePath(u"key.pem"_s);
        QProcess openssl;
        openssl.start(u"openssl"_s,
                      u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -out"_s.split(u' ') +
                          QStringList{cert, u"-keyout"_s, key});
        QVERIFY2(openssl.waitForFinished(kTimeout) && openssl.exitCode() == 0, "openssl failed");
        const quint16 port = start(u"handshake_server.py"_s, {u"--tls"_s, cert, key});
        QVERIFY(port);

        connectWith(ClientOptions(), url(port, "wss"));
        QVERIFY(reaches(State::Idle));
        QTRY_VERIFY(!log(0, u"证书错误: "_s).isEmpty());
        // The refusal is the one entry: no failed connection, no disconnection.
        QCOMPARE(log().size(), 1 + log(0, u"证书错误: "_s).size());
        ClientOptions options;
        options.ignoreCertificateErrors = true;
        int from = mark();
        connectWith(options, url(port, "wss"));
        QVERIFY(reaches(State::Connected) && !log(from, u"已忽略证书错误: "_s).isEmpty());
        c->connectButton->click();
        options = ClientOptions();
        options.caFile = cert;
        from = mark();
        connectWith(options, url(port, "wss"));
        QVERIFY(reaches(State::Connected));
        QCOMPARE(log(from, u"已忽略"_s) + log(from, u"证书错误"_s), QStringList());
    }

    void shouldEndAttemptsThatStallOrFailTheHandshake()
    {
        // One peer never answers; the other answers with an endless header.
        QTcpServer silent, endless;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0) &&
                endless.listen(QHostAddress::LocalHost, 0));
        ClientOptions options;
        options.handshakeTimeoutSeconds = 1;
        connectWith(options, url(silent.serverPort()));
        QTRY_VERIFY(silent.hasPendingConnections());
        QSignalSpy gone(silent.nextPendingConnection(), &QTcpSocket::disconnected);
        QVERIFY(reaches(State::Idle, 5000) && (gone.count() || gone.wait(kTimeout)));
        QCOMPARE(log().last(), u"握手超时：1 秒内未完成，已放弃连接"_s);

        QPointer<QTcpSocket> server;
        qint64 sent = 0;
        connect(&endless, &QTcpServer::newConnection, this, [&] {
            server = endless.nextPendingConnection();
            server->write("HTTP/1.1 101 Switching Protocols\r\n");
            connect(server, &QTcpSocket::bytesWritten, server, [&](qint64 bytes) {
                sent += bytes;
                server->write("X-Pad: " + QByteArray(4000, 'a') + "\r\n");
            });
        });
        options.handshakeTimeoutSeconds = 0; // the timeout would end it too, later
        connectWith(options, url(endless.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(server && server->state() == QAbstractSocket::UnconnectedState,
                                 kTimeout);
        QVERIFY(reaches(State::Idle) && sent < 8 << 20);
        QCOMPARE(log(0, u"连接错误: "_s).size(), 1);
    }

    void shouldReconnectWithBackOffOnlyAfterDropsNotAskedFor()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        QVERIFY(port);
        c->connection->setReconnectDelays(50, 200, 500);
        ClientOptions options;
        options.autoReconnect = true;
        options.heartbeatSeconds = 1;
        connectWith(options, url(port));
        QVERIFY(reaches(State::Connected));
        // Gone with 1001, then refused: each wait twice the last, up to the cap.
        peer()->send(u"stop"_s);
        QTRY_COMPARE(log(0, u"第 4 次重连："_s).size(), 1);
        QCOMPARE(log(0, u"0."_s).mid(0, 4),
                 (QStringList{u"0.05 秒后第 1 次重连"_s, u"0.1 秒后第 2 次重连"_s,
                              u"0.2 秒后第 3 次重连"_s, u"0.2 秒后第 4 次重连"_s}));
        QTRY_VERIFY(c->statusText().startsWith(u"◆ 重连中 ("_s));
        QCOMPARE(c->connectButton->text(), u"断开"_s);
        peer()->send(u"start"_s);
        QVERIFY(reaches(State::Connected));
        // Dropped after a heartbeat (1 s, past the 0.5 s that count as staying
        // up), it starts from the first wait again.
        const qsizetype pings = peer()->lines.count(u"PING"_s);
        QTRY_VERIFY_WITH_TIMEOUT(peer()->lines.count(u"PING"_s) > pings, kTimeout);
        int from = mark();
        peer()->send(u"drop"_s);
        QTRY_COMPARE(log(from, u"0."_s), QStringList{u"0.05 秒后第 1 次重连"_s});
        QVERIFY(reaches(State::Connected));

        // The user's click ends the retries.
        peer()->send(u"stop"_s);
        QVERIFY(reaches(State::Reconnecting));
        c->connectButton->click();
        QCOMPARE(c->connection->state(), State::Idle);
        QCOMPARE(log().last(), u"已断开"_s);
        peer()->send(u"start"_s);
        connectWith(options, url(port));
        QVERIFY(reaches(State::Connected));
        // A close of 1000 is the server's decision.
        from = mark();
        peer()->send(u"close"_s);
        QVERIFY(reaches(State::Idle));
        QVERIFY(!QTest::qWaitFor([&] { return !log(from, u"0.05"_s).isEmpty(); }, 300));
    }

    void shouldBackOffFromAServerThatClosesEachConnectionAtOnce()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s, {u"--close"_s, u"1011"_s});
        c->connection->setReconnectDelays(50, 400);
        ClientOptions options;
        options.autoReconnect = true;
        connectWith(options, url(port));
        QTRY_COMPARE_WITH_TIMEOUT(log(0, u"第 5 次重连："_s).size(), 1, kTimeout);
        QCOMPARE(log(0, u"0."_s).mid(0, 5),
                 (QStringList{u"0.05 秒后第 1 次重连"_s, u"0.1 秒后第 2 次重连"_s,
                              u"0.2 秒后第 3 次重连"_s, u"0.4 秒后第 4 次重连"_s,
                              u"0.4 秒后第 5 次重连"_s}));
    }

    void shouldStopRetryingWhatARetryCannotMend_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("why");
        for (const QString& code :
             {u"1002"_s, u"1003"_s, u"1007"_s, u"1008"_s, u"1009"_s, u"1010"_s})
            QTest::newRow(qPrintable(code))
                << QStringList{u"--close"_s, code} << u"关闭代码 %1，重连无法解决"_s.arg(code);
        QTest::newRow("401") << QStringList{u"--token"_s, u"X-Token:1"_s}
                             << u"服务器以 HTTP 401 拒绝升级，重连无法解决"_s;
    }

    void shouldStopRetryingWhatARetryCannotMend()
    {
        REQUIRE_PYTHON();
        QFETCH(QStringList, args);
        QFETCH(QString, why);
        const quint16 port = start(u"handshake_server.py"_s, args);
        c->connection->setReconnectDelays(10, 10);
        ClientOptions options;
        options.autoReconnect = true;
        connectWith(options, url(port));
        // Idle with no attempt pending: nothing more can come.
        QVERIFY(reaches(State::Idle) && !c->connection->clientModeSocket());
        QCOMPARE(log(0, u"已停止"_s) + log(0, u"0.01"_s), QStringList{u"已停止自动重连："_s + why});
        QCOMPARE(log().last(), u"已停止自动重连："_s + why);
        QCOMPARE(peer()->lines.filter(QRegularExpression(u"^(OPEN|REFUSED)"_s)).size(), 1);
    }

    void shouldLogPongOfAPingAndCloseWhenHeartbeatsGoUnanswered()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        ClientOptions options;
        options.heartbeatSeconds = 1;
        connectWith(options, url(port));
        QVERIFY(port && reaches(State::Connected));
        const int from = mark();
        c->find<QPushButton>("pingButton")->click();
        QTRY_COMPARE(log(from).size(), 1);
        QVERIFY(QRegularExpression(u"^Pong \\d+(\\.\\d{1,2})? ms$"_s)
                    .match(log(from).first())
                    .hasMatch());
        // Heartbeats reach the server and leave no trace in the log or counters.
        QTRY_VERIFY_WITH_TIMEOUT(peer()->lines.count(u"PING"_s) >= 3, kTimeout);
        QCOMPARE(mark(), from + 1);
        QCOMPARE(c->comm->txBytes() + c->comm->rxBytes(), 0);
        peer()->send(u"mute"_s);
        QVERIFY(reaches(State::Idle, 5000));
        QCOMPARE(log(from + 1), QStringList{u"心跳超时：1 秒内未收到 Pong，已断开连接"_s});
    }

    void shouldGoThroughTheChosenProxyOnly()
    {
        REQUIRE_PYTHON();
        const quint16 port = start(u"handshake_server.py"_s);
        QVERIFY(port);
        // A proxy that records the request line of each tunnel and answers none.
        QTcpServer proxy;
        QVERIFY(proxy.listen(QHostAddress::LocalHost, 0));
        QStringList requests;
        connect(&proxy, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = proxy.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&requests, socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine().trimmed();
                    if (line.startsWith("CONNECT "))
                        requests.append(QString::fromLatin1(line));
                }
            });
        });
        auto route = [&](ClientOptions::Proxy kind) {
            ClientOptions options;
            options.proxy = kind;
            options.proxyHost = u"127.0.0.1"_s;
            options.proxyPort = proxy.serverPort();
            const qsizetype before = requests.size();
            connectWith(options, url(port));
            QString taken;
            if (QTest::qWaitFor(
                    [&] { return requests.size() > before || reaches(State::Connected, 0); }))
                taken = requests.size() > before ? u"proxy"_s : u"direct"_s;
            c->connectButton->click();
            return taken;
        };
        // None is set on the socket: an application-wide proxy (which Qt
        // itself skips on loopback) must not apply elsewhere either.
        connectWith(ClientOptions(), url(port));
        QCOMPARE(c->connection->clientModeSocket()->proxy().type(), QNetworkProxy::NoProxy);
        c->connectButton->click();
        QCOMPARE(route(ClientOptions::Proxy::Http), u"proxy"_s);
        qputenv("http_proxy", url(proxy.serverPort(), "http").toLatin1());
        qputenv("no_proxy", "example.org");
        QCOMPARE(route(ClientOptions::Proxy::System), u"proxy"_s);
        qputenv("no_proxy", "localhost,127.0.0.0/8");
        QCOMPARE(route(ClientOptions::Proxy::System), u"direct"_s);
        qunsetenv("no_proxy");
        // A proxy it cannot speak stops the attempt; nothing goes direct.
        QTcpServer direct;
        QVERIFY(direct.listen(QHostAddress::LocalHost, 0));
        for (const char* scheme : {"https", "socks4"}) {
            qputenv("http_proxy", url(proxy.serverPort(), scheme).toLatin1());
            ClientOptions options;
            options.proxy = ClientOptions::Proxy::System;
            options.autoReconnect = true;
            connectWith(options, url(direct.serverPort()));
            QVERIFY(reaches(State::Idle, 5000));
            QCOMPARE(log().last(),
                     u"系统代理 %1 无法使用（仅支持 http:// 与 socks5:// 代理），已放弃连接"_s.arg(
                         url(proxy.serverPort(), scheme)));
        }
        qunsetenv("http_proxy");
        QVERIFY(!direct.hasPendingConnections());
        QCOMPARE(requests, QStringList(2, u"CONNECT 127.0.0.1:%1 HTTP/1.1"_s.arg(port)));
    }
    void shouldKeepOptionsPerAddressAndBringThemBackFromTheRecentList()
    {
        REQUIRE_PYTHON();
        QTemporaryDir dir;
        window->useSettingsFile(dir.filePath(u"Sockwise.conf"_s));
        const quint16 guarded = start(u"handshake_server.py"_s, {u"--token"_s, u"X-Tenant:t1"_s});
        const quint16 plain = start(u"handshake_server.py"_s);
        const QString a = url(guarded) + u"feed"_s;
        auto* mark = c->find<QLabel>("optionsMark");
        const auto connectAndClose = [&](size_t server, int opened) {
            c->connectButton->click();
            return reaches(State::Connected) &&
                   QTest::qWaitFor(
                       [&] { return peer(server)->linesWith(u"OPEN"_s).size() == opened; },
                       kTimeout) &&
                   (c->connectButton->click(), reaches(State::Idle));
        };
        ClientOptions keyed;
        keyed.headers = u"X-Tenant: t1"_s;
        keyed.heartbeatSeconds = 30;
        c->urlEdit->setText(a);
        c->connection->setClientOptions(keyed);
        QVERIFY(guarded && plain && connectAndClose(0, 1));
        QCOMPARE(mark->text(), u"⚙ 2"_s);

        // Another server starts from the defaults; the query names no other server.
        c->urlEdit->setText(url(plain) + u"feed"_s);
        QVERIFY(mark->isHidden() && c->connection->clientOptions().isDefault());
        QVERIFY(connectAndClose(1, 1) && peer(1)->linesWith(u"HEADER X-Tenant"_s).isEmpty());
        c->urlEdit->setText(a + u"?room=2"_s);
        QCOMPARE(c->connection->clientOptions(), keyed);

        // Picked from the recent list, and in the next lifetime.
        c->urlEdit->clear();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        c->urlEdit->setFocus();
        QAbstractItemView* popup = c->urlEdit->completer()->popup();
        QTest::keyClick(c->urlEdit, Qt::Key_Down);
        QTRY_VERIFY(popup->isVisible());
        popup->setCurrentIndex(
            popup->model()->match(popup->model()->index(0, 0), Qt::DisplayRole, a).value(0));
        QTest::keyClick(popup, Qt::Key_Return);
        QCOMPARE(c->urlEdit->text(), a);
        QVERIFY(connectAndClose(0, 2) && peer(0)->linesWith(u"REFUSED"_s).isEmpty());
        c.reset();
        window = std::make_unique<WebSocketWidget>();
        window->useSettingsFile(dir.filePath(u"Sockwise.conf"_s));
        c = std::make_unique<WindowControls>(window.get());
        QCOMPARE(c->connection->clientOptions(), keyed);
    }
};

QTEST_MAIN(ClientOptionsTest)
#include "tst_clientoptions.moc"

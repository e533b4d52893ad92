// Client mode speaking Socket.IO: the packet codec, and the window against
// python-socketio, node's socket.io (where npm can install it) and a hand-made
// Engine.IO peer for Engine.IO 3 and a server that stops pinging.
#include "LoopbackOnly.h"
#include "PythonPeer.h"
#include "WindowControls.h"

#include "chart/ChartEngine.h"
#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"
#include "protocol/SocketIoPacket.h"
#include "protocol/SocketIoProtocol.h"
#include "reply/AutoReplyPanel.h"
#include "reply/RuleFile.h"
#include "websocket/ReceiveRouter.h"
#include "websocket/WebSocketWidget.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 20000;

ProtocolOptions socketIo(const QString& nsp = u"/"_s, const QString& auth = {}, bool eio3 = false)
{
    ProtocolOptions options;
    options.kind = ProtocolOptions::Kind::SocketIo;
    options.nsp = nsp;
    options.auth = auth;
    options.engineIo3 = eio3;
    return options;
}

} // namespace

class SocketIoTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    bool nodeReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    std::unique_ptr<PythonPeer> peer;

    // The server of the row ("python", "node", or engineio_peer.py with
    // its arguments), listening; empty when it could not start.
    QString startServer(const QString& server, const QStringList& args = {})
    {
        if (server == "node"_L1)
            peer = std::make_unique<PythonPeer>(QStringList{
                u"/usr/bin/env"_s, u"NODE_PATH=" SOCKWISE_NODE_DIR "/node_modules"_s, u"node"_s,
                QStringLiteral(SOCKWISE_TESTS_DIR "/peers/socketio_server.js")});
        else
            peer = std::make_unique<PythonPeer>(
                server == "python"_L1 ? u"socketio_server.py"_s : u"engineio_peer.py"_s, args);
        if (!QTest::qWaitFor([&] { return !peer->linesWith(u"PORT "_s).isEmpty(); }, kTimeout))
            return QString();
        return u"http://127.0.0.1:"_s + peer->linesWith(u"PORT "_s).first();
    }

    bool connectWith(const QString& address, const ProtocolOptions& protocol, bool retry = false)
    {
        // Options belong to the address shown: the address first.
        c->urlEdit->setText(address);
        ClientOptions options;
        options.protocol = protocol;
        options.autoReconnect = retry;
        window->connection()->setClientOptions(options);
        c->connectButton->click();
        return QTest::qWaitFor([this] { return c->isConnected(); }, kTimeout);
    }

    // The first entry of that direction that starts so; serial 0 when none does.
    LogEntry row(LogEntry::Direction direction, const QString& start) const
    {
        for (const LogEntry& e : c->comm->entries())
            if (e.direction() == direction && e.text().startsWith(start))
                return e;
        return LogEntry();
    }
    bool logHas(LogEntry::Direction direction, const QString& start) const
    {
        return row(direction, start).serial() != 0;
    }

    void send(const QString& event, const QString& args, bool ack = false, bool hex = false)
    {
        window->findChild<QLineEdit*>(u"eventEdit"_s)->setText(event);
        window->findChild<QCheckBox*>(u"ackCheck"_s)->setChecked(ack);
        c->hexSendCheck->setChecked(hex);
        c->sendEdit->setPlainText(args);
        c->sendButton->click();
    }

    void requireServer(const QString& server)
    {
        if (!pythonReady)
            QSKIP("/usr/bin/python3 lacks websockets, socketio or aiohttp");
        if (server == "node"_L1 && !nodeReady)
            QSKIP("node's socket.io could not be installed with npm (no npm or no registry)");
    }

private slots:
    void initTestCase()
    {
        keepNetworkOnLoopback();
        QStandardPaths::setTestModeEnabled(true);
        QProcess probe;
        probe.start(PythonPeer::interpreter(),
                    {u"-c"_s, u"import websockets, socketio, aiohttp"_s});
        pythonReady = probe.waitForFinished(kTimeout) && probe.exitCode() == 0;
        // Installed once per build directory, never into the sources.
        QProcess npm;
        if (!QFile::exists(QStringLiteral(SOCKWISE_NODE_DIR "/node_modules/socket.io"))) {
            npm.start(u"npm"_s, {u"install"_s, u"--no-audit"_s, u"--no-fund"_s, u"--prefix"_s,
                                 QStringLiteral(SOCKWISE_NODE_DIR), u"socket.io@4"_s});
            npm.waitForFinished(180000);
        }
        nodeReady = QFile::exists(QStringLiteral(SOCKWISE_NODE_DIR "/node_modules/socket.io")) &&
                    !QStandardPaths::findExecutable(u"node"_s).isEmpty();
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
        peer.reset();
    }

    void shouldReadAndWritePackets_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("nsp");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("event") << R"(42["chat",{"msg":"hi"}])"_ba << u"/"_s << qint64(-1)
                               << R"({"args":[{"msg":"hi"}],"event":"chat"})"_ba;
        QTest::newRow("namespace, ack id") << R"(42/admin,7["x",1,"two"])"_ba << u"/admin"_s
                                           << qint64(7) << R"({"args":[1,"two"],"event":"x"})"_ba;
        QTest::newRow("binary event")
            << R"(451-["up",{"_placeholder":true,"num":0}])"_ba << u"/"_s << qint64(-1)
            << R"({"args":[{"_placeholder":true,"num":0}],"event":"up"})"_ba;
        QTest::newRow("ack") << "43/admin,12[]"_ba << u"/admin"_s << qint64(12) << QByteArray();
        QTest::newRow("refusal") << R"(44{"message":"no"})"_ba << u"/"_s << qint64(-1)
                                 << QByteArray();
        QTest::newRow("connect") << "40/admin,"_ba << u"/admin"_s << qint64(-1) << QByteArray();
        QTest::newRow("open") << R"(0{"sid":"a","pingInterval":1})"_ba << u"/"_s << qint64(-1)
                              << QByteArray();
        // Nothing of these is a packet.
        for (const char* bad :
             {"", "7", "4", "4x", R"(42["chat")", "42{}", "42[1]", "43[]", R"(451["a"])",
              R"(45999-["a"])", R"(421234567890123456["a"])", "0not json"})
            QTest::addRow("no packet: %s", bad)
                << QByteArray(bad) << QString() << qint64(0) << QByteArray();
    }

    void shouldReadAndWritePackets()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, nsp);
        QFETCH(qint64, id);
        QFETCH(QByteArray, document);
        const std::optional<SocketIoPacket> packet = SocketIoPacket::parse(frame);
        QCOMPARE(packet.has_value(), !nsp.isNull());
        if (!packet)
            return;
        QCOMPARE(packet->nsp, nsp);
        QCOMPARE(packet->id, id);
        QCOMPARE(packet->document(), document);
        QCOMPARE(packet->encode(), frame);
    }

    void shouldKeepEveryFrameOfAnAssemblyThatCannotFinish()
    {
        SocketIoProtocol protocol(socketIo(), {});
        const QString announced = uR"(451-["up",{"_placeholder":true,"num":3}])"_s;
        QVERIFY(protocol.received(WireFrame::ofText(announced), 0).received.isEmpty());
        // Placeholder 3 of one attachment: both frames as they came.
        const ProtocolStep mismatched = protocol.received(WireFrame::ofBytes("\x01"_ba), 0);
        QCOMPARE(mismatched.received.size(), 2);
        QCOMPARE(mismatched.received.at(0).text, announced);
        QCOMPARE(mismatched.received.at(1).bytes, "\x01"_ba);
        // A text frame ends an assembly still waiting, without losing it.
        const QString two = uR"(452-["up",{"_placeholder":true,"num":0}])"_s;
        protocol.received(WireFrame::ofText(two), 0);
        protocol.received(WireFrame::ofBytes("\x02"_ba), 0);
        const ProtocolStep cut = protocol.received(WireFrame::ofText(u"6"_s), 0);
        QCOMPARE(cut.received.size(), 3);
        QCOMPARE(cut.received.at(0).text, two);
        QCOMPARE(cut.received.at(2).text, u"6"_s);
    }

    void shouldTalkToSocketIoServers_data()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("python-socketio") << u"python"_s;
        QTest::newRow("node socket.io") << u"node"_s;
    }

    void shouldTalkToSocketIoServers()
    {
        QFETCH(QString, server);
        requireServer(server);
        const QString address = startServer(server);
        QVERIFY(!address.isEmpty());
        c->chartEngine->ruleNameEdit()->setText(u"msg"_s);
        c->chartEngine->expressionEdit()->setText(u"args.0.msg"_s);
        c->chartEngine->onAddRule();
        QSignalSpy values(window->findChild<ReceiveRouter*>(), &ReceiveRouter::valueFound);
        QVERIFY(connectWith(address, socketIo()));
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::SYS, u"Socket.IO 已连接 命名空间 /，sid "_s),
                                 kTimeout);

        send(u"chat"_s, uR"({"msg": 5})"_s);
        QVERIFY(peer->waitForLine(uR"(EVENT chat [{"msg":5}])"_s));
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::RX, uR"(42["chat",{"msg":5}])"_s), kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(values.size(), 1, kTimeout);
        QCOMPARE(values.first().at(1).toDouble(), 5.0);
        const quint64 chat = row(LogEntry::RX, uR"(42["chat")"_s).serial();
        QVERIFY(c->logView->rowToolTip(chat).endsWith(u"事件: chat"_s));

        send(u"ask"_s, u"[1, 2]"_s, true);
        QVERIFY(logHas(LogEntry::TX, uR"(420["ask",1,2])"_s));
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::RX, uR"(430["ok",[1,2]])"_s), kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::SYS, u"确认 #0，"_s), kTimeout);
        send(u"ask"_s, u"{not json"_s);
        QVERIFY(logHas(LogEntry::SYS, u"未发送：参数不是有效的 JSON"_s));

        peer->send(u"question"_s);
        QVERIFY(peer->waitForLine(u"ACK []"_s));
        // With auto reply on, a rule on the event answers the request.
        const auto rules = RuleFile::read(
            "{\"format\": \"sockwise-auto-reply\", \"version\": 1, \"rules\": [{\"name\": \"q\", "
            "\"match\": {\"type\": \"json\", \"path\": \"event\", \"value\": \"question\"}, "
            "\"reply\": {\"content\": \"[\\\"yes\\\", {{json:args.0.q}}]\"}}]}",
            nullptr);
        QVERIFY(rules);
        window->findChild<AutoReplyPanel*>(u"autoReplyPanel"_s)->setRules(*rules);
        c->find<QCheckBox>("autoReplyEnabled")->setChecked(true);
        peer->send(u"question"_s);
        QVERIFY(peer->waitForLine(uR"(ACK ["yes",1])"_s));
        c->find<QCheckBox>("autoReplyEnabled")->setChecked(false);

        const int rowsBefore = c->comm->entryCount();
        peer->send(u"binary"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            logHas(LogEntry::RX, uR"(451-["upload",{"data":{"_binary":"01 02 03"},"name":"x"}])"_s),
            kTimeout);
        QCOMPARE(c->comm->entryCount(), rowsBefore + 1);
        send(u"store"_s, u"0A 0B"_s, false, true);
        QVERIFY(peer->waitForLine(u"BINARY store 0a0b"_s));

        c->connectButton->click();
        QVERIFY(peer->waitForLine(u"DISCONNECT /"_s));
        QVERIFY(logHas(LogEntry::TX, u"41"_s));
    }

    void shouldJoinANamespaceOnlyWithItsAuth_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("auth");
        QTest::addColumn<QString>("entry");
        for (const QString& server : {u"python"_s, u"node"_s}) {
            QTest::addRow("%s accepted", qPrintable(server))
                << server << uR"({"token":"secret"})"_s
                << u"Socket.IO 已连接 命名空间 /admin，sid "_s;
            QTest::addRow("%s refused", qPrintable(server))
                << server << uR"({"token":"guess"})"_s
                << u"Socket.IO 命名空间 /admin 拒绝连接：not authorized"_s;
        }
    }

    void shouldJoinANamespaceOnlyWithItsAuth()
    {
        QFETCH(QString, server);
        QFETCH(QString, auth);
        QFETCH(QString, entry);
        requireServer(server);
        const QString address = startServer(server);
        QVERIFY(!address.isEmpty());
        QVERIFY(connectWith(address, socketIo(u"/admin"_s, auth), true));
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::SYS, entry), kTimeout);
        // A refusal is final: no retry, even with reconnecting on.
        if (entry.contains(u"拒绝"_s))
            QTRY_COMPARE_WITH_TIMEOUT(window->connection()->state(), ConnectionManager::Idle,
                                      kTimeout);
        else
            QVERIFY(peer->waitForLine(u"CONNECT /admin"_s));
    }

    void shouldKeepOrDropTheHeartbeat_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("timeout");
        QTest::newRow("EIO 4 answered")
            << QStringList{u"4"_s, u"150"_s, u"150"_s} << u"PONG"_s << QString();
        QTest::newRow("EIO 4 silent")
            << QStringList{u"4"_s, u"150"_s, u"150"_s, u"silent"_s} << QString() << u"300 ms"_s;
        QTest::newRow("EIO 3 answered")
            << QStringList{u"3"_s, u"150"_s, u"150"_s} << u"PING"_s << QString();
        QTest::newRow("EIO 3 silent")
            << QStringList{u"3"_s, u"150"_s, u"150"_s, u"silent"_s} << QString() << u"150 ms"_s;
    }

    void shouldKeepOrDropTheHeartbeat()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, heard);
        QFETCH(QString, timeout);
        requireServer(u"python"_s);
        const QString address = startServer(u"peer"_s, args);
        QVERIFY(!address.isEmpty());
        QVERIFY(connectWith(address, socketIo(u"/"_s, {}, args.first() == "3"_L1), true));
        QVERIFY(peer->waitForLine(u"OPEN EIO=%1&transport=websocket"_s.arg(args.first())));
        if (!heard.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(peer->linesWith(heard).size() >= 3, kTimeout);
        if (timeout.isEmpty()) {
            QVERIFY(c->isConnected());
            for (const auto direction : {LogEntry::RX, LogEntry::TX})
                QVERIFY(!logHas(direction, u"2"_s) && !logHas(direction, u"3"_s));
            return;
        }
        const QString entry = u"Socket.IO 心跳超时：%1 内未收到心跳，已断开连接"_s.arg(timeout);
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::SYS, entry), kTimeout);
        // ... and reconnects, as reconnecting is on.
        QTRY_COMPARE_WITH_TIMEOUT(peer->linesWith(u"OPEN "_s).size(), 2, kTimeout);
    }

    void shouldSpeakEngineIo3ToSocketIo2Servers()
    {
        requireServer(u"python"_s);
        const QString address = startServer(u"peer"_s, {u"3"_s, u"5000"_s, u"5000"_s});
        QVERIFY(!address.isEmpty());
        QVERIFY(connectWith(address, socketIo(u"/admin"_s, {}, true)));
        QVERIFY(peer->waitForLine(u"TEXT 40/admin,"_s));
        QTRY_VERIFY_WITH_TIMEOUT(
            logHas(LogEntry::SYS, u"Socket.IO 已连接 命名空间 /admin，sid engine-sid"_s), kTimeout);
        send(u"store"_s, u"0A 0B"_s, false, true);
        QVERIFY(peer->waitForLine(uR"(TEXT 451-/admin,["store",{"_placeholder":true,"num":0}])"_s));
        // Engine.IO 3 marks binary messages with a leading 4.
        QVERIFY(peer->waitForLine(u"BINARY 040a0b"_s));
        peer->send(uR"(send 451-/admin,["up",{"_placeholder":true,"num":0}])"_s);
        peer->send(u"sendbin 04ff"_s);
        QTRY_VERIFY_WITH_TIMEOUT(logHas(LogEntry::RX, uR"(451-/admin,["up",{"_binary":"FF"}])"_s),
                                 kTimeout);
        c->connectButton->click();
        QVERIFY(peer->waitForLine(u"TEXT 41/admin,"_s));
    }
};

QTEST_MAIN(SocketIoTest)
#include "tst_socketio.moc"

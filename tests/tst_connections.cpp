// Client mode, server mode, sending and receiving of the tool window, against
// Debian's python3-websockets as a peer nobody here wrote and, where simpler,
// against in-process Qt sockets.
#include "LoopbackOnly.h"
#include "PythonPeer.h"

#include "WindowControls.h"
#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/CommunicationBase.h"
#include "comm/LogEntry.h"
#include "comm/LogViewWidget.h"
#include "websocket/ReadBufferTuner.h"
#include "websocket/SettingsPanel.h"
#include "websocket/WebSocketWidget.h"
#include "websocket/WriteCap.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeout = 15000;

QString wsUrl(quint16 port, const QString& path = u"/"_s)
{
    return u"ws://127.0.0.1:%1%2"_s.arg(port).arg(path);
}

QString hexOf(const QByteArray& data)
{
    return QString::fromLatin1(data.toHex());
}

// Same generators as peers/patterns.py.
QByteArray makeText(int size)
{
    return u"abcdefghij数据"_s.repeated(size / 16).toUtf8();
}

QByteArray makeBinary(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(((i % 251) * 31 + 7) & 0xFF);
    return data;
}

// Runs the event loop for a while: for things that must NOT happen.
bool happensWithin(const std::function<bool()>& condition, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (condition())
            return true;
    }
    return false;
}

} // namespace

class ConnectionsTest : public QObject
{
    Q_OBJECT

    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    std::unique_ptr<WindowControls> c;
    QList<PythonPeer*> peers;

    PythonPeer* startPeer(const QString& script, const QStringList& args)
    {
        peers.append(new PythonPeer(script, args));
        return peers.last()->process.waitForStarted(kTimeout) ? peers.last() : nullptr;
    }

    // Starts the echo server and connects the window to it.
    PythonPeer* connectToEchoServer(const QString& path = u"/"_s)
    {
        PythonPeer* peer = startPeer(u"echo_server.py"_s, {});
        if (!peer ||
            !QTest::qWaitFor([&] { return !peer->linesWith(u"PORT "_s).isEmpty(); }, kTimeout))
            return nullptr;
        const quint16 port = quint16(peer->linesWith(u"PORT "_s).first().toUInt());
        return connectWindowTo(wsUrl(port, path)) && peer->waitForLine(u"OPEN "_s + path) ? peer
                                                                                          : nullptr;
    }

    // Listens on a free port, then opens one connection per path, in that
    // order, and waits for the window's rows.
    PythonPeer* listenWithClients(const QStringList& paths, QList<quint16>* localPorts = nullptr)
    {
        c->serverRadio->setChecked(true);
        // Another program may take the port between the probe and the listen.
        for (int attempt = 0; attempt < 5 && !c->isConnected(); ++attempt) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::Any, 0)) {
                c->portSpin->setValue(probe.serverPort());
                probe.close();
                c->connectButton->click();
            }
        }
        QStringList urls;
        for (const QString& path : paths)
            urls.append(wsUrl(quint16(c->portSpin->value()), path));
        PythonPeer* peer = c->isConnected() ? startPeer(u"clients.py"_s, urls) : nullptr;
        if (!peer || !peer->waitForLine(u"READY"_s) ||
            !QTest::qWaitFor([&] { return c->clientList->count() == paths.size(); }, kTimeout))
            return nullptr;
        for (int i = 0; localPorts && i < paths.size(); ++i)
            localPorts->append(quint16(peer->linesWith(u"OPEN %1 "_s.arg(i)).value(0).toUInt()));
        return peer;
    }

    bool connectWindowTo(const QString& url)
    {
        c->urlEdit->setText(url);
        c->connectButton->click();
        return QTest::qWaitFor([this] { return c->isConnected(); }, kTimeout);
    }

    QWebSocket* connectToInProcessPeer(QWebSocketServer* peer)
    {
        if (!peer->listen(QHostAddress::LocalHost, 0) ||
            !connectWindowTo(wsUrl(peer->serverPort())) ||
            !QTest::qWaitFor([peer] { return peer->hasPendingConnections(); }, kTimeout))
            return nullptr;
        QWebSocket* socket = peer->nextPendingConnection();
        socket->setParent(peer);
        return socket;
    }

    static void recordTexts(QWebSocket* socket, QStringList* into)
    {
        connect(socket, &QWebSocket::textMessageReceived, socket,
                [into](const QString& text) { into->append(text); });
    }

    void send(const QString& text)
    {
        c->sendEdit->setPlainText(text);
        c->sendButton->click();
    }

    QList<LogEntry> entries() const { return c->comm->entries(); }
    QList<LogEntry> entriesOf(LogEntry::Direction direction, int from = 0) const
    {
        QList<LogEntry> found;
        for (const LogEntry& entry : entries().mid(from)) {
            if (entry.direction() == direction)
                found.append(entry);
        }
        return found;
    }
    // The log as lines: system texts as they are, frames as "TX"/"RX" and hex.
    QStringList logLines() const
    {
        QStringList lines;
        for (const LogEntry& entry : entries()) {
            const QString kind = entry.direction() == LogEntry::TX ? u"TX "_s : u"RX "_s;
            lines.append(entry.direction() == LogEntry::SYS ? entry.text()
                                                            : kind + hexOf(entry.rawData()));
        }
        return lines;
    }
    QStringList systemTexts(int from = 0) const { return c->systemTexts(from); }
    int clientCount() const { return int(c->connection->clientIds().size()); }
    QWebSocket* serverClient(int i) const
    {
        return c->connection->serverClientSocket(c->connection->clientIds().value(i));
    }
    QString statusText() const { return window->findChild<QLabel*>(u"connStatus"_s)->text(); }
    int webSocketCount() const { return int(window->findChildren<QWebSocket*>().size()); }

    void verifyIdle(const QString& caption)
    {
        QVERIFY(!c->isConnected());
        QVERIFY(!c->connection->clientModeSocket());
        QCOMPARE(c->connectButton->text(), caption);
        QCOMPARE(statusText(), u"⚫未连接"_s);
        QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);
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
        qDeleteAll(peers);
        peers.clear();
    }

    // ------------------------------------------------------------- client mode

    void shouldLogConnectEchoCloseInOrderAndGoIdleOnServerClose()
    {
        REQUIRE_PYTHON();
        PythonPeer* echo = connectToEchoServer(u"/echo"_s);
        QVERIFY(echo);
        const QString url = c->urlEdit->text();
        const QStringList connectLog{u"正在连接 "_s + url + u"..."_s, u"WebSocket已连接"_s};
        QCOMPARE(c->connectButton->text(), u"断开"_s);
        QCOMPARE(statusText(), u"🟢 已连接"_s);
        const QByteArray bytes = u"hi 你好"_s.toUtf8();
        send(QString::fromUtf8(bytes));
        QVERIFY(echo->waitForLine(u"TEXT "_s + hexOf(bytes)));
        QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 1, kTimeout);

        c->connectButton->click();
        QVERIFY(echo->waitForLine(u"CLOSED 1000"_s));
        verifyIdle(u"连接"_s);
        QStringList log = logLines();
        // The closed socket may still report once before it is deleted.
        if (log.size() == 6)
            QCOMPARE(log.takeLast(), u"WebSocket已断开"_s);
        QCOMPARE(log, connectLog + QStringList({u"TX "_s + hexOf(bytes), u"RX "_s + hexOf(bytes),
                                                u"已断开"_s}));
        QCOMPARE(c->comm->txBytes(), qint64(bytes.size()));
        QCOMPARE(c->comm->rxBytes(), qint64(bytes.size()));

        // The next click opens a fresh socket; a clean close by the server is
        // neither an error nor a user disconnect.
        const int secondAt = int(entries().size());
        QVERIFY(connectWindowTo(url));
        QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 1, kTimeout);
        echo->send(u"close"_s);
        QTRY_COMPARE_WITH_TIMEOUT(echo->lines.count(u"CLOSED 1000"_s), 2, kTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!c->isConnected(), kTimeout);
        verifyIdle(u"连接"_s);
        QCOMPARE(systemTexts(secondAt), connectLog + QStringList{u"WebSocket已断开"_s});
    }

    void shouldReportRefusedConnectionOnceAndReturnToIdle()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString url = wsUrl(probe.serverPort(), u"/ws"_s);
        probe.close();
        // Qt's own wording for this failure, as a plain socket reports it.
        QWebSocket reference;
        QSignalSpy errors(&reference,
                          QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error));
        reference.open(QUrl(url));
        QVERIFY(errors.wait(kTimeout));
        QVERIFY(!reference.errorString().isEmpty());

        c->urlEdit->setText(url);
        c->connectButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(!c->connection->clientModeSocket(), kTimeout);
        // Once the socket is gone it can report nothing more: the log is final.
        verifyIdle(u"连接"_s);
        // Nothing was connected, so nothing says it was disconnected.
        QCOMPARE(systemTexts(), (QStringList{u"正在连接 "_s + url + u"..."_s,
                                             u"连接错误: "_s + reference.errorString()}));
    }

    void shouldShowPendingAttemptAndCancelItOnClick()
    {
        // Accepts TCP but never answers the opening handshake: the attempt stays pending.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        c->urlEdit->setText(wsUrl(silent.serverPort()));
        c->connectButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), kTimeout);
        QTcpSocket* stalled = silent.nextPendingConnection();
        QSignalSpy stalledGone(stalled, &QTcpSocket::disconnected);
        QVERIFY(!c->isConnected());
        QCOMPARE(c->connectButton->text(), u"取消"_s);
        QCOMPARE(statusText(), u"◆ 连接中…"_s);

        // One word, idle again, and the attempt's socket is gone.
        c->connectButton->click();
        verifyIdle(u"连接"_s);
        QVERIFY(stalledGone.count() > 0 || stalledGone.wait(kTimeout));
        QVERIFY(!happensWithin([this] { return entries().size() > 2; }, 300));
        QCOMPARE(systemTexts(), (QStringList{u"正在连接 "_s + wsUrl(silent.serverPort()) + u"..."_s,
                                             u"已取消连接"_s}));

        // The next click starts afresh.
        QWebSocketServer answering(u"peer"_s, QWebSocketServer::NonSecureMode);
        QWebSocket* accepted = connectToInProcessPeer(&answering);
        QVERIFY(accepted);
        QSignalSpy text(accepted, &QWebSocket::textMessageReceived);
        send(u"still here"_s);
        QVERIFY(text.wait(kTimeout));
        QCOMPARE(text.first().first().toString(), u"still here"_s);
    }

    // ------------------------------------------------------------- server mode

    void shouldServeTheSelectedClientOrEveryClientUntilStopped()
    {
        REQUIRE_PYTHON();
        // Any path is accepted, not only the one shown.
        QList<quint16> ports;
        PythonPeer* peer = listenWithClients({u"/ws"_s, u"/"_s, u"/other/path?x=1"_s}, &ports);
        QVERIFY(peer);
        const quint16 port = quint16(c->portSpin->value());
        QCOMPARE(clientCount(), 3);
        QStringList rows;
        QStringList log{u"WebSocket服务器已启动，端口 %1，路径 /ws"_s.arg(port)};
        for (int i = 0; i < 3; ++i) {
            rows.append(c->clientList->item(i)->text());
            // Python connects to 127.0.0.1; the dual-stack server sees it mapped into IPv6.
            QCOMPARE(rows.last(), u"127.0.0.1:"_s + QString::number(ports.at(i)));
            QCOMPARE(serverClient(i)->peerPort(), ports.at(i));
            log.append(u"客户端连接 "_s + rows.last());
        }
        QCOMPARE(systemTexts(), log);

        // A selected row gets a binary frame alone; a click on empty space,
        // Ctrl+click on the selected row and Esc each leave no selection, and
        // the next send reaches all three.
        const int before = int(entries().size());
        send(u"to all"_s);
        QListWidget* list = c->clientList;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        auto clickRow = [list](int row, Qt::KeyboardModifiers modifiers = {}) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                              list->visualItemRect(list->item(row)).center());
        };
        const QList<std::function<void()>> deselects{
            [&] {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  QPoint(5, list->viewport()->height() - 3));
            },
            [&] { clickRow(1, Qt::ControlModifier); },
            [&] { QTest::keyClick(list, Qt::Key_Escape); },
        };
        for (int round = 0; round < deselects.size(); ++round) {
            clickRow(1);
            QCOMPARE(list->selectedItems().size(), 1);
            c->binaryRadio->setChecked(true);
            c->hexSendCheck->setChecked(true);
            send(u"00 ff 0%1"_s.arg(round));
            deselects.at(round)();
            QVERIFY2(list->selectedItems().isEmpty(), qPrintable(QString::number(round)));
            c->textRadio->setChecked(true);
            c->hexSendCheck->setChecked(false);
            send(u"after %1"_s.arg(round));
        }
        auto textLine = [](const char* text) -> QString {
            return u"TEXT "_s + hexOf(text);
        };
        for (int i = 0; i < 3; ++i)
            QVERIFY(peer->waitForLine(u"MSG %1 "_s.arg(i) + textLine("after 2")));
        const QStringList toAll{textLine("to all"), textLine("after 0"), textLine("after 1"),
                                textLine("after 2")};
        QCOMPARE(peer->linesWith(u"MSG 0 "_s), toAll);
        QCOMPARE(peer->linesWith(u"MSG 1 "_s),
                 (QStringList{toAll[0], u"BINARY 00ff00"_s, toAll[1], u"BINARY 00ff01"_s, toAll[2],
                              u"BINARY 00ff02"_s, toAll[3]}));
        QCOMPARE(peer->linesWith(u"MSG 2 "_s), toAll);
        // One TX entry per send, naming who got it and how.
        const QList<LogEntry> sent = entriesOf(LogEntry::TX, before);
        QCOMPARE(sent.size(), 7);
        QCOMPARE(sent.at(0).peer(), u"全部 (3)"_s);
        QCOMPARE(sent.at(0).frameKind(), LogEntry::FrameKind::Text);
        QCOMPARE(sent.at(1).peer(), rows.at(1));
        QCOMPARE(sent.at(1).frameKind(), LogEntry::FrameKind::Binary);
        QCOMPARE(c->comm->txBytes(), qint64(6 + 3 * 3 + 3 * 7));

        // Received frames name their client.
        peer->send(u"sendlarge 2 text 64"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(LogEntry::RX).isEmpty(), kTimeout);
        QCOMPARE(entriesOf(LogEntry::RX).first().peer(), rows.at(2));
        QCOMPARE(entriesOf(LogEntry::RX).first().frameKind(), LogEntry::FrameKind::Text);

        // Without a selection "断开选中客户端" has nobody to drop.
        QVERIFY(!c->disconnectClientButton->isEnabled());

        auto verifyRemaining = [&](const QList<int>& kept, int departed, int from) {
            QTRY_COMPARE_WITH_TIMEOUT(list->count(), kept.size(), kTimeout);
            QCOMPARE(clientCount(), kept.size());
            for (int row = 0; row < kept.size(); ++row) {
                QCOMPARE(list->item(row)->text(), rows.at(kept.at(row)));
                QCOMPARE(serverClient(row)->peerPort(), ports.at(kept.at(row)));
            }
            QCOMPARE(systemTexts(from), QStringList{u"客户端断开: "_s + rows.at(departed)});
        };
        // The selected middle client leaves by itself: no other client becomes
        // the target in its place.
        int from = int(entries().size());
        clickRow(1);
        peer->send(u"close 1"_s);
        QVERIFY(peer->waitForLine(u"CLOSED 1 1000"_s));
        verifyRemaining({0, 2}, 1, from);
        QVERIFY(list->selectedItems().isEmpty());
        QVERIFY(!c->disconnectClientButton->isEnabled());

        // "断开选中客户端" on the first row closes that client with 1000.
        clickRow(0);
        from = int(entries().size());
        c->disconnectClientButton->click();
        QVERIFY(peer->waitForLine(u"CLOSED 0 1000"_s));
        verifyRemaining({2}, 0, from);
        // Departed sockets are released; the remaining one stays.
        QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 1, kTimeout);

        // Stopping empties everything at once and logs "已断开" once.
        from = int(entries().size());
        c->connectButton->click();
        QCOMPARE(list->count(), 0);
        QCOMPARE(clientCount(), 0);
        QVERIFY(window->findChildren<QWebSocketServer*>().isEmpty());
        verifyIdle(u"监听"_s);
        QVERIFY(peer->waitForLine(u"CLOSED 2 1000"_s));
        QCOMPARE(systemTexts(from).count(u"已断开"_s), 1);
        QTcpServer reuse;
        QVERIFY(reuse.listen(QHostAddress::Any, port));
    }

    // The find bar's client choice shows one client's frames and the lines
    // naming it; a client's menu sends the send box to it alone or drops it.
    void shouldShowOneClientsEntriesAndServeItFromItsMenu()
    {
        REQUIRE_PYTHON();
        c->timestampCheck->setChecked(false);
        PythonPeer* peer = listenWithClients({u"/"_s, u"/"_s, u"/"_s});
        QVERIFY(peer);
        QListWidget* list = c->clientList;
        for (int i = 0; i < 3; ++i)
            peer->send(u"send %1 from %1"_s.arg(i));
        QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 3, kTimeout);

        const QString middle = list->item(1)->text();
        const auto menu = [&] {
            return std::unique_ptr<QMenu>(window->findChild<SettingsPanel*>()->createClientMenu(
                c->connection->clientIds().at(1), window.get()));
        };
        c->sendEdit->setPlainText(u"only you"_s);
        menu()->findChild<QAction*>(u"sendToClientAction"_s)->trigger();
        QVERIFY(peer->waitForLine(u"MSG 1 TEXT "_s + hexOf("only you")));
        send(u"to all"_s);
        for (int i = 0; i < 3; ++i)
            QVERIFY(peer->waitForLine(u"MSG %1 TEXT "_s.arg(i) + hexOf("to all")));

        auto* choice = window->findChild<QComboBox*>(u"findClient"_s);
        QTRY_COMPARE(window->findChild<QListWidget*>(u"logOutput"_s)->count(),
                     int(entries().size()));
        QCOMPARE(choice->count(), 4);
        QCOMPARE(choice->itemText(0), u"全部"_s);
        choice->setCurrentIndex(choice->findText(middle));
        const QAbstractItemModel* shown = window->findChild<QListView*>(u"filteredLog"_s)->model();
        const auto shownRows = [shown] {
            QStringList rows;
            for (int i = 0; i < shown->rowCount(); ++i)
                rows.append(shown->index(i, 0).data().toString());
            return rows;
        };
        QCOMPARE(shownRows(), (QStringList{u"[SYS]  客户端连接 "_s + middle, u"[RX]  from 1"_s,
                                           u"[TX]  only you"_s}));
        menu()->findChild<QAction*>(u"dropClientAction"_s)->trigger();
        QVERIFY(peer->waitForLine(u"CLOSED 1 1000"_s));
        QTRY_COMPARE(shownRows().last(), u"[SYS]  客户端断开: "_s + middle);
        QCOMPARE(list->count(), 2);
        // "全部" gives the whole log back.
        choice->setCurrentIndex(0);
        QCOMPARE(shown->rowCount(), 0);
    }

    void shouldReportPortInUseAndChangeNothingElse()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        const quint16 port = holder.serverPort();
        QWebSocketServer reference(u"reference"_s, QWebSocketServer::NonSecureMode);
        QVERIFY(!reference.listen(QHostAddress::Any, port));

        c->serverRadio->setChecked(true);
        const QString caption = c->connectButton->text();
        const QString status = statusText();
        c->portSpin->setValue(port);
        c->connectButton->click();
        QCOMPARE(systemTexts(), QStringList{u"监听失败: "_s + reference.errorString()});
        QVERIFY(window->findChildren<QWebSocketServer*>().isEmpty());
        QCOMPARE(c->connectButton->text(), caption);
        QCOMPARE(statusText(), status);

        // Once the port is free, the same click listens.
        holder.close();
        c->connectButton->click();
        QVERIFY(c->isConnected());
        QCOMPARE(systemTexts().last(), u"WebSocket服务器已启动，端口 %1，路径 /ws"_s.arg(port));
    }

    // ----------------------------------------------------- sending, receiving

    void shouldSendTextFramesAsUtf8AndBinaryFramesInTheSelectedEncoding()
    {
        REQUIRE_PYTHON();
        PythonPeer* echo = connectToEchoServer();
        QVERIFY(echo);
        auto sendOne = [this](const QString& text) {
            const int from = int(entries().size());
            send(text);
            const QList<LogEntry> sent = entriesOf(LogEntry::TX, from);
            return sent.size() == 1 ? sent.first().rawData() : QByteArray("not one TX entry");
        };

        // Every hex form is the same five bytes, sent unchanged in a binary frame.
        c->hexSendCheck->setChecked(true);
        c->binaryRadio->setChecked(true);
        for (const QString& form : {u"48 65 6c 6c 6f"_s, u"48-65-6C-6C-6F"_s, u"48656c6c6f"_s})
            QCOMPARE(sendOne(form), QByteArray("Hello"));
        QTRY_COMPARE_WITH_TIMEOUT(echo->linesWith(u"BINARY "_s), QStringList(3, hexOf("Hello")),
                                  kTimeout);
        const std::pair<QString, QString> bad[] = {{u"486"_s, u"十六进制位数为奇数"_s},
                                                   {u"4G"_s, u"第 2 个字符 'G'"_s}};
        for (const auto& [text, problem] : bad) {
            const int from = int(entries().size());
            send(text);
            QCOMPARE(systemTexts(from), QStringList{u"无效的十六进制数据: "_s + problem});
            QVERIFY(entriesOf(LogEntry::TX, from).isEmpty());
        }

        // A text frame is UTF-8 on the wire: hex bytes that are UTF-8 go out as
        // that text, others are refused and never replaced by U+FFFD.
        c->textRadio->setChecked(true);
        QCOMPARE(sendOne(u"e4 bd a0"_s), QByteArray::fromHex("e4bda0"));
        QVERIFY(echo->waitForLine(u"TEXT e4bda0"_s));
        int from = int(entries().size());
        send(u"e4 bd a0 ff"_s);
        QCOMPARE(systemTexts(from),
                 QStringList{u"未发送：数据不是有效的 UTF-8，不能作为文本帧发送"_s});
        QVERIFY(entriesOf(LogEntry::TX, from).isEmpty());

        // Typed text in a text frame goes out unchanged whatever encoding is
        // selected; the entry holds the wire bytes and shows the text.
        c->hexSendCheck->setChecked(false);
        const QString hello = u"你好，世界"_s;
        const bool gbk = QStringEncoder("GBK").isValid();
        for (const QString& encoding : {u"GBK"_s, u"Unicode"_s, u"ASCII"_s}) {
            c->encodingCombo->setCurrentText(encoding);
            from = int(entries().size());
            QCOMPARE(sendOne(hello), hello.toUtf8());
            QCOMPARE(entriesOf(LogEntry::TX, from).first().text(), hello);
        }
        QTRY_COMPARE_WITH_TIMEOUT(echo->linesWith(u"TEXT "_s).count(hexOf(hello.toUtf8())), 3,
                                  kTimeout);

        // The echoed text frames are logged as the bytes on the wire and show
        // as sent, also with "ASCII" selected.
        QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 7, kTimeout);
        const LogEntry echoed = entriesOf(LogEntry::RX).last();
        QCOMPARE(echoed.rawData(), hello.toUtf8());
        QCOMPARE(echoed.text(), hello);
        const qint64 rxBefore = c->comm->rxBytes();
        send(u"你好"_s);
        QTRY_COMPARE_WITH_TIMEOUT(c->comm->rxBytes(), rxBefore + 6, kTimeout);
        QCOMPARE(entriesOf(LogEntry::RX).last().text(), u"你好"_s);

        // Binary frames carry the text in the selected encoding.
        c->binaryRadio->setChecked(true);
        c->encodingCombo->setCurrentText(u"Unicode"_s);
        QCOMPARE(sendOne(u"你好"_s), QByteArray::fromHex("604f7d59"));
        QVERIFY(echo->waitForLine(u"BINARY 604f7d59"_s));
        // Nothing from the rejected inputs reached the peer.
        QCOMPARE(echo->linesWith(u"BINARY "_s).size(), 4);
        if (!gbk)
            QSKIP("the platform's converters have no GBK; the rest has passed");
        c->encodingCombo->setCurrentText(u"GBK"_s);
        QCOMPARE(sendOne(u"你好"_s), QByteArray::fromHex("c4e3bac3"));
        QVERIFY(echo->waitForLine(u"BINARY c4e3bac3"_s));
    }

    // "重新发送": a logged frame's bytes again, in its own kind of frame and
    // logged as any send, whichever way the frame went.
    void shouldSendALoggedFrameAgainInItsOwnKind()
    {
        REQUIRE_PYTHON();
        PythonPeer* echo = connectToEchoServer();
        QVERIFY(echo);
        c->hexSendCheck->setChecked(true);
        c->binaryRadio->setChecked(true);
        send(u"00 ff 41"_s);
        c->hexSendCheck->setChecked(false);
        c->textRadio->setChecked(true);
        send(u"你好"_s);
        QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 2, kTimeout);
        auto* rows = window->findChild<QListWidget*>(u"logOutput"_s);
        QTRY_COMPARE(rows->count(), int(entries().size()));
        const auto resend = [&](const LogEntry& entry) {
            for (int i = 0; i < rows->count(); ++i) {
                const QModelIndex index = rows->model()->index(i, 0);
                if (index.data(Qt::UserRole + 1).toULongLong() != entry.serial())
                    continue;
                std::unique_ptr<QMenu> menu(c->logView->createRowMenu(index, window.get()));
                menu->findChild<QAction*>(u"resendAction"_s)->trigger();
            }
        };
        const int from = int(entries().size());
        resend(entriesOf(LogEntry::TX).at(0));
        resend(entriesOf(LogEntry::RX).at(1));
        QTRY_COMPARE_WITH_TIMEOUT(echo->linesWith(u"BINARY "_s), QStringList(2, u"00ff41"_s),
                                  kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(echo->linesWith(u"TEXT "_s), QStringList(2, hexOf("你好")),
                                  kTimeout);
        const QList<LogEntry> again = entriesOf(LogEntry::TX, from);
        QCOMPARE(again.size(), 2);
        QCOMPARE(again.at(0).frameKind(), LogEntry::FrameKind::Binary);
        QCOMPARE(again.at(0).rawData(), QByteArray::fromHex("00ff41"));
        QCOMPARE(again.at(1).frameKind(), LogEntry::FrameKind::Text);
        QCOMPARE(again.at(1).rawData(), QByteArray("你好"));
    }

    void shouldSendOverWhatRunsAndSayWhenNobodyIsReached()
    {
        // Nothing runs: a send by the user says so, no TX entry.
        send(u"x"_s);
        QCOMPARE(systemTexts(), QStringList{u"未发送：未连接"_s});
        QVERIFY(entriesOf(LogEntry::TX).isEmpty());

        // Auto send ticked while idle is armed: it starts with the connection,
        // and goes over the open client connection although the server radio
        // is ticked now.
        c->intervalSpin->setValue(10);
        c->sendEdit->setPlainText(u"tick"_s);
        c->autoSendCheck->setChecked(true);
        QVERIFY(!c->autoSendTimer->isActive());
        QWebSocketServer peer(u"peer"_s, QWebSocketServer::NonSecureMode);
        QWebSocket* accepted = connectToInProcessPeer(&peer);
        QVERIFY(accepted);
        QStringList received;
        recordTexts(accepted, &received);
        c->serverRadio->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= 3, kTimeout);
        c->autoSendCheck->setChecked(false);
        const int ticks = int(entriesOf(LogEntry::TX).size());
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), ticks, kTimeout);
        QCOMPARE(received, QStringList(ticks, u"tick"_s));
        send(u"via client"_s);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), ticks + 1, kTimeout);
        QCOMPARE(entriesOf(LogEntry::TX).size(), ticks + 1);
        QCOMPARE(entriesOf(LogEntry::TX).last().peer(), wsUrl(peer.serverPort()));

        // A server without clients: the user's send says so, ticks say nothing.
        c->connectButton->click();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        c->portSpin->setValue(probe.serverPort());
        probe.close();
        c->connectButton->click();
        QVERIFY(c->connection->state() == ConnectionManager::Listening);
        const qint64 txBytes = c->comm->txBytes();
        int from = int(entries().size());
        send(u"nobody"_s);
        QCOMPARE(systemTexts(from), QStringList{u"未发送：没有已连接的客户端"_s});
        QSignalSpy timeouts(c->autoSendTimer, &QTimer::timeout);
        c->autoSendCheck->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(timeouts.size() >= 5, kTimeout);
        QCOMPARE(int(entries().size()), from + 1);
        QCOMPARE(c->comm->txBytes(), txBytes);
    }

    void shouldSendOnEveryAutoTickUntilTurnedOffAndFollowEnterTable()
    {
        QWebSocketServer peer(u"peer"_s, QWebSocketServer::NonSecureMode);
        QWebSocket* accepted = connectToInProcessPeer(&peer);
        QVERIFY(accepted);
        QStringList received;
        recordTexts(accepted, &received);
        QPlainTextEdit* box = c->sendEdit;

        c->intervalSpin->setValue(10);
        box->setPlainText(u"tick"_s);
        c->autoSendCheck->setChecked(true);
        QCOMPARE(c->autoSendTimer->interval(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(entriesOf(LogEntry::TX).size() >= 3, kTimeout);
        // Each tick reads the box anew.
        box->setPlainText(u"tock"_s);
        const int switchedAt = int(entries().size());
        QTRY_VERIFY_WITH_TIMEOUT(entriesOf(LogEntry::TX, switchedAt).size() >= 3, kTimeout);
        c->autoSendCheck->setChecked(false);
        QVERIFY(!c->autoSendTimer->isActive());
        const int stoppedAt = int(entries().size());
        QVERIFY(!happensWithin([&] { return !entriesOf(LogEntry::TX, stoppedAt).isEmpty(); }, 300));
        // One frame per TX entry, and no stale payload once the box changed.
        QStringList sent;
        for (const LogEntry& entry : entriesOf(LogEntry::TX))
            sent.append(QString::fromUtf8(entry.rawData()));
        const int ticks = int(sent.indexOf(u"tock"_s));
        QCOMPARE(sent, QStringList(ticks, u"tick"_s) + QStringList(sent.size() - ticks, u"tock"_s));
        QTRY_COMPARE_WITH_TIMEOUT(received, sent, kTimeout);

        // Shift never sends; Ctrl sends only with "Enter发送" off, plain Enter only
        // with it on. What does not send inserts a line break.
        const std::tuple<bool, Qt::Key, Qt::KeyboardModifiers, bool> table[] = {
            {true, Qt::Key_Return, Qt::NoModifier, true},
            {true, Qt::Key_Enter, Qt::KeypadModifier, true},
            {true, Qt::Key_Return, Qt::ShiftModifier, false},
            {true, Qt::Key_Return, Qt::ControlModifier, false},
            {true, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier, false},
            {false, Qt::Key_Return, Qt::NoModifier, false},
            {false, Qt::Key_Return, Qt::ShiftModifier, false},
            {false, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier, false},
            {false, Qt::Key_Return, Qt::ControlModifier, true},
        };
        const int tableAt = int(entries().size());
        int sends = 0;
        int row = 0;
        for (const auto& [enterSends, key, modifiers, expectSend] : table) {
            const QByteArray where = "row " + QByteArray::number(row++);
            c->enterSendCheck->setChecked(enterSends);
            box->setPlainText(u"abc"_s);
            box->moveCursor(QTextCursor::End);
            QTest::keyClick(box, key, modifiers);
            sends += expectSend ? 1 : 0;
            QVERIFY2(entriesOf(LogEntry::TX, tableAt).size() == sends, where.constData());
            QVERIFY2(box->toPlainText() == (expectSend ? u"abc"_s : u"abc\n"_s), where.constData());
        }
        QTRY_COMPARE_WITH_TIMEOUT(received, sent + QStringList(sends, u"abc"_s), kTimeout);
        // A line break replaces the selection, as typing does.
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(box->toPlainText(), u"\n"_s);

        // Leaving a box that still holds text keeps the placeholder away.
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        box->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(box->hasFocus(), kTimeout);
        box->setPlainText(u"kept"_s);
        c->urlEdit->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(c->urlEdit->hasFocus(), kTimeout);
        QCOMPARE(box->placeholderText(), QString());
    }

    void shouldApplyANewIntervalAndLogAFailingTickOncePerStretch()
    {
        QWebSocketServer peer(u"peer"_s, QWebSocketServer::NonSecureMode);
        QWebSocket* accepted = connectToInProcessPeer(&peer);
        QVERIFY(accepted);
        c->intervalSpin->setValue(60000);
        c->hexSendCheck->setChecked(true);
        c->sendEdit->setPlainText(u"4"_s);
        c->autoSendCheck->setChecked(true);
        QSignalSpy ticks(c->autoSendTimer, &QTimer::timeout);
        const int at = int(entries().size());
        c->intervalSpin->setValue(10);
        const QString odd = u"无效的十六进制数据: 十六进制位数为奇数"_s;
        // A tick that sends ("41") ends a stretch, as does a new reason.
        for (const QString& text : {u"4"_s, u"41"_s, u"4"_s, u"ff"_s}) {
            c->sendEdit->setPlainText(text);
            const qsizetype from = ticks.size();
            QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= from + 10, kTimeout);
        }
        QCOMPARE(systemTexts(at),
                 (QStringList{odd, odd, u"未发送：数据不是有效的 UTF-8，不能作为文本帧发送"_s}));
    }

    // A peer that completes its handshake and then reads nothing: auto-send
    // stops at the cap for it alone, with one entry when it stops and one when
    // it reads again, and refused sends leave no TX entry and no TX bytes.
    void shouldPauseSendingToAPeerThatStopsReadingUntilItReadsAgain_data()
    {
        QTest::addColumn<bool>("serverMode");
        QTest::newRow("client mode") << false;
        QTest::newRow("server mode, one of two clients") << true;
    }
    void shouldPauseSendingToAPeerThatStopsReadingUntilItReadsAgain()
    {
        REQUIRE_PYTHON();
        QFETCH(bool, serverMode);
        QWebSocket reader;
        qsizetype readerFrames = 0;
        connect(&reader, &QWebSocket::textMessageReceived, this, [&] { ++readerFrames; });
        PythonPeer* stalled = nullptr;
        QWebSocket* stalledSocket = nullptr;
        QString stalledName;
        if (serverMode) {
            QVERIFY(listenWithClients({}));
            const quint16 port = quint16(c->portSpin->value());
            reader.open(QUrl(wsUrl(port)));
            QTRY_COMPARE_WITH_TIMEOUT(clientCount(), 1, kTimeout);
            stalled = startPeer(u"stalled.py"_s, {u"client"_s, QString::number(port)});
            QTRY_VERIFY_WITH_TIMEOUT(!stalled->linesWith(u"OPEN "_s).isEmpty(), kTimeout);
            QTRY_COMPARE_WITH_TIMEOUT(clientCount(), 2, kTimeout);
            stalledSocket = serverClient(1);
            stalledName = u"127.0.0.1:"_s + stalled->linesWith(u"OPEN "_s).first();
        } else {
            stalled = startPeer(u"stalled.py"_s, {u"server"_s});
            QTRY_VERIFY_WITH_TIMEOUT(!stalled->linesWith(u"LISTENING "_s).isEmpty(), kTimeout);
            const QString port = stalled->linesWith(u"LISTENING "_s).first();
            QVERIFY(connectWindowTo(wsUrl(quint16(port.toUInt()))));
            stalledSocket = c->connection->clientModeSocket();
        }
        QVERIFY(stalledSocket);

        constexpr int kFrame = 64 * 1024;
        c->sendEdit->setPlainText(QString(kFrame, u'x'));
        c->intervalSpin->setValue(10);
        c->autoSendCheck->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(LogEntry::TX).isEmpty(), kTimeout);
        if (!serverMode)
            stalledName = entriesOf(LogEntry::TX).first().peer();
        const QString stopped = u"对方未读取数据，已暂停向 %1 发送（待发送 "_s.arg(stalledName);
        QTRY_COMPARE_WITH_TIMEOUT(systemTexts().filter(stopped).size(), 1, kTimeout);
        const int stalledAt = int(entries().size());

        // Ticks go on; the stalled peer gets none of them, the other client
        // all of them.
        QSignalSpy ticks(c->autoSendTimer, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, kTimeout);
        const QList<LogEntry> whileStalled = entriesOf(LogEntry::TX, stalledAt);
        if (serverMode) {
            QVERIFY(whileStalled.size() >= 19);
            for (const LogEntry& entry : whileStalled)
                QCOMPARE(entry.peer(), u"全部 (1)"_s);
            QTRY_COMPARE_WITH_TIMEOUT(readerFrames, entriesOf(LogEntry::TX).size(), kTimeout);
        } else {
            QCOMPARE(whileStalled.size(), 0);
        }
        QVERIFY(stalledSocket->bytesToWrite() <= WriteCap::maxPendingBytes);
        QCOMPARE(c->comm->txBytes(), qint64(entriesOf(LogEntry::TX).size()) * kFrame);
        QCOMPARE(systemTexts().filter(stopped).size(), 1);

        // It reads again: one entry, and the ticks reach it again.
        stalled->send(u"read"_s);
        QTRY_COMPARE_WITH_TIMEOUT(systemTexts(stalledAt).count(stalledName + u" 已恢复接收"_s), 1,
                                  kTimeout);
        const int resumedAt = int(entries().size());
        const QString everyone = serverMode ? u"全部 (2)"_s : stalledName;
        QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(LogEntry::TX, resumedAt).isEmpty() &&
                                     entriesOf(LogEntry::TX, resumedAt).last().peer() == everyone,
                                 kTimeout);
        c->autoSendCheck->setChecked(false);

        // A frame larger than the cap still goes to a peer that reads.
        QTRY_COMPARE_WITH_TIMEOUT(stalledSocket->bytesToWrite(), 0, kTimeout);
        const ConnectionManager::SendResult large = c->connection->send(
            QByteArray(WriteCap::maxPendingBytes + 1, 'y'), LogEntry::FrameKind::Binary);
        QCOMPARE(large.status, ConnectionManager::SendStatus::Sent);
        QCOMPARE(large.recipients, everyone);
    }

    void shouldPlotOnePointPerLineOfReceivedFrame()
    {
        REQUIRE_PYTHON();
        PythonPeer* echo = connectToEchoServer();
        QVERIFY(echo);
        ChartEngine* chart = c->chartEngine;
        chart->ruleNameEdit()->setText(u"n"_s);
        chart->expressionEdit()->setText(u"\\d+"_s);
        chart->onAddRule();
        QCOMPARE(chart->rules().size(), 1);
        auto values = [chart] {
            QList<double> found;
            for (const ChartSeriesData* series : chart->seriesStore()) {
                for (const DataPoint& point : series->points)
                    found.append(point.value);
            }
            return found;
        };

        // Sent bytes are not plotted; each echoed frame is, text or binary, one
        // point per line.
        c->hexSendCheck->setChecked(true);
        send(u"31 32 0d 0a 0d 0a 31 33"_s);
        QVERIFY(values().isEmpty());
        c->binaryRadio->setChecked(true);
        send(u"37 0d 38"_s);
        QTRY_COMPARE_WITH_TIMEOUT(values(), (QList<double>{12, 13, 7, 8}), kTimeout);
        QCOMPARE(entriesOf(LogEntry::RX).size(), 2);
    }

    void shouldReceiveLargeFramesIntact_data()
    {
        QTest::addColumn<bool>("serverMode");
        QTest::newRow("client mode") << false;
        QTest::newRow("server mode") << true;
    }

    void shouldReceiveLargeFramesIntact()
    {
        REQUIRE_PYTHON();
        QFETCH(bool, serverMode);
        PythonPeer* peer = serverMode ? listenWithClients({u"/"_s}) : connectToEchoServer();
        QVERIFY(peer);
        const QString push = serverMode ? u"sendlarge 0 %1 %2"_s : u"push %1 %2"_s;
        QWebSocket* socket = serverMode ? serverClient(0) : c->connection->clientModeSocket();
        // Small while frames are small: a flood is handled in short events.
        QCOMPARE(socket->readBufferSize(), ReadBufferTuner::smallBufferSize);

        const QByteArray text = makeText(1 << 20);
        peer->send(push.arg(u"text"_s).arg(text.size()));
        // A large frame may take a while; on failure this costs one timeout only.
        auto waitForRx = [this](int count) {
            return QTest::qWaitFor([&] { return entriesOf(LogEntry::RX).size() >= count; }, 30000);
        };
        QVERIFY(waitForRx(1));
        QCOMPARE(c->comm->rxBytes(), qint64(text.size()));
        QVERIFY(entriesOf(LogEntry::RX).first().rawData() == text);

        const QByteArray binary = makeBinary(16 << 20);
        peer->send(push.arg(u"binary"_s).arg(binary.size()));
        QVERIFY2(waitForRx(2), "the 16 MiB frame did not arrive");
        QCOMPARE(c->comm->rxBytes(), qint64(text.size()) + binary.size());
        const LogEntry large = entriesOf(LogEntry::RX).last();
        QVERIFY(large.rawData() == binary);
        QCOMPARE(large.hexText().size(), binary.size() * 3 - 1);
        QVERIFY(peer->linesWith(u"CLOSED "_s).isEmpty());
        // The buffer grew for the frame and is small again after it.
        QTRY_COMPARE(socket->readBufferSize(), ReadBufferTuner::smallBufferSize);

        // Rows show a bounded prefix and the full size.
        auto* rows = c->logView->findChild<QListWidget*>(u"logOutput"_s);
        QTRY_VERIFY(c->logView->pendingCount() == 0 && rows->count() >= 2);
        const QString textRow = rows->item(rows->count() - 2)->text();
        const QString binaryRow = rows->item(rows->count() - 1)->text();
        QVERIFY2(textRow.endsWith(u" \u2026 (1048576 bytes)"_s), qPrintable(textRow.right(40)));
        QVERIFY(binaryRow.endsWith(u" \u2026 (16777216 bytes)"_s));
        QVERIFY(textRow.size() < 600 && binaryRow.size() < 600);
        QVERIFY(textRow.contains(QString::fromUtf8(text.left(64))));

        // Exporting takes them whole.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"log.txt"_s);
        QVERIFY(c->comm->exportToFile(path, true, false));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // The frame is the last entry; written whole as its own last line.
        QByteArray lastLine = large.hexText().toLatin1();
        lastLine.prepend(' ').append('\n');
        QVERIFY(file.readAll().endsWith(lastLine));
    }

    // Qt closes on its own for a frame above the limit (1009) and for a frame
    // that stalls half-way (1001, after 5 s); the user must see why.
    void shouldLogWhyQtClosedTheConnection_data()
    {
        QTest::addColumn<bool>("serverMode");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        const QString oversized = u"binary %1"_s.arg((32 << 20) + 1);
        QTest::newRow("oversized, client mode") << false << u"push "_s + oversized << u"1009"_s;
        QTest::newRow("oversized, server mode")
            << true << u"sendlarge 0 "_s + oversized << u"1009"_s;
        QTest::newRow("stalled frame, client mode") << false << u"partial"_s << u"1001"_s;
    }

    void shouldLogWhyQtClosedTheConnection()
    {
        REQUIRE_PYTHON();
        QFETCH(bool, serverMode);
        QFETCH(QString, command);
        QFETCH(QString, expected);
        PythonPeer* peer = serverMode ? listenWithClients({u"/"_s}) : connectToEchoServer();
        QVERIFY(peer);
        const int from = int(entries().size());
        peer->send(command);
        const QString client = serverMode ? c->clientList->item(0)->text() : QString();
        const QString who = serverMode ? u"客户端 "_s + client + u' ' : QString();
        const QString prefix = who + u"关闭代码 "_s + expected + u"，原因: "_s;
        QTRY_VERIFY_WITH_TIMEOUT(systemTexts(from).size() >= 2, 20000);
        const QStringList texts = systemTexts(from);
        QCOMPARE(texts.at(0), serverMode ? u"客户端断开: "_s + client : u"WebSocket已断开"_s);
        QVERIFY2(texts.at(1).startsWith(prefix) && texts.at(1).size() > prefix.size(),
                 qPrintable(texts.join(u" | "_s)));
        QVERIFY(entriesOf(LogEntry::RX, from).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(peer->linesWith(u"CLOSED "_s).size(), 1, kTimeout);
        QCOMPARE(peer->linesWith(u"CLOSED "_s).first().split(u' ').last(), expected);
    }

    // --------------------------------------------------------------- teardown

    void shouldCloseEverySocketWhenWindowIsDeleted_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("connected") << false;
        QTest::newRow("listening with clients") << true;
    }

    void shouldCloseEverySocketWhenWindowIsDeleted()
    {
        REQUIRE_PYTHON();
        QFETCH(bool, listening);
        PythonPeer* peer = listening ? listenWithClients({u"/"_s, u"/"_s}) : connectToEchoServer();
        QVERIFY(peer);
        QList<QPointer<QObject>> owned;
        for (QWebSocketServer* server : window->findChildren<QWebSocketServer*>())
            owned.append(server);
        for (QWebSocket* socket : window->findChildren<QWebSocket*>())
            owned.append(socket);
        QCOMPARE(owned.size(), listening ? 3 : 1);

        window.reset();
        for (const QPointer<QObject>& object : std::as_const(owned))
            QVERIFY(!object);
        // Both peers print the close code last.
        QTRY_COMPARE_WITH_TIMEOUT(peer->linesWith(u"CLOSED "_s).size(), listening ? 2 : 1,
                                  kTimeout);
        for (const QString& closed : peer->linesWith(u"CLOSED "_s))
            QVERIFY(closed.endsWith(u"1000"_s));
    }
};

QTEST_MAIN(ConnectionsTest)
#include "tst_connections.moc"

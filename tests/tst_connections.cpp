// Client mode, server mode, sending and receiving of the tool window, against
// Debian's python3-websockets as a peer nobody here wrote and, where simpler,
// against in-process Qt sockets.
#include "LoopbackOnly.h"

#include "chart/ChartEngine.h"
#include "chart/ChartSeriesData.h"
#include "comm/CommunicationBase.h"
#include "comm/LogEntry.h"
#include "websocket/WebSocketWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
constexpr int kTimeout = 15000;

QString peersDir()
{
    return QStringLiteral(SOCKWISE_TESTS_DIR "/peers");
}

// Same generators as peers/patterns.py.
QString textUnit()
{
    return QStringLiteral("abcdefghij") + QChar(0x6570) + QChar(0x636e);
}

QByteArray makeText(int size)
{
    return textUnit().repeated(size / 16).toUtf8();
}

QByteArray makeBinary(int size)
{
    QByteArray unit(251, '\0');
    for (int i = 0; i < 251; ++i)
        unit[i] = char((i * 31 + 7) & 0xFF);
    QByteArray data = unit.repeated(size / 251 + 1);
    data.truncate(size);
    return data;
}

QString describeLarge(const QString& kind, const QByteArray& data)
{
    return kind + QStringLiteral("-LARGE ") + QString::number(data.size()) + QLatin1Char(' ') +
           QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QString hexOf(const QByteArray& data)
{
    return QString::fromLatin1(data.toHex());
}

// One python peer process; its stdout is collected line by line.
class Peer : public QObject
{
    Q_OBJECT

public:
    explicit Peer(QObject* parent = nullptr)
        : QObject(parent)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        connect(&process, &QProcess::readyReadStandardOutput, this, &Peer::readLines);
    }

    ~Peer() override { stop(); }

    bool start(const QString& script, const QStringList& args)
    {
        process.start(kPython,
                      QStringList{QStringLiteral("-u"), peersDir() + QLatin1Char('/') + script} +
                          args);
        return process.waitForStarted(kTimeout);
    }

    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kTimeout);
        }
    }

    void send(const QString& line) { process.write((line + QLatin1Char('\n')).toUtf8()); }

    int indexOf(const QString& line, int from = 0) const { return int(lines.indexOf(line, from)); }

    int indexStartingWith(const QString& prefix, int from = 0) const
    {
        for (int i = from; i < lines.size(); ++i) {
            if (lines.at(i).startsWith(prefix))
                return i;
        }
        return -1;
    }

    bool waitForLine(const QString& line, int from = 0)
    {
        return QTest::qWaitFor([&] { return indexOf(line, from) >= 0; }, kTimeout);
    }

    bool waitForPrefix(const QString& prefix, int from = 0)
    {
        return QTest::qWaitFor([&] { return indexStartingWith(prefix, from) >= 0; }, kTimeout);
    }

    // The lines that begin with the prefix, the prefix removed.
    QStringList linesWith(const QString& prefix) const
    {
        QStringList found;
        for (const QString& line : lines) {
            if (line.startsWith(prefix))
                found.append(line.mid(prefix.size()));
        }
        return found;
    }

    QProcess process;
    QStringList lines;

private:
    void readLines()
    {
        buffer += process.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = buffer.indexOf('\n')) >= 0) {
            lines.append(QString::fromUtf8(buffer.left(end)));
            buffer.remove(0, end + 1);
        }
    }

    QByteArray buffer;
};

// Runs the event loop for a while and reports whether the condition ever held:
// for things that must NOT happen.
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

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // client mode
    void shouldLogConnectEchoAndCloseInExactOrderAgainstRealServer();
    void shouldReportRefusedConnectionOnceAndReturnToIdle();
    void shouldGoIdleOnServerCloseAndStartFreshSocketOnNextClick();
    void shouldAbortPendingAttemptWhenConnectIsClickedAgain();

    // server mode
    void shouldListRealClientsInArrivalOrderAndRouteBroadcastAndSelectedFrames();
    void shouldKeepRowsAndSocketsAlignedWhenClientsLeave();
    void shouldEmptyEverythingAndLogDisconnectOnceWhenStoppingWithClients();
    void shouldReportPortInUseAndStayIdle();

    // sending and receiving
    void shouldSendEveryHexFormAsSameBytesAndRejectInvalidHex();
    void shouldSendTextFrameAsPayloadReadAsUtf8();
    void shouldFollowEnterTableAndPlaceholderOnFocus();
    void shouldAutoSendEveryTickAndStopAtOnceWhenTurnedOff();
    void shouldPlotOnePointPerLineOfReceivedFrame();
    void shouldReceiveLargeFramesIntactInClientMode();
    void shouldReceiveLargeFramesIntactInServerMode();

    // teardown
    void shouldCloseConnectionWhenWindowIsDeletedWhileConnected();
    void shouldCloseEveryClientWhenWindowIsDeletedWhileListening();

private:
    bool requirePython();
    Peer* startPeer(const QString& script, const QStringList& args);
    Peer* startEchoServer(quint16* port);
    bool connectWindowTo(const QString& url);
    bool startWindowServer(quint16* port);
    Peer* startClients(quint16 port, const QStringList& paths, QList<quint16>* localPorts);
    bool startInProcessServer(QWebSocketServer* server, QList<QWebSocket*>* accepted);
    void setSendText(const QString& text);
    void send();

    QList<LogEntry> entries() const { return window->comm->entries(); }
    QStringList systemTexts(int from = 0) const;
    QList<LogEntry> entriesOf(LogEntry::Direction direction, int from = 0) const;
    // A large frame may take a while; on failure this costs one timeout only.
    bool waitForRxCount(int count)
    {
        return QTest::qWaitFor([&] { return entriesOf(LogEntry::RX).size() >= count; }, 30000);
    }
    int webSocketCount() const { return int(window->findChildren<QWebSocket*>().size()); }

    bool pythonReady = false;
    std::unique_ptr<WebSocketWidget> window;
    QList<Peer*> peers;
};

void ConnectionsTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    keepNetworkOnLoopback();
    QProcess probe;
    probe.start(kPython, {QStringLiteral("-c"), QStringLiteral("import websockets")});
    pythonReady = probe.waitForFinished(kTimeout) && probe.exitStatus() == QProcess::NormalExit &&
                  probe.exitCode() == 0;
}

void ConnectionsTest::init()
{
    window = std::make_unique<WebSocketWidget>();
}

void ConnectionsTest::cleanup()
{
    window.reset();
    qDeleteAll(peers);
    peers.clear();
}

bool ConnectionsTest::requirePython()
{
    return pythonReady;
}

Peer* ConnectionsTest::startPeer(const QString& script, const QStringList& args)
{
    auto* peer = new Peer;
    peers.append(peer);
    if (!peer->start(script, args))
        return nullptr;
    return peer;
}

Peer* ConnectionsTest::startEchoServer(quint16* port)
{
    Peer* peer = startPeer(QStringLiteral("echo_server.py"), {});
    if (!peer || !peer->waitForPrefix(QStringLiteral("PORT ")))
        return nullptr;
    *port =
        quint16(peer->lines.at(peer->indexStartingWith(QStringLiteral("PORT "))).mid(5).toUInt());
    return peer;
}

bool ConnectionsTest::connectWindowTo(const QString& url)
{
    window->urlEdit->setText(url);
    window->connectButton->click();
    return QTest::qWaitFor([this] { return window->isConnected; }, kTimeout);
}

bool ConnectionsTest::startWindowServer(quint16* port)
{
    window->serverRadio->setChecked(true);
    // Another program may take a port between the probe and the listen.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 0))
            continue;
        const quint16 candidate = probe.serverPort();
        probe.close();
        window->portSpin->setValue(candidate);
        window->connectButton->click();
        if (window->isConnected) {
            *port = candidate;
            return true;
        }
    }
    return false;
}

Peer* ConnectionsTest::startClients(quint16 port, const QStringList& paths,
                                    QList<quint16>* localPorts)
{
    QStringList urls;
    for (const QString& path : paths)
        urls.append(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(path));
    Peer* peer = startPeer(QStringLiteral("clients.py"), urls);
    if (!peer || !peer->waitForLine(QStringLiteral("READY")))
        return nullptr;
    for (int i = 0; i < paths.size(); ++i) {
        const QString prefix = QStringLiteral("OPEN %1 ").arg(i);
        localPorts->append(quint16(peer->linesWith(prefix).value(0).toUInt()));
    }
    return peer;
}

bool ConnectionsTest::startInProcessServer(QWebSocketServer* server, QList<QWebSocket*>* accepted)
{
    if (!server->listen(QHostAddress::LocalHost, 0))
        return false;
    connect(server, &QWebSocketServer::newConnection, server, [server, accepted] {
        while (server->hasPendingConnections()) {
            QWebSocket* socket = server->nextPendingConnection();
            socket->setParent(server);
            accepted->append(socket);
        }
    });
    return true;
}

void ConnectionsTest::setSendText(const QString& text)
{
    window->sendEdit->setPlainText(text);
}

void ConnectionsTest::send()
{
    window->sendButton->click();
}

QStringList ConnectionsTest::systemTexts(int from) const
{
    QStringList texts;
    const QList<LogEntry> all = entries();
    for (int i = from; i < all.size(); ++i) {
        if (all.at(i).direction == LogEntry::SYS)
            texts.append(all.at(i).text);
    }
    return texts;
}

QList<LogEntry> ConnectionsTest::entriesOf(LogEntry::Direction direction, int from) const
{
    QList<LogEntry> found;
    const QList<LogEntry> all = entries();
    for (int i = from; i < all.size(); ++i) {
        if (all.at(i).direction == direction)
            found.append(all.at(i));
    }
    return found;
}

#define REQUIRE_PYTHON()                                                                           \
    do {                                                                                           \
        if (!requirePython())                                                                      \
            QSKIP(                                                                                 \
                "/usr/bin/python3 cannot import websockets (Debian package python3-websockets)");  \
    } while (false)

// ------------------------------------------------------------------ client mode

void ConnectionsTest::shouldLogConnectEchoAndCloseInExactOrderAgainstRealServer()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    const QString url = QStringLiteral("ws://127.0.0.1:%1/echo").arg(port);

    QVERIFY(connectWindowTo(url));
    QCOMPARE(window->connectButton->text(), QStringLiteral("断开"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("connStatus"))->text(),
             QStringLiteral("🟢 已连接"));
    QVERIFY(echo->waitForLine(QStringLiteral("OPEN /echo")));

    const QString message = QStringLiteral("hi ") + QChar(0x4f60) + QChar(0x597d);
    const QByteArray bytes = message.toUtf8();
    setSendText(message);
    send();
    QVERIFY(echo->waitForLine(QStringLiteral("TEXT ") + hexOf(bytes)));
    QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 1, kTimeout);

    window->connectButton->click();
    QVERIFY(echo->waitForLine(QStringLiteral("CLOSED 1000")));
    QVERIFY(!window->isConnected);
    QVERIFY(!window->clientSocket);
    QCOMPARE(window->connectButton->text(), QStringLiteral("连接"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("connStatus"))->text(),
             QStringLiteral("⚫未连接"));
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);

    const QList<LogEntry> log = entries();
    QVERIFY2(log.size() >= 5, qPrintable(systemTexts().join(QLatin1Char('|'))));
    QCOMPARE(log.at(0).direction, LogEntry::SYS);
    QCOMPARE(log.at(0).text, QStringLiteral("正在连接 ") + url + QStringLiteral("..."));
    QCOMPARE(log.at(1).direction, LogEntry::SYS);
    QCOMPARE(log.at(1).text, QStringLiteral("WebSocket已连接"));
    QCOMPARE(log.at(2).direction, LogEntry::TX);
    QCOMPARE(log.at(2).rawData, bytes);
    QCOMPARE(log.at(3).direction, LogEntry::RX);
    QCOMPARE(log.at(3).rawData, bytes);
    QCOMPARE(log.at(4).direction, LogEntry::SYS);
    QCOMPARE(log.at(4).text, QStringLiteral("已断开"));
    // The closed socket may still report before it is deleted, once at most.
    QVERIFY(log.size() <= 6);
    if (log.size() == 6)
        QCOMPARE(log.at(5).text, QStringLiteral("WebSocket已断开"));
    QCOMPARE(window->comm->txBytes(), qint64(bytes.size()));
    QCOMPARE(window->comm->rxBytes(), qint64(bytes.size()));
}

void ConnectionsTest::shouldReportRefusedConnectionOnceAndReturnToIdle()
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const QString url = QStringLiteral("ws://127.0.0.1:%1/ws").arg(closedPort);

    // Qt's own wording for this failure, as a plain socket reports it.
    QString qtError;
    {
        QWebSocket reference;
        QSignalSpy errors(&reference,
                          QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error));
        reference.open(QUrl(url));
        QVERIFY(errors.wait(kTimeout));
        qtError = reference.errorString();
    }
    QVERIFY(!qtError.isEmpty());

    window->urlEdit->setText(url);
    window->connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window->clientSocket, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);
    QVERIFY(!window->isConnected);
    QCOMPARE(window->connectButton->text(), QStringLiteral("连接"));

    // Let any late notice of the failed attempt arrive, then read the log:
    // one error entry; besides it at most the disconnection notice.
    const QString connecting = QStringLiteral("正在连接 ") + url + QStringLiteral("...");
    const QString error = QStringLiteral("连接错误: ") + qtError;
    happensWithin([] { return false; }, 300);
    QStringList log = systemTexts();
    QCOMPARE(log.value(0), connecting);
    QCOMPARE(log.count(error), 1);
    log.removeAll(connecting);
    log.removeAll(error);
    QVERIFY2(log.isEmpty() || log == QStringList{QStringLiteral("WebSocket已断开")},
             qPrintable(log.join(QLatin1Char('|'))));

    // The window is usable again: a second attempt fails the same way.
    const int secondAt = int(entries().size());
    window->connectButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(systemTexts(secondAt).count(error), 1, kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);
}

void ConnectionsTest::shouldGoIdleOnServerCloseAndStartFreshSocketOnNextClick()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    const QString url = QStringLiteral("ws://127.0.0.1:%1/ws").arg(port);
    QVERIFY(connectWindowTo(url));
    QVERIFY(echo->waitForPrefix(QStringLiteral("OPEN ")));
    const int connectedAt = int(entries().size());

    echo->send(QStringLiteral("close"));
    QVERIFY(echo->waitForLine(QStringLiteral("CLOSED 1000")));
    QTRY_VERIFY_WITH_TIMEOUT(!window->isConnected, kTimeout);
    QVERIFY(!window->clientSocket);
    QCOMPARE(window->connectButton->text(), QStringLiteral("连接"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("connStatus"))->text(),
             QStringLiteral("⚫未连接"));
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);
    // A clean close by the server is neither an error nor a user disconnect.
    QVERIFY(!happensWithin([&] { return entries().size() > connectedAt + 1; }, 300));
    QCOMPARE(systemTexts(connectedAt), QStringList{QStringLiteral("WebSocket已断开")});

    const int secondAt = int(entries().size());
    window->connectButton->click();
    QVERIFY(window->clientSocket);
    QTRY_VERIFY_WITH_TIMEOUT(window->isConnected, kTimeout);
    QCOMPARE(echo->linesWith(QStringLiteral("OPEN ")).size(), 2);
    QCOMPARE(webSocketCount(), 1);
    QCOMPARE(systemTexts(secondAt),
             (QStringList{QStringLiteral("正在连接 ") + url + QStringLiteral("..."),
                          QStringLiteral("WebSocket已连接")}));
}

void ConnectionsTest::shouldAbortPendingAttemptWhenConnectIsClickedAgain()
{
    // Accepts TCP but never answers the opening handshake: the attempt stays pending.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QWebSocketServer answering(QStringLiteral("peer"), QWebSocketServer::NonSecureMode);
    QList<QWebSocket*> accepted;
    QVERIFY(startInProcessServer(&answering, &accepted));

    const QString pendingUrl = QStringLiteral("ws://127.0.0.1:%1/").arg(silent.serverPort());
    window->urlEdit->setText(pendingUrl);
    window->connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), kTimeout);
    QTcpSocket* stalled = silent.nextPendingConnection();
    QSignalSpy stalledGone(stalled, &QTcpSocket::disconnected);
    QVERIFY(!window->isConnected);
    QCOMPARE(window->connectButton->text(), QStringLiteral("连接"));

    const QString goodUrl = QStringLiteral("ws://127.0.0.1:%1/").arg(answering.serverPort());
    QVERIFY(connectWindowTo(goodUrl));
    QVERIFY(stalledGone.count() > 0 || stalledGone.wait(kTimeout));
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 1, kTimeout);
    QCOMPARE(window->findChild<QWebSocket*>(), window->clientSocket);
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, kTimeout);

    // The aborted attempt stays silent and leaves the new connection alone.
    QVERIFY(!happensWithin([this] { return entries().size() > 3 || !window->isConnected; }, 300));
    QCOMPARE(systemTexts(),
             (QStringList{QStringLiteral("正在连接 ") + pendingUrl + QStringLiteral("..."),
                          QStringLiteral("正在连接 ") + goodUrl + QStringLiteral("..."),
                          QStringLiteral("WebSocket已连接")}));

    QSignalSpy text(accepted.first(), &QWebSocket::textMessageReceived);
    setSendText(QStringLiteral("still here"));
    send();
    QVERIFY(text.wait(kTimeout));
    QCOMPARE(text.first().first().toString(), QStringLiteral("still here"));
}

// ------------------------------------------------------------------ server mode

void ConnectionsTest::shouldListRealClientsInArrivalOrderAndRouteBroadcastAndSelectedFrames()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    QVERIFY(startWindowServer(&port));
    QCOMPARE(systemTexts().last(),
             QStringLiteral("WebSocket服务器已启动，端口 %1，路径 /ws").arg(port));

    // Any path is accepted, not only the one shown.
    QList<quint16> ports;
    Peer* peer = startClients(
        port, {QStringLiteral("/ws"), QStringLiteral("/"), QStringLiteral("/other/path?x=1")},
        &ports);
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(window->clientList->count(), 3, kTimeout);
    QCOMPARE(window->clients.size(), 3);
    QStringList connectedMessages;
    for (int i = 0; i < 3; ++i) {
        const QString row = window->clientList->item(i)->text();
        QVERIFY2(row.endsWith(QLatin1Char(':') + QString::number(ports.at(i))), qPrintable(row));
        QVERIFY(!row.startsWith(QLatin1Char('[')));
        QCOMPARE(window->clients.at(i)->peerPort(), ports.at(i));
        connectedMessages.append(QStringLiteral("客户端连接 ") + row);
    }
    QCOMPARE(systemTexts(1), connectedMessages);

    // Broadcast: all three, one TX entry, the counter grows once.
    window->clientList->setCurrentItem(nullptr);
    const int before = int(entries().size());
    setSendText(QStringLiteral("to all"));
    send();
    const QString toAll = QStringLiteral("TEXT ") + hexOf(QByteArrayLiteral("to all"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(peer->waitForLine(QStringLiteral("MSG %1 ").arg(i) + toAll));
    QCOMPARE(entriesOf(LogEntry::TX, before).size(), 1);
    QCOMPARE(window->comm->txBytes(), qint64(6));

    // A selected row reaches its client only; a later broadcast is the next
    // frame the other two see.
    window->clientList->setCurrentRow(1);
    setSendText(QStringLiteral("only one"));
    send();
    QVERIFY(
        peer->waitForLine(QStringLiteral("MSG 1 TEXT ") + hexOf(QByteArrayLiteral("only one"))));
    window->clientList->setCurrentItem(nullptr);
    setSendText(QStringLiteral("after"));
    send();
    const QString after = QStringLiteral("TEXT ") + hexOf(QByteArrayLiteral("after"));
    for (int i = 0; i < 3; ++i)
        QVERIFY(peer->waitForLine(QStringLiteral("MSG %1 ").arg(i) + after));
    QCOMPARE(peer->linesWith(QStringLiteral("MSG 0 ")), (QStringList{toAll, after}));
    QCOMPARE(peer->linesWith(QStringLiteral("MSG 2 ")), (QStringList{toAll, after}));
    QCOMPARE(entriesOf(LogEntry::TX, before).size(), 3);
    QCOMPARE(window->comm->txBytes(), qint64(6 + 8 + 5));
}

void ConnectionsTest::shouldKeepRowsAndSocketsAlignedWhenClientsLeave()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    QVERIFY(startWindowServer(&port));
    QList<quint16> ports;
    Peer* peer = startClients(
        port, {QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")}, &ports);
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(window->clientList->count(), 3, kTimeout);
    const QString rowA = window->clientList->item(0)->text();
    const QString rowB = window->clientList->item(1)->text();
    const QString rowC = window->clientList->item(2)->text();

    // Without a selection the button does nothing.
    window->clientList->setCurrentItem(nullptr);
    window->disconnectClientButton->click();
    QVERIFY(
        !happensWithin([&] { return !peer->linesWith(QStringLiteral("CLOSED ")).isEmpty(); }, 300));
    QCOMPARE(window->clients.size(), 3);

    // The middle client leaves by itself.
    const int beforeLeave = int(entries().size());
    peer->send(QStringLiteral("close 1"));
    QVERIFY(peer->waitForLine(QStringLiteral("CLOSED 1 1000")));
    QTRY_COMPARE_WITH_TIMEOUT(window->clientList->count(), 2, kTimeout);
    QCOMPARE(window->clients.size(), 2);
    QCOMPARE(window->clientList->item(0)->text(), rowA);
    QCOMPARE(window->clientList->item(1)->text(), rowC);
    QCOMPARE(window->clients.at(0)->peerPort(), ports.at(0));
    QCOMPARE(window->clients.at(1)->peerPort(), ports.at(2));
    QTRY_COMPARE_WITH_TIMEOUT(systemTexts(beforeLeave),
                              QStringList{QStringLiteral("客户端断开: ") + rowB}, kTimeout);

    // Row 1 is now the third client, and frames follow the row.
    window->clientList->setCurrentRow(1);
    setSendText(QStringLiteral("for c"));
    send();
    QVERIFY(peer->waitForLine(QStringLiteral("MSG 2 TEXT ") + hexOf(QByteArrayLiteral("for c"))));
    QVERIFY(peer->linesWith(QStringLiteral("MSG 0 ")).isEmpty());

    // "断开选中客户端" on the first row closes that client with 1000.
    window->clientList->setCurrentRow(0);
    const int beforeKick = int(entries().size());
    window->disconnectClientButton->click();
    QVERIFY(peer->waitForLine(QStringLiteral("CLOSED 0 1000")));
    QTRY_COMPARE_WITH_TIMEOUT(window->clientList->count(), 1, kTimeout);
    QCOMPARE(window->clientList->item(0)->text(), rowC);
    QCOMPARE(window->clients.size(), 1);
    QCOMPARE(window->clients.at(0)->peerPort(), ports.at(2));
    QTRY_COMPARE_WITH_TIMEOUT(systemTexts(beforeKick),
                              QStringList{QStringLiteral("客户端断开: ") + rowA}, kTimeout);
    // Departed sockets are released; the server's one remains.
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 1, kTimeout);
    QVERIFY(window->isConnected);
}

void ConnectionsTest::shouldEmptyEverythingAndLogDisconnectOnceWhenStoppingWithClients()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    QVERIFY(startWindowServer(&port));
    QList<quint16> ports;
    Peer* peer =
        startClients(port, {QStringLiteral("/"), QStringLiteral("/"), QStringLiteral("/")}, &ports);
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(window->clientList->count(), 3, kTimeout);

    const int beforeStop = int(entries().size());
    window->connectButton->click();
    QCOMPARE(window->clientList->count(), 0);
    QVERIFY(window->clients.isEmpty());
    QVERIFY(!window->server);
    QVERIFY(!window->isConnected);
    QCOMPARE(window->connectButton->text(), QStringLiteral("监听"));
    QVERIFY(window->findChildren<QWebSocketServer*>().isEmpty());
    for (int i = 0; i < 3; ++i)
        QVERIFY(peer->waitForLine(QStringLiteral("CLOSED %1 1000").arg(i)));
    QTRY_COMPARE_WITH_TIMEOUT(webSocketCount(), 0, kTimeout);
    QCOMPARE(systemTexts(beforeStop).count(QStringLiteral("已断开")), 1);

    // The port is free again.
    QTcpServer reuse;
    QVERIFY(reuse.listen(QHostAddress::Any, port));
}

void ConnectionsTest::shouldReportPortInUseAndStayIdle()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    const quint16 port = holder.serverPort();

    QString reason;
    {
        QWebSocketServer reference(QStringLiteral("reference"), QWebSocketServer::NonSecureMode);
        QVERIFY(!reference.listen(QHostAddress::Any, port));
        reason = reference.errorString();
    }

    window->serverRadio->setChecked(true);
    const QString caption = window->connectButton->text();
    const QString statusText = window->findChild<QLabel*>(QStringLiteral("connStatus"))->text();
    window->portSpin->setValue(port);
    window->connectButton->click();
    QCOMPARE(systemTexts(), QStringList{QStringLiteral("监听失败: ") + reason});
    QVERIFY(!window->server);
    QVERIFY(!window->isConnected);
    QVERIFY(window->findChildren<QWebSocketServer*>().isEmpty());
    QCOMPARE(window->connectButton->text(), caption);
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("connStatus"))->text(), statusText);

    // After the port is freed, the same click listens.
    holder.close();
    window->connectButton->click();
    QVERIFY(window->isConnected);
    QCOMPARE(systemTexts().last(),
             QStringLiteral("WebSocket服务器已启动，端口 %1，路径 /ws").arg(port));
}

// ------------------------------------------------------------ sending, receiving

void ConnectionsTest::shouldSendEveryHexFormAsSameBytesAndRejectInvalidHex()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    window->hexSendCheck->setChecked(true);
    window->binaryRadio->setChecked(true);

    const QByteArray hello = QByteArrayLiteral("Hello");
    const QStringList forms{QStringLiteral("48 65 6c 6c 6f"), QStringLiteral("48-65-6C-6C-6F"),
                            QStringLiteral("48656c6c6f")};
    for (const QString& form : forms) {
        const int from = int(entries().size());
        setSendText(form);
        send();
        QCOMPARE(entriesOf(LogEntry::TX, from).size(), 1);
        QCOMPARE(entriesOf(LogEntry::TX, from).first().rawData, hello);
    }
    QTRY_COMPARE_WITH_TIMEOUT(echo->linesWith(QStringLiteral("BINARY ")),
                              QStringList(3, hexOf(hello)), kTimeout);
    QCOMPARE(window->comm->txBytes(), qint64(15));

    for (const QString& bad : {QStringLiteral("486"), QStringLiteral("4G")}) {
        const int from = int(entries().size());
        setSendText(bad);
        send();
        QCOMPARE(systemTexts(from), QStringList{QStringLiteral("无效的十六进制数据")});
        QVERIFY(entriesOf(LogEntry::TX, from).isEmpty());
    }
    QCOMPARE(window->comm->txBytes(), qint64(15));

    // Hex bytes in a text frame are read as UTF-8; the broken byte becomes U+FFFD.
    window->textRadio->setChecked(true);
    const int from = int(entries().size());
    setSendText(QStringLiteral("e4 bd a0 ff"));
    send();
    QVERIFY(echo->waitForPrefix(QStringLiteral("TEXT ")));
    QCOMPARE(echo->linesWith(QStringLiteral("TEXT ")), QStringList{QStringLiteral("e4bda0efbfbd")});
    QCOMPARE(entriesOf(LogEntry::TX, from).first().rawData, QByteArray::fromHex("e4bda0ff"));
    // Nothing from the rejected inputs reached the peer in between.
    QCOMPARE(echo->linesWith(QStringLiteral("BINARY ")).size(), 3);
}

void ConnectionsTest::shouldSendTextFrameAsPayloadReadAsUtf8()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    const QString nihao = QString(QChar(0x4f60)) + QChar(0x597d);

    // "Unicode" is UTF-16LE: 60 4F 7D 59, which read as UTF-8 is "`O}Y".
    window->encodingCombo->setCurrentText(QStringLiteral("Unicode"));
    int from = int(entries().size());
    setSendText(nihao);
    send();
    QCOMPARE(entriesOf(LogEntry::TX, from).first().rawData, QByteArray::fromHex("604f7d59"));
    QVERIFY(echo->waitForLine(QStringLiteral("TEXT 604f7d59")));

    QStringEncoder gbk("GBK");
    if (!gbk.isValid())
        QSKIP("the platform's converters have no GBK; the UTF-16 half has passed");
    window->encodingCombo->setCurrentText(QStringLiteral("GBK"));
    from = int(entries().size());
    send();
    const QByteArray gbkBytes = QByteArray::fromHex("c4e3bac3");
    QCOMPARE(entriesOf(LogEntry::TX, from).first().rawData, gbkBytes);
    const QByteArray onWire = QString::fromUtf8(gbkBytes).toUtf8();
    QVERIFY(onWire.contains("\xef\xbf\xbd"));
    QVERIFY(echo->waitForLine(QStringLiteral("TEXT ") + hexOf(onWire)));
}

void ConnectionsTest::shouldFollowEnterTableAndPlaceholderOnFocus()
{
    QWebSocketServer peer(QStringLiteral("peer"), QWebSocketServer::NonSecureMode);
    QList<QWebSocket*> accepted;
    QVERIFY(startInProcessServer(&peer, &accepted));
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(peer.serverPort())));
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, kTimeout);
    QSignalSpy received(accepted.first(), &QWebSocket::textMessageReceived);

    QPlainTextEdit* box = window->sendEdit;
    auto txCount = [this] {
        return entriesOf(LogEntry::TX).size();
    };
    auto moveToEnd = [box] {
        box->moveCursor(QTextCursor::End);
    };

    // "Enter发送" on.
    QVERIFY(window->enterSendCheck->isChecked());
    setSendText(QStringLiteral("abc"));
    moveToEnd();
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(txCount(), 1);
    QCOMPARE(box->toPlainText(), QStringLiteral("abc"));
    QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(txCount(), 2);
    QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(box->toPlainText(), QStringLiteral("abc\n"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), QStringLiteral("abc\n\n"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), QStringLiteral("abc\n\n\n"));
    QCOMPARE(txCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, kTimeout);
    QCOMPARE(received.at(0).first().toString(), QStringLiteral("abc"));

    // "Enter发送" off.
    window->enterSendCheck->setChecked(false);
    setSendText(QStringLiteral("x"));
    moveToEnd();
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->toPlainText(), QStringLiteral("x\n"));
    QTest::keyClick(box, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(box->toPlainText(), QStringLiteral("x\n\n"));
    QCOMPARE(txCount(), 2);
    QTest::keyClick(box, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(txCount(), 3);
    QCOMPARE(box->toPlainText(), QStringLiteral("x\n\n"));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 3, kTimeout);
    QCOMPARE(received.at(2).first().toString(), QStringLiteral("x\n\n"));
    // A line break replaces the selection, as typing does.
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->toPlainText(), QStringLiteral("\n"));

    // Placeholder: gone while focused, back on leaving an empty box.
    box->clear();
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    box->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(box->hasFocus(), kTimeout);
    QCOMPARE(box->placeholderText(), QString());
    window->urlEdit->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(window->urlEdit->hasFocus(), kTimeout);
    QCOMPARE(box->placeholderText(), QStringLiteral("输入要发送的数据..."));
    // A box that still holds text keeps the placeholder empty.
    box->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(box->hasFocus(), kTimeout);
    box->setPlainText(QStringLiteral("kept"));
    window->urlEdit->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(window->urlEdit->hasFocus(), kTimeout);
    QCOMPARE(box->placeholderText(), QString());
}

void ConnectionsTest::shouldAutoSendEveryTickAndStopAtOnceWhenTurnedOff()
{
    QWebSocketServer peer(QStringLiteral("peer"), QWebSocketServer::NonSecureMode);
    QList<QWebSocket*> accepted;
    QVERIFY(startInProcessServer(&peer, &accepted));
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(peer.serverPort())));
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, kTimeout);
    QSignalSpy received(accepted.first(), &QWebSocket::textMessageReceived);

    window->intervalSpin->setValue(10);
    setSendText(QStringLiteral("tick"));
    window->autoSendCheck->setChecked(true);
    QVERIFY(window->autoSendTimer->isActive());
    QCOMPARE(window->autoSendTimer->interval(), 10);
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(LogEntry::TX).size() >= 3, kTimeout);

    // Each tick builds the payload anew from the box.
    setSendText(QStringLiteral("tock"));
    const int switchedAt = int(entries().size());
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(LogEntry::TX, switchedAt).size() >= 3, kTimeout);

    window->autoSendCheck->setChecked(false);
    QVERIFY(!window->autoSendTimer->isActive());
    const int stoppedAt = int(entries().size());
    QVERIFY(!happensWithin([&] { return !entriesOf(LogEntry::TX, stoppedAt).isEmpty(); }, 300));

    const QList<LogEntry> sent = entriesOf(LogEntry::TX);
    const QByteArray tick("tick");
    const QByteArray tock("tock");
    bool seenTock = false;
    for (const LogEntry& entry : sent) {
        QVERIFY(entry.rawData == tick || entry.rawData == tock);
        if (entry.rawData == tock)
            seenTock = true;
        else
            QVERIFY2(!seenTock, "a stale payload after the box changed");
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), kTimeout);
    QCOMPARE(window->comm->txBytes(), qint64(4 * sent.size()));
    QVERIFY(!happensWithin([&] { return received.size() > sent.size(); }, 100));
}

void ConnectionsTest::shouldPlotOnePointPerLineOfReceivedFrame()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));

    ChartEngine* chart = window->chartEngine;
    chart->ruleNameEdit()->setText(QStringLiteral("n"));
    chart->expressionEdit()->setText(QStringLiteral("\\d+"));
    chart->onAddRule();
    QCOMPARE(chart->rules().size(), 1);
    auto values = [chart] {
        QList<double> found;
        for (const ChartSeriesData* series : chart->seriesStore()) {
            if (series->name == QStringLiteral("n")) {
                for (const DataPoint& point : series->points)
                    found.append(point.value);
            }
        }
        return found;
    };

    // Sent bytes are not plotted; the echoed text frame is, one point per line.
    window->hexSendCheck->setChecked(true);
    setSendText(QStringLiteral("31 32 0d 0a 0d 0a 31 33"));
    send();
    QVERIFY(values().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 1, kTimeout);
    QCOMPARE(entriesOf(LogEntry::RX).first().rawData, QByteArray("12\r\n\r\n13"));
    QCOMPARE(values(), (QList<double>{12, 13}));

    // Binary frames take the same road; lone CRs and blank lines split too.
    window->binaryRadio->setChecked(true);
    setSendText(QStringLiteral("37 0d 20 0a 38 0a 0a 0d 39"));
    send();
    QTRY_COMPARE_WITH_TIMEOUT(entriesOf(LogEntry::RX).size(), 2, kTimeout);
    QCOMPARE(values(), (QList<double>{12, 13, 7, 8, 9}));
}

void ConnectionsTest::shouldReceiveLargeFramesIntactInClientMode()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    QVERIFY(echo->waitForPrefix(QStringLiteral("OPEN ")));

    const QByteArray text = makeText(1 << 20);
    echo->send(QStringLiteral("push text %1").arg(text.size()));
    QVERIFY(waitForRxCount(1));
    QCOMPARE(window->comm->rxBytes(), qint64(text.size()));
    QVERIFY(entriesOf(LogEntry::RX).first().rawData == text);

    const QByteArray binary = makeBinary(16 << 20);
    echo->send(QStringLiteral("push binary %1").arg(binary.size()));
    QVERIFY2(waitForRxCount(2), "the 16 MiB frame did not arrive");
    QCOMPARE(window->comm->rxBytes(), qint64(text.size()) + binary.size());
    QVERIFY(entriesOf(LogEntry::RX).last().rawData == binary);
    QVERIFY(window->isConnected);
}

void ConnectionsTest::shouldReceiveLargeFramesIntactInServerMode()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    QVERIFY(startWindowServer(&port));
    QList<quint16> ports;
    Peer* peer = startClients(port, {QStringLiteral("/")}, &ports);
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(window->clients.size(), 1, kTimeout);

    const QByteArray text = makeText(1 << 20);
    peer->send(QStringLiteral("sendlarge 0 text %1").arg(text.size()));
    QVERIFY(waitForRxCount(1));
    QCOMPARE(window->comm->rxBytes(), qint64(text.size()));
    QVERIFY(entriesOf(LogEntry::RX).first().rawData == text);

    const QByteArray binary = makeBinary(16 << 20);
    peer->send(QStringLiteral("sendlarge 0 binary %1").arg(binary.size()));
    QVERIFY2(waitForRxCount(2), "the 16 MiB frame did not arrive");
    QCOMPARE(window->comm->rxBytes(), qint64(text.size()) + binary.size());
    QVERIFY(entriesOf(LogEntry::RX).last().rawData == binary);

    // And back to the client: a hex-typed binary frame arrives unchanged.
    window->clientList->setCurrentItem(nullptr);
    window->binaryRadio->setChecked(true);
    window->hexSendCheck->setChecked(true);
    setSendText(QString::fromLatin1(binary.left(1 << 16).toHex(' ')));
    send();
    QVERIFY(peer->waitForLine(QStringLiteral("MSG 0 ") +
                              describeLarge(QStringLiteral("BINARY"), binary.left(1 << 16))));
    QCOMPARE(peer->linesWith(QStringLiteral("CLOSED ")), QStringList());
}

// ------------------------------------------------------------------- teardown

void ConnectionsTest::shouldCloseConnectionWhenWindowIsDeletedWhileConnected()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    Peer* echo = startEchoServer(&port);
    QVERIFY(echo);
    QVERIFY(connectWindowTo(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    QVERIFY(echo->waitForPrefix(QStringLiteral("OPEN ")));
    QPointer<QWebSocket> socket = window->clientSocket;
    QVERIFY(socket);

    window.reset();
    QVERIFY(!socket);
    QVERIFY(echo->waitForLine(QStringLiteral("CLOSED 1000")));
}

void ConnectionsTest::shouldCloseEveryClientWhenWindowIsDeletedWhileListening()
{
    REQUIRE_PYTHON();
    quint16 port = 0;
    QVERIFY(startWindowServer(&port));
    QList<quint16> ports;
    Peer* peer = startClients(port, {QStringLiteral("/"), QStringLiteral("/")}, &ports);
    QVERIFY(peer);
    QWebSocket inProcess;
    QSignalSpy inProcessClosed(&inProcess, &QWebSocket::disconnected);
    QSignalSpy inProcessOpened(&inProcess, &QWebSocket::connected);
    inProcess.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
    QVERIFY(inProcessOpened.wait(kTimeout));
    QTRY_COMPARE_WITH_TIMEOUT(window->clients.size(), 3, kTimeout);

    QList<QPointer<QWebSocket>> accepted;
    for (QWebSocket* socket : std::as_const(window->clients))
        accepted.append(socket);
    QPointer<QWebSocketServer> server = window->server;

    window.reset();
    QVERIFY(!server);
    for (const QPointer<QWebSocket>& socket : std::as_const(accepted))
        QVERIFY(!socket);
    QVERIFY(peer->waitForLine(QStringLiteral("CLOSED 0 1000")));
    QVERIFY(peer->waitForLine(QStringLiteral("CLOSED 1 1000")));
    QVERIFY(inProcessClosed.count() > 0 || inProcessClosed.wait(kTimeout));
    QCOMPARE(inProcess.closeCode(), QWebSocketProtocol::CloseCodeNormal);

    // Nobody listens on the port any more.
    QTcpSocket probe;
    QSignalSpy refused(&probe, &QTcpSocket::errorOccurred);
    probe.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(refused.wait(kTimeout));
    QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);
}

QTEST_MAIN(ConnectionsTest)
#include "tst_connections.moc"

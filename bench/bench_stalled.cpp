// The window against a peer that completes its handshake and then reads
// nothing, auto-sending a 64 KiB text every 10 ms for --seconds (30): its peak
// memory, what it logged as sent, and its entries about the stall. In client
// mode the peer is a server; in server mode one client (--mode server).
// The peer runs in a child process of its own, so only the window is measured.
// Prints one line:
//   stalled-<mode>: seconds=S peak_mb=M tx_entries=N tx_mb=B pause_entries=P
#include "ProcessStatus.h"
#include "comm/CommunicationBase.h"
#include "comm/LogEntry.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkProxy>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int kFrameBytes = 64 * 1024;
constexpr int kIntervalMs = 10;

void say(const QByteArray& line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

// After the handshake the peer's socket holds one byte and its kernel a few
// KiB: everything else stays with the sender.
void stopReading(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    socket->setReadBufferSize(1);
}

// Reads the request or answer head, then calls `done` once.
void onHead(QTcpSocket* socket, const std::function<void(const QByteArray&)>& done)
{
    auto head = std::make_shared<QByteArray>();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection =
        QObject::connect(socket, &QIODevice::readyRead, socket, [socket, head, done, connection] {
            *head += socket->readAll();
            if (head->contains("\r\n\r\n")) {
                QObject::disconnect(*connection);
                done(*head);
            }
        });
}

int runPeer(bool asServer, quint16 port)
{
    static QTcpServer listener;
    if (asServer) {
        if (!listener.listen(QHostAddress::LocalHost))
            return 1;
        say("PORT " + QByteArray::number(listener.serverPort()));
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [] {
            QTcpSocket* socket = listener.nextPendingConnection();
            onHead(socket, [socket](const QByteArray& head) {
                QByteArray key;
                for (const QByteArray& line : head.split('\n')) {
                    if (line.toLower().startsWith("sec-websocket-key:"))
                        key = line.mid(18).trimmed();
                }
                const QByteArray accept =
                    QCryptographicHash::hash(
                        QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                        QCryptographicHash::Sha1)
                        .toBase64();
                socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                              "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                              accept + "\r\n\r\n");
                stopReading(socket);
            });
        });
        return QCoreApplication::exec();
    }
    auto* socket = new QTcpSocket(&listener);
    socket->setProxy(QNetworkProxy::NoProxy);
    onHead(socket, [socket](const QByteArray&) {
        stopReading(socket);
        say("OPEN");
    });
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n");
    return QCoreApplication::exec();
}

// What follows the prefix on the first line that has it; "-" when none came.
QByteArray waitForLine(QProcess& process, const QByteArray& prefix)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        if (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size()).trimmed();
        } else {
            // The window's side of the handshake runs meanwhile.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    return QByteArrayLiteral("-");
}

template<typename T> T* find(QWidget& window, const char* name)
{
    return window.findChild<T*>(QString::fromLatin1(name));
}

int runWindow(bool serverMode, int seconds)
{
    QStandardPaths::setTestModeEnabled(true);
    WebSocketWidget window;
    window.show();
    auto* comm = window.findChild<CommunicationBase*>();
    auto* connGroup = find<QGroupBox>(window, "connGroup");
    QPushButton* connectButton =
        connGroup ? connGroup->findChild<QPushButton*>(QStringLiteral("accentButton")) : nullptr;
    auto* urlEdit = find<QLineEdit>(window, "urlEdit");
    auto* portSpin = find<QSpinBox>(window, "portSpin");
    auto* sendEdit = find<QPlainTextEdit>(window, "sendEdit");
    auto* autoSend = find<QCheckBox>(window, "autoSendCheck");
    auto* interval = find<QSpinBox>(window, "intervalSpin");
    auto* clientList = find<QListWidget>(window, "clientList");
    if (!comm || !connectButton || !urlEdit || !portSpin || !sendEdit || !autoSend || !interval ||
        !clientList) {
        std::fprintf(stderr, "controls not found\n");
        return 1;
    }

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString self = QCoreApplication::applicationFilePath();
    if (serverMode) {
        QTcpServer probe;
        probe.listen(QHostAddress::Any);
        const quint16 port = probe.serverPort();
        probe.close();
        find<QRadioButton>(window, "serverRadio")->click();
        portSpin->setValue(port);
        connectButton->click();
        peer.start(self, {QStringLiteral("--peer"), QStringLiteral("client"),
                          QStringLiteral("--port"), QString::number(port)});
        if (waitForLine(peer, "OPEN") == "-")
            return 1;
    } else {
        peer.start(self, {QStringLiteral("--peer"), QStringLiteral("server")});
        const QByteArray port = waitForLine(peer, "PORT");
        if (port == "-")
            return 1;
        urlEdit->setText(QStringLiteral("ws://127.0.0.1:%1/").arg(QString::fromLatin1(port)));
        connectButton->click();
    }
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const bool ready = serverMode ? clientList->count() == 1 : window.connection()->isActive();
        if (ready || clock.elapsed() > 30000)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    poll.stop();
    if (serverMode ? clientList->count() != 1 : !window.connection()->isActive()) {
        std::fprintf(stderr, "the peer did not connect\n");
        return 1;
    }

    sendEdit->setPlainText(QString(kFrameBytes, QLatin1Char('x')));
    interval->setValue(kIntervalMs);
    autoSend->setChecked(true);
    clock.restart();
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    autoSend->setChecked(false);

    if (qEnvironmentVariableIsSet("SOCKWISE_BENCH_LOG")) {
        for (const LogEntry& entry : comm->entries()) {
            if (entry.direction() == LogEntry::SYS)
                std::fprintf(stderr, "%s\n", qPrintable(entry.text()));
        }
    }
    int txEntries = 0;
    int pauseEntries = 0;
    for (const LogEntry& entry : comm->entries()) {
        if (entry.direction() == LogEntry::TX)
            ++txEntries;
        else if (entry.direction() == LogEntry::SYS &&
                 entry.text().contains(QStringLiteral("对方未读取数据")))
            ++pauseEntries;
    }
    std::printf("stalled-%s: seconds=%d peak_mb=%.1f tx_entries=%d tx_mb=%.1f pause_entries=%d\n",
                serverMode ? "server" : "client", seconds, processStatusKiB("VmHWM") / 1024.0,
                txEntries, comm->txBytes() / double(1 << 20), pauseEntries);
    std::fflush(stdout);
    peer.kill();
    peer.waitForFinished();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool peerMode = false;
    for (int i = 1; i < argc; ++i)
        peerMode = peerMode || qstrcmp(argv[i], "--peer") == 0;
    std::unique_ptr<QCoreApplication> app(peerMode ? new QCoreApplication(argc, argv)
                                                   : new QApplication(argc, argv));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"),
                                        QStringLiteral("client (default) or server."),
                                        QStringLiteral("mode"), QStringLiteral("client"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("How long to auto-send."),
                                           QStringLiteral("s"), QStringLiteral("30"));
    const QCommandLineOption peerOption(
        QStringLiteral("peer"), QStringLiteral("Run as the stalled peer."), QStringLiteral("role"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Window's port."),
                                        QStringLiteral("port"));
    parser.addOptions({modeOption, secondsOption, peerOption, portOption});
    parser.process(*app);
    if (parser.isSet(peerOption))
        return runPeer(parser.value(peerOption) == QStringLiteral("server"),
                       quint16(parser.value(portOption).toUInt()));
    return runWindow(parser.value(modeOption) == QStringLiteral("server"),
                     std::max(1, parser.value(secondsOption).toInt()));
}

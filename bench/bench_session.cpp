// Sessions: opening a HAR of many messages in the window (time, peak memory,
// each in a child process of its own) and replaying a recording as fast as
// possible against a python echo server (messages a second, every reply
// compared).
//
//   bench_session [--messages N] [--replay N]
#include "ProcessStatus.h"
#include "comm/CommunicationBase.h"
#include "comm/LogViewWidget.h"
#include "session/HarFile.h"
#include "session/RecordedExchange.h"
#include "session/ReplayRunner.h"
#include "session/SessionBar.h"
#include "websocket/ConnectionManager.h"
#include "websocket/WebSocketWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cstdio>

namespace {

HarConnection recording(int messages)
{
    HarConnection connection;
    connection.url = QStringLiteral("ws://127.0.0.1/");
    connection.started = QDateTime::fromMSecsSinceEpoch(1767607200000, QTimeZone::utc());
    connection.messages.reserve(messages);
    for (int i = 0; i < messages; ++i) {
        HarMessage message;
        message.sent = i % 2 == 0;
        message.msecs = 1767607200000 + i;
        // Every fourth exchange binary, as a device protocol would be.
        message.binary = (i / 2) % 4 == 3;
        message.data = message.binary ? QByteArray(24, char(i))
                                      : QStringLiteral(R"({"seq":%1,"temp":%2.5,"unit":"C"})")
                                            .arg(i / 2)
                                            .arg(i % 40)
                                            .toUtf8();
        connection.messages.append(message);
    }
    return connection;
}

// In the child: the window opens the file and shows every row.
int openInWindow(const QString& path)
{
    const qint64 before = processStatusKiB("VmHWM");
    WebSocketWidget window;
    auto* bar = window.findChild<SessionBar*>(QStringLiteral("sessionBar"));
    auto* view = window.findChild<LogViewWidget*>(QStringLiteral("logView"));
    QElapsedTimer clock;
    clock.start();
    const bool readable = HarFile::read(path).ok();
    const qint64 parsed = clock.elapsed();
    const qint64 parsedPeak = processStatusKiB("VmHWM");
    clock.start();
    if (!bar->openFile(path))
        return 1;
    const qint64 logged = clock.elapsed();
    if (!QTest::qWaitFor([view] { return view->pendingCount() == 0; }, 120000))
        return 1;
    std::printf("%lld %lld %lld %lld %lld %lld\n", parsed, logged, clock.elapsed(), before,
                parsedPeak, processStatusKiB("VmHWM"));
    return readable ? 0 : 1;
}

void benchOpen(const QString& self, const QString& dir, int messages)
{
    const QString path = dir + QStringLiteral("/big.har");
    if (!HarFile::write(path, {recording(messages)}))
        return;
    QProcess child;
    child.start(self, {QStringLiteral("--open-child"), path});
    child.waitForFinished(180000);
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || figures.size() != 6) {
        std::printf("open: the child failed (%d)\n", child.exitCode());
        return;
    }
    std::printf("open %d messages (%.1f MiB file): read alone %s ms; opened in the window: in the "
                "log %s ms, every row shown %s ms; peak RSS %.0f MiB (%.0f MiB before opening, "
                "%.0f MiB after reading "
                "the file)\n",
                messages, double(QFileInfo(path).size()) / (1 << 20), figures[0].constData(),
                figures[1].constData(), figures[2].constData(), figures[5].toDouble() / 1024,
                figures[3].toDouble() / 1024, figures[4].toDouble() / 1024);
}

void benchReplay(int exchanges)
{
    QProcess echo;
    echo.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-u"), QStringLiteral(SOCKWISE_TESTS_DIR "/peers/echo_server.py")});
    // The echo server prints a line per frame: read them away.
    QByteArray portLine;
    if (!QTest::qWaitFor(
            [&] {
                portLine += echo.readAllStandardOutput();
                return portLine.contains('\n');
            },
            15000)) {
        std::printf("replay: no echo server\n");
        return;
    }
    QObject::connect(&echo, &QProcess::readyReadStandardOutput, &echo,
                     [&echo] { echo.readAllStandardOutput(); });
    const QByteArray port = portLine.left(portLine.indexOf('\n')).mid(5);

    // An echo's recording: every reply is the frame before it.
    HarConnection connection = recording(exchanges * 2);
    for (qsizetype i = 1; i < connection.messages.size(); i += 2) {
        connection.messages[i].data = connection.messages[i - 1].data;
        connection.messages[i].binary = connection.messages[i - 1].binary;
    }
    ConnectionManager manager;
    manager.connectTo(QStringLiteral("ws://127.0.0.1:%1/").arg(QString::fromLatin1(port)));
    if (!QTest::qWaitFor([&] { return manager.state() == ConnectionManager::Connected; }, 15000)) {
        std::printf("replay: cannot connect\n");
        return;
    }
    ReplayRunner runner(&manager);
    bool done = false;
    bool matched = false;
    QObject::connect(&runner, &ReplayRunner::finished, &runner, [&](bool all) {
        done = true;
        matched = all;
    });
    ReplayRunner::Options options;
    options.speed = 0;
    options.compare = true;
    QElapsedTimer clock;
    clock.start();
    runner.start(RecordedExchange(connection), options);
    if (!QTest::qWaitFor([&] { return done; }, 300000))
        std::printf("replay: did not finish\n");
    const double seconds = double(clock.elapsed()) / 1000;
    std::printf("replay %d frames as fast as possible against a python echo server, every reply "
                "compared: %.2f s, %.0f messages/s (%s)\n",
                exchanges, seconds, exchanges / seconds,
                matched ? "all replies matched" : "REPLIES DIFFERED");
    manager.closeAll();
    echo.kill();
    echo.waitForFinished();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--open-child"))
        return openInWindow(args.value(2));
    int messages = 100000;
    int replay = 20000;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--messages"))
            messages = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--replay"))
            replay = args[i + 1].toInt();
    }
    QTemporaryDir dir;
    benchOpen(app.applicationFilePath(), dir.path(), messages);
    benchReplay(replay);
    return 0;
}

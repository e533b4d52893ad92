#include "session/ReplayCommand.h"

#include "app/CommandLine.h"
#include "reply/MockServer.h"
#include "session/HarFile.h"
#include "session/ReplayRunner.h"
#include "session/SessionRecorder.h"
#include "websocket/ConnectionManager.h"
#include "websocket/EventFormatter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTime>

#include <cstdio>

namespace {

void writeLine(FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString sysLine(const QString& text)
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) +
           QStringLiteral(" [SYS] ") + text;
}

} // namespace

QString ReplayCommand::summary()
{
    return QStringLiteral("Replay a HAR recording's sent frames against a server");
}

int ReplayCommand::run(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(summary());
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The HAR file"));
    parser.addPositionalArgument(QStringLiteral("URL"),
                                 QStringLiteral("The ws:// or wss:// server"));
    parser.addOption({QStringLiteral("speed"),
                      QStringLiteral("The recorded gaps divided by X (0: as fast as possible)"),
                      QStringLiteral("X")});
    parser.addOption({QStringLiteral("lockstep"),
                      QStringLiteral("Send each frame once the replies before it came")});
    parser.addOption(
        {QStringLiteral("expect"), QStringLiteral("Compare the replies; exit 1 when one differs")});
    parser.addOption({QStringLiteral("connection"),
                      QStringLiteral("Which WebSocket connection of the file (from 1)"),
                      QStringLiteral("N"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("Milliseconds a reply is waited for (default 10000)"),
                      QStringLiteral("MS"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("save"), QStringLiteral("Write what went over the wire"),
                      QStringLiteral("OUT.har")});
    if (!parser.parse(QStringList{QStringLiteral("sockwise replay")} + args))
        return CommandLine::refuse(QStringLiteral("replay: ") + parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        writeLine(stdout, CommandLine::commandHelp(parser, QStringLiteral("replay")));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return CommandLine::refuse(QStringLiteral("replay: FILE.har and URL are required"));

    ReplayRunner::Options options;
    if (parser.isSet(QStringLiteral("speed")) && parser.isSet(QStringLiteral("lockstep")))
        return CommandLine::refuse(
            QStringLiteral("replay: --speed and --lockstep exclude each other"));
    if (parser.isSet(QStringLiteral("speed"))) {
        bool ok = false;
        options.speed = parser.value(QStringLiteral("speed")).toDouble(&ok);
        if (!ok || !(options.speed >= 0) || options.speed > 1e6)
            return CommandLine::refuse(QStringLiteral("replay: --speed takes a number from 0"));
    }
    options.lockstep = parser.isSet(QStringLiteral("lockstep"));
    options.compare = parser.isSet(QStringLiteral("expect"));
    bool ok = false;
    options.replyTimeoutMs = parser.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || options.replyTimeoutMs < 1)
        return CommandLine::refuse(QStringLiteral("replay: --timeout takes milliseconds"));
    const int index = parser.value(QStringLiteral("connection")).toInt(&ok);
    if (!ok || index < 1)
        return CommandLine::refuse(QStringLiteral("replay: --connection takes a number from 1"));

    const HarFile::ReadResult read = HarFile::read(positional[0]);
    if (!read.ok())
        return CommandLine::refuse(QStringLiteral("replay: %1: %2").arg(positional[0], read.error));
    if (index > read.connections.size())
        return CommandLine::refuse(QStringLiteral("replay: %1 has %2 WebSocket connection(s)")
                                       .arg(positional[0])
                                       .arg(read.connections.size()));
    const QString url = positional[1];
    if (const QString problem = ConnectionManager::addressProblem(url); !problem.isEmpty())
        return CommandLine::refuse(QStringLiteral("replay: %1: %2").arg(url, problem));

    const RecordedExchange exchange(read.connections[index - 1]);
    ConnectionManager connection;
    int exitCode = 0;
    bool opened = false;
    bool interrupted = false;

    QObject::connect(&connection, &ConnectionManager::happened, &connection,
                     [](const ConnectionEvent& event) {
                         writeLine(stdout, sysLine(EventFormatter::text(event)));
                     });
    QObject::connect(&connection, &ConnectionManager::textReceived, &connection,
                     [](const QString& text, const QString& peer) {
                         writeLine(stdout, MockServer::frameLine(QStringLiteral("[RX]"), peer,
                                                                 text.toUtf8(), false));
                     });
    QObject::connect(&connection, &ConnectionManager::binaryReceived, &connection,
                     [](const QByteArray& data, const QString& peer) {
                         writeLine(stdout,
                                   MockServer::frameLine(QStringLiteral("[RX]"), peer, data, true));
                     });
    // After the lines above, so that a frame is printed before the replay reacts to it.
    ReplayRunner runner(&connection);
    SessionRecorder recorder(&connection);
    QObject::connect(
        &runner, &ReplayRunner::frameSent, &connection,
        [&recorder](const QByteArray& data, LogEntry::FrameKind kind, const QString& recipients) {
            recorder.recordSent(data, kind, recipients);
            writeLine(stdout, MockServer::frameLine(QStringLiteral("[TX]"), recipients, data,
                                                    kind == LogEntry::FrameKind::Binary));
        });
    QObject::connect(&runner, &ReplayRunner::notice, &connection, [](const QString& text) {
        const bool difference = text.startsWith(QStringLiteral("回复不同"));
        writeLine(difference ? stderr : stdout, difference ? text : sysLine(text));
    });
    QObject::connect(&runner, &ReplayRunner::finished, &connection, [&](bool allMatched) {
        if (interrupted)
            exitCode = interruptedExitCode;
        else if (!allMatched)
            exitCode = differedExitCode;
        QCoreApplication::exit(exitCode);
    });
    QObject::connect(&connection, &ConnectionManager::stateChanged, &connection,
                     [&](ConnectionManager::State state) {
                         if (state == ConnectionManager::Connected && !opened) {
                             opened = true;
                             runner.start(exchange, options);
                         } else if (state == ConnectionManager::Idle && !opened) {
                             exitCode = unconnectedExitCode;
                             QCoreApplication::exit(exitCode);
                         }
                     });
    CommandLine::quitOnTerminationSignals();

    if (!connection.connectTo(url))
        return CommandLine::refuse(QStringLiteral("replay: cannot connect to %1").arg(url));
    const int loopCode = QCoreApplication::exec();
    if (runner.isRunning()) {
        // The loop ended by a signal.
        interrupted = true;
        runner.stop();
        exitCode = interruptedExitCode;
    } else if (!opened && exitCode == 0 && loopCode == 0) {
        exitCode = interruptedExitCode;
    }
    connection.closeAll();
    if (parser.isSet(QStringLiteral("save"))) {
        QString error;
        if (!recorder.save(parser.value(QStringLiteral("save")), &error)) {
            CommandLine::refuse(QStringLiteral("replay: cannot write %1: %2")
                                    .arg(parser.value(QStringLiteral("save")), error));
            return exitCode == 0 ? CommandLine::refusedExitCode : exitCode;
        }
    }
    return exitCode;
}

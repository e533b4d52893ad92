#include "app/CommandLine.h"

#include "reply/MockCommand.h"
#include "session/ReplayCommand.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the loop reads the byte.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void writeOut(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

QList<CommandLine::Subcommand> CommandLine::subcommands()
{
    return {
        {QStringLiteral("mock"), MockCommand::summary(), &MockCommand::run},
        {QStringLiteral("replay"), ReplayCommand::summary(), &ReplayCommand::run},
    };
}

QString CommandLine::versionText()
{
    return QStringLiteral("sockwise " SOCKWISE_VERSION "\n");
}

QString CommandLine::commandHelp(const QCommandLineParser& parser, const QString& name)
{
    // Qt names the executable's path; a reader wants the command to type.
    QString help = parser.helpText().trimmed();
    help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                 QStringLiteral("Usage: sockwise ") + name);
    return help;
}

QString CommandLine::helpText()
{
    QString text = QStringLiteral("Usage: sockwise [COMMAND] [OPTIONS]\n"
                                  "Without a command, opens the window.\n\nCommands:\n");
    for (const Subcommand& command : subcommands())
        text += QStringLiteral("  %1  %2\n").arg(command.name, -8).arg(command.summary);
    text += QStringLiteral("\nOptions:\n"
                           "  -h, --help     Show this help\n"
                           "  -v, --version  Show the version\n"
                           "  Qt's own options (-platform, -style, -reverse…) go to the window.\n"
                           "\n`sockwise COMMAND --help` describes a command's options.\n");
    return text;
}

QString CommandLine::windowArgumentProblem(const QStringList& words)
{
    // Qt's own options, which QGuiApplication and QApplication take away.
    static const QStringList withValue = {QStringLiteral("platform"),
                                          QStringLiteral("platformpluginpath"),
                                          QStringLiteral("platformtheme"),
                                          QStringLiteral("plugin"),
                                          QStringLiteral("qwindowgeometry"),
                                          QStringLiteral("geometry"),
                                          QStringLiteral("qwindowicon"),
                                          QStringLiteral("qwindowtitle"),
                                          QStringLiteral("title"),
                                          QStringLiteral("display"),
                                          QStringLiteral("style"),
                                          QStringLiteral("stylesheet"),
                                          QStringLiteral("session"),
                                          QStringLiteral("name"),
                                          QStringLiteral("font"),
                                          QStringLiteral("fn")};
    static const QStringList flags = {QStringLiteral("reverse"),     QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"),      QStringLiteral("dograb"),
                                      QStringLiteral("testability"), QStringLiteral("sync")};
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words.at(i);
        QString name = word;
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        const bool isOption = word.startsWith(QLatin1Char('-')) && !name.isEmpty();
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const QString bare = equals < 0 ? name : name.left(equals);
        if (isOption && (flags.contains(bare) || name.startsWith(QLatin1String("qmljsdebugger="))))
            continue;
        if (isOption && withValue.contains(bare)) {
            if (equals < 0)
                ++i;
            continue;
        }
        return isOption ? QStringLiteral("unknown option %1 (see sockwise --help)").arg(word)
                        : QStringLiteral("unknown command %1 (see sockwise --help)").arg(word);
    }
    return {};
}

int CommandLine::refuse(const QString& message)
{
    const QByteArray line = QStringLiteral("sockwise: %1\n").arg(message).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    return refusedExitCode;
}

void CommandLine::quitOnTerminationSignals()
{
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int CommandLine::run(int argc, char** argv, const WindowMain& window)
{
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool help = first == QLatin1String("--help") || first == QLatin1String("-h");
    const bool version = first == QLatin1String("--version") || first == QLatin1String("-v");
    const QList<Subcommand> commands = subcommands();
    const Subcommand* chosen = nullptr;
    for (const Subcommand& command : commands) {
        if (command.name == first)
            chosen = &command;
    }
    // Anything else (Qt's own -platform, -style…) is the window's, as always.
    if (!help && !version && !chosen) {
        QStringList words;
        for (int i = 1; i < argc; ++i)
            words.append(QString::fromLocal8Bit(argv[i]));
        if (const QString problem = windowArgumentProblem(words); !problem.isEmpty())
            return refuse(problem);
        return window(argc, argv);
    }

    QCoreApplication app(argc, argv);
    if (help) {
        writeOut(helpText());
        return 0;
    }
    if (version) {
        writeOut(versionText());
        return 0;
    }
    QStringList args = QCoreApplication::arguments();
    args = args.mid(2);
    return chosen->run(args);
}

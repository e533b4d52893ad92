#pragma once

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// `sockwise` alone (or with Qt's own options) opens the window; `--help`,
// `--version` and the subcommands run without one, under QCoreApplication.
class CommandLine
{
public:
    struct Subcommand
    {
        QString name;
        // One line for `sockwise --help`.
        QString summary;
        // Runs with the application made; `args` are the words after the name.
        // Returns the exit code.
        std::function<int(const QStringList& args)> run;
    };

    using WindowMain = std::function<int(int& argc, char** argv)>;

    // A new subcommand is one more entry here.
    static QList<Subcommand> subcommands();

    static int run(int argc, char** argv, const WindowMain& window);

    // What stands in the way of opening the window with these words: a word
    // that is neither a command nor one of Qt's own options. Empty when none.
    static QString windowArgumentProblem(const QStringList& words);

    static QString helpText();
    // A subcommand's `--help`, its usage line naming `sockwise NAME`.
    static QString commandHelp(const QCommandLineParser& parser, const QString& name);
    static QString versionText();

    // The event loop ends with exit code 0 on SIGINT or SIGTERM.
    static void quitOnTerminationSignals();
    // One line on standard error; returns the exit code of a refusal (2).
    static int refuse(const QString& message);
    static constexpr int refusedExitCode = 2;
};

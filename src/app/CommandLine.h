#pragma once

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

    static QString helpText();
    static QString versionText();

    // The event loop ends with exit code 0 on SIGINT or SIGTERM.
    static void quitOnTerminationSignals();
    // One line on standard error; returns the exit code of a refusal (2).
    static int refuse(const QString& message);
    static constexpr int refusedExitCode = 2;
};

#pragma once

#include <QString>
#include <QStringList>

class MockServer;
class QCommandLineParser;

// `sockwise mock --rules FILE --port N [--listen ADDRESS] [--path PATH]`:
// the rules answering on a headless server until SIGINT or SIGTERM.
class MockCommand
{
public:
    static QString summary();
    // Under a QCoreApplication; 0 after a signal, 2 when it cannot start.
    static int run(const QStringList& args);

private:
    // Each option is declared here and taken in setUp(): a new one is a line
    // in each.
    static void declare(QCommandLineParser& parser);
    // Empty when the server is ready to listen; else why it cannot start.
    static QString setUp(const QCommandLineParser& parser, MockServer& server);
};

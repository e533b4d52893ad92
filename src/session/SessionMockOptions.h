#pragma once

#include <QString>

class MockServer;
class QCommandLineParser;

// The options of `sockwise mock` that serve a recording: --har FILE (ahead of
// any rules), --connection N and --save OUT.har.
class SessionMockOptions
{
public:
    static void declare(QCommandLineParser& parser);
    // A recording stands in for the rules file.
    static bool servesRecording(const QCommandLineParser& parser);
    // Empty when the recording (if any) is in the server's chain; else why
    // it cannot be.
    static QString setUp(const QCommandLineParser& parser, MockServer& server);

    SessionMockOptions() = delete;
};

#pragma once

#include <QString>
#include <QStringList>

// `sockwise replay FILE.har URL [--speed X | --lockstep] [--expect]
// [--connection N] [--save OUT.har]`: a recording's client frames sent to a
// server without a window, one line per frame.
class ReplayCommand
{
public:
    static QString summary();
    // Under a QCoreApplication. 0: replayed (and with --expect every reply
    // matched); 1: a reply differed or the replay broke off; 2: a bad file or
    // option; 3: no connection; 130: stopped by a signal.
    static int run(const QStringList& args);

    static constexpr int differedExitCode = 1;
    static constexpr int unconnectedExitCode = 3;
    static constexpr int interruptedExitCode = 130;
};

#pragma once

#include "websocket/ClientOptions.h"
#include "websocket/OptionProblem.h"

#include <QList>

// The problems of client options including those only the TLS backend can
// tell, kept out of ClientOptions so that the settings need no network module.
class ClientOptionsCheck
{
public:
    // ClientOptions::ownProblems, then a CA file that cannot be read or holds
    // no PEM certificate. Empty when the options can be used.
    static QList<OptionProblem> problems(const ClientOptions& options);

    ClientOptionsCheck() = delete;
};

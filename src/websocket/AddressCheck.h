#pragma once

#include "websocket/ConnectionEvent.h"

#include <QString>

#include <optional>

// Whether an address can be tried, and if not which part of it is wrong.
// Plain text work: the settings codec and the connection layer both ask.
class AddressCheck
{
public:
    // The first fault found, as the event that reports it; none when it can be tried.
    static std::optional<ConnectionEvent> fault(const QString& address);
    // The same fault as the log's text, or empty.
    static QString problem(const QString& address);
};

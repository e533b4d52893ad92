#pragma once

#include "comm/LogEntry.h"

#include <QString>

#include <functional>
#include <optional>

// What a protocol spoken on the connection reads in one entry: a tab of its
// own in the detail pane and a line for the row's tooltip.
struct EntryReading
{
    QString title;
    QString summary;
    QString text;
};

using EntryReader = std::function<std::optional<EntryReading>(const LogEntry& entry)>;

#pragma once

#include "websocket/ConnectionEvent.h"

#include <QString>

// The log's text of each connection event, in one place.
class EventFormatter
{
public:
    static QString text(const ConnectionEvent& event);

    // "16 MiB", "512 KiB", "300 B".
    static QString sizeText(qint64 bytes);
    // "0.21 ms", "42.5 ms", "250 ms".
    static QString roundTripText(qint64 microseconds);

    EventFormatter() = delete;
};

#pragma once

#include <QString>

class QWebSocket;

// What one peer may send at once.
class FrameLimits
{
public:
    // Frames and messages above this close the connection with 1009 instead
    // of letting a peer exhaust memory. A socket's read buffer may grow to
    // hold one such frame whole (see ReadBufferTuner).
    static constexpr qint64 maxFrameSize = 32 * 1024 * 1024;
    // What the read buffers of all of a server's clients may grow by beyond
    // their small size together: eight such frames arriving at once. Others
    // wait, their peers held back by TCP, until one is through.
    static constexpr qint64 serverReadGrowthTotal = 8 * maxFrameSize;

    static void apply(QWebSocket* socket);

    FrameLimits() = delete;
};

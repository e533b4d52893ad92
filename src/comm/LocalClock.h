#pragma once

#include <QDateTime>

// The current local time, carrying its UTC offset. Qt resolves a plain local
// time through the C library on every construction (re-reading the zone file
// each time), which cost more than the rest of logging a frame; offsets only
// change on whole seconds, so one lookup per second is enough.
class LocalClock
{
public:
    static QDateTime now();
    // The same moment as milliseconds since the epoch and the local offset.
    static void now(qint64* msecs, qint32* offsetSeconds);
};

#include "comm/LocalClock.h"

#include <limits>

QDateTime LocalClock::now()
{
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        cachedSecond = second;
    }
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, cachedOffset);
}

#include "comm/LocalClock.h"

#include <limits>

QDateTime LocalClock::now()
{
    qint64 msecs = 0;
    qint32 offset = 0;
    now(&msecs, &offset);
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offset);
}

void LocalClock::now(qint64* msecsOut, qint32* offsetOut)
{
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != cachedSecond) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        cachedSecond = second;
    }
    *msecsOut = msecs;
    *offsetOut = cachedOffset;
}

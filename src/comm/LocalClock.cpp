#include "comm/LocalClock.h"

#include <atomic>

QDateTime LocalClock::now()
{
    qint64 msecs = 0;
    qint32 offset = 0;
    now(&msecs, &offset);
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offset);
}

void LocalClock::now(qint64* msecsOut, qint32* offsetOut)
{
    // The offset of the last second asked for, packed with it in one word so
    // that threads share it without a lock: the second above, the offset
    // (biased to be positive, under 2^20 s) in the low 20 bits.
    static std::atomic<quint64> cached{0};
    constexpr int offsetBits = 20;
    constexpr qint64 offsetBias = qint64(1) << (offsetBits - 1);
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    const quint64 seen = cached.load(std::memory_order_relaxed);
    const quint64 key = quint64(second) << offsetBits;
    qint32 offset = 0;
    if (seen != 0 && (seen & ~((quint64(1) << offsetBits) - 1)) == key) {
        offset = qint32(qint64(seen & ((quint64(1) << offsetBits) - 1)) - offsetBias);
    } else {
        offset = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
        cached.store(key | quint64(qint64(offset) + offsetBias), std::memory_order_relaxed);
    }
    *msecsOut = msecs;
    *offsetOut = offset;
}

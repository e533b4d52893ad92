#pragma once

#include <QFile>

// A memory figure of this process from /proc/self/status, e.g. "VmRSS"
// (resident now) or "VmHWM" (peak), in KiB; -1 where there is none.
inline qint64 processStatusKiB(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

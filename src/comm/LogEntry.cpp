#include "comm/LogEntry.h"

#include "comm/HexText.h"
#include "comm/TextCodec.h"

LogEntry::LogEntry(const QString& message)
    : timestamp(QDateTime::currentDateTime())
    , direction(SYS)
    , text(message)
    , hexText(message)
{}

LogEntry::LogEntry(Direction dir, const QByteArray& data, const QString& encodingName)
    : timestamp(QDateTime::currentDateTime())
    , direction(dir)
    , rawData(data)
    , hexText(bytesToHex(data))
{
    if (dir == TX || dir == RX)
        text = decodeBytes(data, encodingName);
}

QString LogEntry::timeString() const
{
    return timestamp.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString LogEntry::directionTag() const
{
    switch (direction) {
    case TX:
        return QStringLiteral("[TX]");
    case RX:
        return QStringLiteral("[RX]");
    case SYS:
        return QStringLiteral("[SYS]");
    }
    return QString();
}

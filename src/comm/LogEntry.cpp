#include "comm/LogEntry.h"

#include "comm/HexText.h"
#include "comm/LocalClock.h"
#include "comm/TextCodec.h"

LogEntry::LogEntry(const QString& message)
    : timestamp(LocalClock::now())
    , direction(SYS)
    , text(message)
    , hexText(message)
{}

LogEntry::LogEntry(Direction dir, const QByteArray& data, const QString& encodingName)
    : timestamp(LocalClock::now())
    , direction(dir)
    , rawData(data)
    , hexText(bytesToHex(data))
{
    if (dir == TX || dir == RX)
        text = decodeBytes(data, encodingName);
}

LogEntry::LogEntry(Direction dir, const QByteArray& data, const QString& text, FrameKind kind,
                   const QString& peer)
    : timestamp(LocalClock::now())
    , direction(dir)
    , rawData(data)
    , text(text)
    , hexText(bytesToHex(data))
    , peer(peer)
    , frameKind(kind)
{}

QString LogEntry::timeString() const
{
    if (!timestamp.isValid())
        return QString();
    // Formatted by hand: QDateTime::toString goes through the locale machinery
    // and costs more than building the rest of a row.
    const QTime time = timestamp.time();
    const int fields[] = {time.hour(), time.minute(), time.second()};
    QString out(12, QLatin1Char('0'));
    QChar* c = out.data();
    for (int i = 0; i < 3; ++i) {
        c[i * 3] = QLatin1Char(char('0' + fields[i] / 10));
        c[i * 3 + 1] = QLatin1Char(char('0' + fields[i] % 10));
        if (i < 2)
            c[i * 3 + 2] = QLatin1Char(':');
    }
    const int ms = time.msec();
    c[8] = QLatin1Char('.');
    c[9] = QLatin1Char(char('0' + ms / 100));
    c[10] = QLatin1Char(char('0' + ms / 10 % 10));
    c[11] = QLatin1Char(char('0' + ms % 10));
    return out;
}

qint64 LogEntry::memoryCost() const
{
    // A SYS entry's hexText shares the text's storage.
    const qint64 hexChars = hexText.isSharedWith(text) ? 0 : hexText.size();
    return qint64(sizeof(LogEntry)) + 64 + rawData.size() +
           qint64(sizeof(QChar)) * (text.size() + hexChars);
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

#include "session/RecordedExchange.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>

RecordedExchange::RecordedExchange(const HarConnection& connection)
{
    m_start = connection.messages.isEmpty() ? 0 : connection.messages.first().msecs;
    m_serverAfter.append(QList<ServerFrame>());
    qint64 previous = m_start;
    for (const HarMessage& message : connection.messages) {
        if (message.sent) {
            m_receivedBefore.append(m_received.size());
            m_sent.append(message);
            m_serverAfter.append(QList<ServerFrame>());
        } else {
            m_received.append(message);
            m_serverAfter.last().append(
                ServerFrame{message, std::max<qint64>(0, message.msecs - previous)});
        }
        previous = message.msecs;
    }
}

qint64 RecordedExchange::gapBeforeSend(qsizetype sendIndex) const
{
    if (sendIndex < 0 || sendIndex >= m_sent.size())
        return 0;
    const qint64 before = sendIndex == 0 ? m_start : m_sent[sendIndex - 1].msecs;
    return std::max<qint64>(0, m_sent[sendIndex].msecs - before);
}

QList<RecordedExchange::ServerFrame>
RecordedExchange::serverFramesAfter(qsizetype clientFrames) const
{
    return m_serverAfter.value(clientFrames);
}

bool RecordedExchange::matches(const HarMessage& expected, const QByteArray& data, bool binary)
{
    if (expected.binary != binary)
        return false;
    if (expected.data == data)
        return true;
    if (binary)
        return false;
    // Key order and spacing are the server's to choose.
    QJsonParseError error;
    const QJsonDocument want = QJsonDocument::fromJson(expected.data, &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    const QJsonDocument got = QJsonDocument::fromJson(data, &error);
    return error.error == QJsonParseError::NoError && want == got;
}

QString RecordedExchange::shortText(const QByteArray& data, bool binary)
{
    constexpr qsizetype most = 120;
    const QByteArray head = data.left(most);
    QString text = binary ? QString::fromLatin1(head.toHex(' ').toUpper())
                          : QString::fromUtf8(head).replace(QLatin1Char('\n'), QChar(0x21B5));
    if (data.size() > most)
        text += QStringLiteral("… (%1 字节)").arg(data.size());
    return text;
}

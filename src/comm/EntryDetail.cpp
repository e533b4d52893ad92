#include "comm/EntryDetail.h"

#include "i18n/LanguageManager.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringList>

#include <algorithm>

EntryDetail::EntryDetail(const LogEntry& entry)
    : m_entry(entry)
{}

bool EntryDetail::isMessage() const
{
    return m_entry.direction() == LogEntry::SYS;
}

QString EntryDetail::timeText() const
{
    if (!m_entry.timestamp().isValid())
        return QString();
    return m_entry.timestamp().date().toString(Qt::ISODate) + QLatin1Char(' ') +
           m_entry.timeString();
}

QString EntryDetail::directionText() const
{
    // The row's tag without its brackets.
    const QString tag = m_entry.directionTag();
    return tag.size() > 2 ? tag.mid(1, tag.size() - 2) : QString::number(int(m_entry.direction()));
}

QString EntryDetail::peerText() const
{
    const QString peer = m_entry.peer().isEmpty() ? QStringLiteral("\u2014") : m_entry.peer();
    // A reply names its rule where its peer is read.
    return m_entry.source().isEmpty()
               ? peer
               : peer + QStringLiteral(" (") + m_entry.source() + QLatin1Char(')');
}

QString EntryDetail::frameText() const
{
    if (isMessage())
        return LanguageManager::translate(QStringLiteral("系统消息"));
    switch (m_entry.frameKind()) {
    case LogEntry::FrameKind::Text:
        return LanguageManager::translate(QStringLiteral("文本帧"));
    case LogEntry::FrameKind::Binary:
        return LanguageManager::translate(QStringLiteral("二进制帧"));
    case LogEntry::FrameKind::Unknown:
        break;
    }
    return QStringLiteral("\u2014");
}

QString EntryDetail::sizeText() const
{
    // A message has no bytes on the wire; its length is told in characters,
    // as its shortened row does.
    if (isMessage())
        return LanguageManager::translate(QStringLiteral("%1 字符")).arg(m_entry.text().size());
    return LanguageManager::translate(QStringLiteral("%1 字节")).arg(m_entry.rawData().size());
}

QString EntryDetail::infoText() const
{
    const auto line = [](const char* name, const QString& value) -> QString {
        return LanguageManager::translate(QString::fromUtf8(name)) + QStringLiteral(": ") + value;
    };
    return QStringList{line("时间", timeText()), line("方向", directionText()),
                       line("对端", peerText()), line("帧类型", frameText()),
                       line("大小", sizeText())}
        .join(QLatin1Char('\n'));
}

QString EntryDetail::text() const
{
    return m_entry.text();
}

const QByteArray& EntryDetail::bytes() const
{
    return m_entry.rawData();
}

qsizetype EntryDetail::indentLimit(qsizetype size)
{
    return std::min<qsizetype>(4 * 1024 * 1024, 16 * size);
}

QString EntryDetail::prettyJson(const QString& text, bool* tooLarge,
                                const std::function<bool()>& stopped)
{
    if (tooLarge)
        *tooLarge = false;
    // Only a text that opens like an object or array is parsed at all.
    const auto first =
        std::find_if(text.cbegin(), text.cend(), [](QChar c) { return !c.isSpace(); });
    if (first == text.cend() || (*first != QLatin1Char('{') && *first != QLatin1Char('[')))
        return QString();
    QJsonParseError error;
    QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return QString();

    // Indented by hand rather than by QJsonDocument, which sorts the keys of
    // objects and rounds numbers to doubles: what is shown is what came.
    const qsizetype limit = indentLimit(text.size());
    QString out;
    out.reserve(std::min(limit, text.size() + text.size() / 2));
    int depth = 0;
    bool over = false;
    const auto newLine = [&] {
        if (out.size() + 1 + depth * 4 > limit) {
            over = true;
            return;
        }
        out += QLatin1Char('\n');
        out += QString(depth * 4, QLatin1Char(' '));
    };
    const auto isBlank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
               c == QLatin1Char('\r');
    };
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (over || out.size() > limit) {
            if (tooLarge)
                *tooLarge = true;
            return QString();
        }
        if (stopped && i % 4096 == 0 && stopped())
            return QString();
        const QChar c = text.at(i);
        if (inString) {
            out += c;
            if (escaped)
                escaped = false;
            else if (c == QLatin1Char('\\'))
                escaped = true;
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        if (isBlank(c))
            continue;
        switch (c.unicode()) {
        case '"':
            inString = true;
            out += c;
            break;
        case '{':
        case '[': {
            out += c;
            // An empty object or array stays on its line.
            qsizetype next = i + 1;
            while (next < text.size() && isBlank(text.at(next)))
                ++next;
            const QChar close = c == QLatin1Char('{') ? QLatin1Char('}') : QLatin1Char(']');
            if (next < text.size() && text.at(next) == close) {
                out += close;
                i = next;
                break;
            }
            ++depth;
            newLine();
            break;
        }
        case '}':
        case ']':
            --depth;
            newLine();
            out += c;
            break;
        case ',':
            out += c;
            newLine();
            break;
        case ':':
            out += QStringLiteral(": ");
            break;
        default:
            out += c;
        }
    }
    if (over || out.size() > limit) {
        if (tooLarge)
            *tooLarge = true;
        return QString();
    }
    return out;
}

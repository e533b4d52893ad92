#include "comm/EntryDetail.h"

#include "i18n/LanguageManager.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
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
    return byteCountText(m_entry.rawData().size());
}

QString EntryDetail::byteCountText(qint64 bytes)
{
    QLocale grouped = QLocale::c();
    grouped.setNumberOptions(QLocale::DefaultNumberOptions);
    QString text =
        LanguageManager::translate(QStringLiteral("%1 字节")).arg(grouped.toString(bytes));
    // Big counts also in their largest unit, always with one decimal.
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    if (unit >= 0)
        text += QStringLiteral(" (%1 %2)")
                    .arg(QString::number(value, 'f', 1), QLatin1String(units[unit]));
    return text;
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

namespace {

// The code unit of "\uXXXX" at `at`, or -1.
int escapedUnit(const QString& text, qsizetype at)
{
    if (at + 6 > text.size() || text.at(at) != QLatin1Char('\\') ||
        text.at(at + 1) != QLatin1Char('u'))
        return -1;
    bool ok = false;
    const int unit = text.mid(at + 2, 4).toInt(&ok, 16);
    // toInt takes a sign and blanks that JSON does not.
    const bool hex = std::all_of(text.cbegin() + at + 2, text.cbegin() + at + 6, [](QChar c) {
        return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
    });
    return ok && hex ? unit : -1;
}

// A "\uXXXX" escape (or a surrogate pair of them) at `at` in a JSON string,
// appended as its character; returns the characters it took, 0 when it stays
// as written.
qsizetype appendUnicodeEscape(const QString& text, qsizetype at, QString& out)
{
    const int unit = escapedUnit(text, at);
    if (unit < 0)
        return 0;
    // Kept as written where the character would change what the string
    // reads as (quote, backslash) or shows nothing (controls).
    if (unit < 0x20 || unit == 0x22 || unit == 0x5C || (unit >= 0x7F && unit < 0xA0))
        return 0;
    if (QChar::isHighSurrogate(char16_t(unit))) {
        const int low = escapedUnit(text, at + 6);
        if (low < 0 || !QChar::isLowSurrogate(char16_t(low)))
            return 0;
        out += QChar(char16_t(unit));
        out += QChar(char16_t(low));
        return 12;
    }
    if (QChar::isLowSurrogate(char16_t(unit)))
        return 0;
    out += QChar(char16_t(unit));
    return 6;
}

} // namespace

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
        if (inString && !escaped && c == QLatin1Char('\\')) {
            const qsizetype used = appendUnicodeEscape(text, i, out);
            if (used > 0) {
                i += used - 1;
                continue;
            }
        }
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

#include "reply/TemplateExpander.h"

#include "reply/JsonValuePath.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUuid>

#include <cmath>

namespace {

const QLatin1String open("{{");
const QLatin1String close("}}");

struct Range
{
    double low = 0;
    double high = 0;
    int places = 0;
};

std::optional<Range> parseRange(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral(
        "^\\s*(-?\\d{1,15}(?:\\.(\\d{1,9}))?)\\s*-\\s*(-?\\d{1,15}(?:\\.(\\d{1,9}))?)\\s*$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    Range range;
    range.low = match.captured(1).toDouble();
    range.high = match.captured(3).toDouble();
    range.places = int(qMax(match.capturedLength(2), match.capturedLength(4)));
    if (range.low > range.high)
        std::swap(range.low, range.high);
    // Counted in steps of the last place, which must fit an integer.
    if (qMax(std::abs(range.low), std::abs(range.high)) * std::pow(10.0, range.places) > 4e15)
        return std::nullopt;
    return range;
}

QString randomIn(const Range& range)
{
    // In steps of the last decimal place, both ends included.
    const double scale = std::pow(10.0, range.places);
    const qint64 low = qint64(std::llround(range.low * scale));
    const qint64 high = qint64(std::llround(range.high * scale));
    const quint64 span = quint64(high - low);
    const qint64 pick = low + qint64(QRandomGenerator::global()->bounded(span + 1));
    if (range.places == 0)
        return QString::number(pick);
    return QString::number(double(pick) / scale, 'f', range.places);
}

QString isoNow()
{
    QDateTime now = QDateTime::currentDateTime();
    // With the offset written out, as local time alone would not be.
    now.setOffsetFromUtc(now.offsetFromUtc());
    QString text = now.toString(Qt::ISODateWithMs);
    // Qt writes UTC as "Z"; the offset is spelt out like every other.
    if (text.endsWith(QLatin1Char('Z')))
        text.replace(text.size() - 1, 1, QStringLiteral("+00:00"));
    return text;
}

} // namespace

bool TemplateExpander::fill(const QString& name, const Context& context, QString* out)
{
    if (name == QLatin1String("seq")) {
        *out = QString::number(context.seq);
    } else if (name == QLatin1String("now")) {
        *out = QString::number(QDateTime::currentMSecsSinceEpoch());
    } else if (name == QLatin1String("time")) {
        *out = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    } else if (name == QLatin1String("iso")) {
        *out = isoNow();
    } else if (name == QLatin1String("uuid")) {
        *out = QUuid::createUuid().toString(QUuid::WithoutBraces);
    } else if (name == QLatin1String("payload")) {
        *out = context.payload;
    } else if (name == QLatin1String("peer")) {
        *out = context.peer;
    } else if (name.size() == 1 && name.at(0).isDigit()) {
        *out = context.captures.value(name.at(0).digitValue());
    } else if (name.startsWith(QLatin1String("random:"))) {
        const std::optional<Range> range = parseRange(name.mid(7));
        if (!range)
            return false;
        *out = randomIn(*range);
    } else if (name.startsWith(QLatin1String("json:"))) {
        const std::optional<JsonValuePath> path = JsonValuePath::parse(name.mid(5));
        if (!path)
            return false;
        // What is not there is JSON's null, so the reply stays JSON.
        const QByteArray raw = context.json.isEmpty() ? QByteArray() : path->rawIn(context.json);
        *out = raw.isEmpty() ? QStringLiteral("null") : QString::fromUtf8(raw);
    } else {
        return false;
    }
    return true;
}

QString TemplateExpander::expand(const QString& text, const Context& context)
{
    QString out;
    out.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype start = text.indexOf(open, at);
        if (start < 0) {
            out += QStringView(text).mid(at);
            break;
        }
        if (start > 0 && text.at(start - 1) == QLatin1Char('\\')) {
            out += QStringView(text).mid(at, start - 1 - at);
            out += open;
            at = start + 2;
            continue;
        }
        out += QStringView(text).mid(at, start - at);
        const qsizetype end = text.indexOf(close, start + 2);
        if (end < 0) {
            out += QStringView(text).mid(start);
            break;
        }
        QString value;
        if (fill(text.mid(start + 2, end - start - 2).trimmed(), context, &value))
            out += value;
        else
            out += QStringView(text).mid(start, end + 2 - start);
        at = end + 2;
    }
    return out;
}

bool TemplateExpander::hasVariables(const QString& text)
{
    return text.contains(open);
}

QStringList TemplateExpander::unknownNames(const QString& text)
{
    QStringList unknown;
    const Context probe;
    qsizetype at = 0;
    while ((at = text.indexOf(open, at)) >= 0) {
        if (at > 0 && text.at(at - 1) == QLatin1Char('\\')) {
            at += 2;
            continue;
        }
        const qsizetype end = text.indexOf(close, at + 2);
        if (end < 0)
            break;
        const QString whole = text.mid(at, end + 2 - at);
        QString ignored;
        if (!fill(text.mid(at + 2, end - at - 2).trimmed(), probe, &ignored) &&
            !unknown.contains(whole))
            unknown.append(whole);
        at = end + 2;
    }
    return unknown;
}

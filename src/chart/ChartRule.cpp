#include "chart/ChartRule.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>

namespace {

// Rules are evaluated for every line of every frame; keeping the compiled
// patterns avoids recompiling the same few expressions each time.
const QRegularExpression& cachedPattern(const QString& expression)
{
    thread_local QHash<QString, QRegularExpression> cache;
    auto it = cache.constFind(expression);
    if (it != cache.constEnd())
        return it.value();
    if (cache.size() >= 256)
        cache.clear();
    return cache.insert(expression, QRegularExpression(expression)).value();
}

std::optional<double> toNumber(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<double> evaluateJsonPath(const QString& line, const QString& path)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QChar first = trimmed.front();
    if (first != QLatin1Char('{') && first != QLatin1Char('['))
        return std::nullopt;

    // Every rule is tried on the same line in turn: parse it once for all.
    thread_local QString parsedLine;
    thread_local QJsonDocument parsedDoc;
    if (trimmed != parsedLine) {
        QJsonParseError error;
        parsedDoc = QJsonDocument::fromJson(trimmed.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError)
            parsedDoc = QJsonDocument();
        parsedLine = trimmed;
    }
    const QJsonDocument& doc = parsedDoc;
    if (doc.isNull())
        return std::nullopt;

    // The same few paths are asked for every frame: split once.
    thread_local QHash<QString, QStringList> splitPaths;
    auto known = splitPaths.constFind(path);
    if (known == splitPaths.constEnd()) {
        if (splitPaths.size() >= 256)
            splitPaths.clear();
        known = splitPaths.insert(path, path.split(QLatin1Char('.'), Qt::KeepEmptyParts));
    }
    QJsonValue current = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    for (const QString& step : *known) {
        if (current.isObject()) {
            // One look-up, not a contains() and a value().
            const QJsonObject object = current.toObject();
            const auto found = object.constFind(step);
            if (found != object.constEnd()) {
                current = found.value();
                continue;
            }
        }
        if (current.isArray()) {
            const QJsonArray array = current.toArray();
            bool ok = false;
            const int index = step.toInt(&ok);
            if (ok && index >= 0 && index < array.size()) {
                current = array.at(index);
                continue;
            }
        }
        return std::nullopt;
    }

    if (current.isDouble())
        return current.toDouble();
    if (current.isBool())
        return current.toBool() ? 1.0 : 0.0;
    if (current.isString())
        return toNumber(current.toString());
    return std::nullopt;
}

std::optional<double> evaluateRegexCapture(const QString& line, const QString& expression)
{
    const QRegularExpression& re = cachedPattern(expression);
    if (!re.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = re.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    // Group 1 even when only a later group took part: its empty text is no number.
    const QString text = match.lastCapturedIndex() > 0 ? match.captured(1) : match.captured(0);
    return toNumber(text);
}

std::optional<double> evaluateIndexedValue(const QString& line, const QString& expression)
{
    bool ok = false;
    const int wanted = expression.toInt(&ok);
    if (!ok)
        return std::nullopt;

    static const QRegularExpression pattern(QStringLiteral(R"(\[(\d+)\]\s*=\s*([\d.\-]+))"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;

    // An index that does not fit an int matches no rule.
    bool indexOk = false;
    const int index = match.captured(1).toInt(&indexOk);
    if (!indexOk || index != wanted)
        return std::nullopt;
    return toNumber(match.captured(2));
}

std::optional<double> evaluateRegexPresence(const QString& line, const QString& expression)
{
    const QRegularExpression& re = cachedPattern(expression);
    if (!re.isValid() || !re.match(line).hasMatch())
        return std::nullopt;
    return 1.0;
}

} // namespace

std::optional<double> evaluateRule(const QString& line, const ChartRule& rule)
{
    if (line.isEmpty())
        return std::nullopt;
    switch (rule.kind) {
    case JsonPath:
        return evaluateJsonPath(line, rule.expression);
    case RegexCapture:
        return evaluateRegexCapture(line, rule.expression);
    case IndexedValue:
        return evaluateIndexedValue(line, rule.expression);
    case RegexPresence:
        return evaluateRegexPresence(line, rule.expression);
    default:
        return std::nullopt;
    }
}

QStringList splitChartLines(const QString& text)
{
    // Runs of CR and LF separate lines; scanned by hand, as this runs for
    // every received frame.
    QStringList lines;
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && text.at(i) != QLatin1Char('\r') && text.at(i) != QLatin1Char('\n'))
            continue;
        if (i > start) {
            const QString line = text.mid(start, i - start).trimmed();
            if (!line.isEmpty())
                lines.append(line);
        }
        start = i + 1;
    }
    return lines;
}

int ruleKindForExpression(const QString& expression)
{
    static const QRegularExpression metaCharacters(
        QStringLiteral(R"([\\\[\]\(\)\|\*\+\?\^\$\{\}])"));
    return metaCharacters.match(expression).hasMatch() ? RegexCapture : JsonPath;
}

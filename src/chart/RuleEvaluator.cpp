#include "chart/RuleEvaluator.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

std::optional<double> toNumber(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

// The document of a line that may be JSON; null when it is not.
QJsonDocument parseJsonLine(const QString& line, const QByteArray& lineUtf8)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return QJsonDocument();
    const QChar first = trimmed.front();
    if (first != QLatin1Char('{') && first != QLatin1Char('['))
        return QJsonDocument();
    // The parser skips the JSON blanks itself; other blanks the line trims
    // are no JSON, so their bytes cannot stand in for the trimmed line.
    const bool bytesFit = !lineUtf8.isEmpty() && trimmed.size() == line.size();
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(bytesFit ? lineUtf8 : trimmed.toUtf8(), &error);
    return error.error == QJsonParseError::NoError ? doc : QJsonDocument();
}

std::optional<double> valueAtPath(const QJsonDocument& doc, const QStringList& path)
{
    QJsonValue current = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    for (const QString& step : path) {
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

std::optional<double> capturedNumber(const QRegularExpression& re, const QString& line)
{
    if (!re.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = re.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    // Group 1 even when only a later group took part: its empty text is no number.
    const QString text = match.lastCapturedIndex() > 0 ? match.captured(1) : match.captured(0);
    return toNumber(text);
}

std::optional<double> indexedValue(int wanted, const QString& line)
{
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

} // namespace

RuleEvaluator::RuleEvaluator(const QList<ChartRule>& rules)
    : m_rules(rules)
{
    m_prepared.reserve(rules.size());
    for (const ChartRule& rule : rules) {
        Prepared prepared;
        switch (rule.kind) {
        case JsonPath:
            prepared.path = rule.expression.split(QLatin1Char('.'), Qt::KeepEmptyParts);
            m_hasJson = true;
            break;
        case RegexCapture:
        case RegexPresence:
            prepared.pattern = QRegularExpression(rule.expression);
            break;
        case IndexedValue:
            prepared.index = rule.expression.toInt(&prepared.indexOk);
            break;
        default:
            break;
        }
        m_prepared.append(prepared);
    }
}

bool RuleEvaluator::isFor(const QList<ChartRule>& rules) const
{
    if (rules.size() != m_rules.size())
        return false;
    for (qsizetype k = 0; k < rules.size(); ++k) {
        const ChartRule& a = rules.at(k);
        const ChartRule& b = m_rules.at(k);
        if (a.kind != b.kind || a.expression != b.expression || a.name != b.name)
            return false;
    }
    return true;
}

QList<std::optional<double>> RuleEvaluator::valuesIn(const QString& line,
                                                     const QByteArray& lineUtf8) const
{
    QList<std::optional<double>> values(m_rules.size());
    if (line.isEmpty())
        return values;
    const QJsonDocument doc = m_hasJson ? parseJsonLine(line, lineUtf8) : QJsonDocument();
    for (qsizetype k = 0; k < m_rules.size(); ++k) {
        const Prepared& prepared = m_prepared.at(k);
        switch (m_rules.at(k).kind) {
        case JsonPath:
            if (!doc.isNull())
                values[k] = valueAtPath(doc, prepared.path);
            break;
        case RegexCapture:
            values[k] = capturedNumber(prepared.pattern, line);
            break;
        case IndexedValue:
            if (prepared.indexOk)
                values[k] = indexedValue(prepared.index, line);
            break;
        case RegexPresence:
            if (prepared.pattern.isValid() && prepared.pattern.match(line).hasMatch())
                values[k] = 1.0;
            break;
        default:
            break;
        }
    }
    return values;
}

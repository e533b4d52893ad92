#include "reply/JsonValuePath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A scanner over text already known to be valid JSON: it only finds where
// values begin and end.
class RawScanner
{
public:
    explicit RawScanner(const QByteArray& json)
        : m_json(json)
    {}

    void skipBlanks(qsizetype& at) const
    {
        while (at < m_json.size() && (m_json[at] == ' ' || m_json[at] == '\n' ||
                                      m_json[at] == '\r' || m_json[at] == '\t'))
            ++at;
    }
    // From a value's first byte to one past its last.
    qsizetype valueEnd(qsizetype at) const
    {
        if (at >= m_json.size())
            return at;
        const char first = m_json[at];
        if (first == '"')
            return stringEnd(at);
        if (first == '{' || first == '[') {
            int depth = 0;
            while (at < m_json.size()) {
                const char c = m_json[at];
                if (c == '"') {
                    at = stringEnd(at);
                    continue;
                }
                if (c == '{' || c == '[')
                    ++depth;
                else if ((c == '}' || c == ']') && --depth == 0)
                    return at + 1;
                ++at;
            }
            return at;
        }
        while (at < m_json.size() && !QByteArrayView(",]} \n\r\t").contains(m_json[at]))
            ++at;
        return at;
    }
    qsizetype stringEnd(qsizetype at) const
    {
        for (++at; at < m_json.size(); ++at) {
            if (m_json[at] == '\\')
                ++at;
            else if (m_json[at] == '"')
                return at + 1;
        }
        return at;
    }
    // The start of the member or element `step` of the container at `at`, or -1.
    qsizetype child(qsizetype at, const QString& step) const
    {
        if (at >= m_json.size())
            return -1;
        const bool object = m_json[at] == '{';
        if (!object && m_json[at] != '[')
            return -1;
        bool indexOk = false;
        const int wanted = object ? 0 : step.toInt(&indexOk);
        if (!object && (!indexOk || wanted < 0))
            return -1;
        ++at;
        for (int index = 0;; ++index) {
            skipBlanks(at);
            if (at >= m_json.size() || m_json[at] == '}' || m_json[at] == ']')
                return -1;
            bool hit = index == wanted;
            if (object) {
                const qsizetype keyEnd = stringEnd(at);
                const QByteArray key = m_json.mid(at, keyEnd - at);
                hit = QJsonDocument::fromJson('[' + key + ']').array().at(0).toString() == step;
                at = keyEnd;
                skipBlanks(at);
                ++at; // the colon
                skipBlanks(at);
            }
            if (hit)
                return at;
            at = valueEnd(at);
            skipBlanks(at);
            if (at < m_json.size() && m_json[at] == ',')
                ++at;
        }
    }

private:
    const QByteArray& m_json;
};

} // namespace

std::optional<JsonValuePath> JsonValuePath::parse(const QString& text)
{
    if (text.trimmed().isEmpty())
        return std::nullopt;
    JsonValuePath path;
    path.m_steps = text.trimmed().split(QLatin1Char('.'));
    for (const QString& step : std::as_const(path.m_steps)) {
        if (step.isEmpty())
            return std::nullopt;
    }
    return path;
}

QJsonValue JsonValuePath::valueIn(const QJsonValue& root) const
{
    QJsonValue current = root;
    for (const QString& step : m_steps) {
        if (current.isObject()) {
            current = current.toObject().value(step);
        } else if (current.isArray()) {
            bool ok = false;
            const int index = step.toInt(&ok);
            const QJsonArray array = current.toArray();
            if (!ok || index < 0 || index >= array.size())
                return QJsonValue(QJsonValue::Undefined);
            current = array.at(index);
        } else {
            return QJsonValue(QJsonValue::Undefined);
        }
    }
    return current;
}

QByteArray JsonValuePath::rawIn(const QByteArray& json) const
{
    RawScanner scanner(json);
    qsizetype at = 0;
    scanner.skipBlanks(at);
    for (const QString& step : m_steps) {
        at = scanner.child(at, step);
        if (at < 0)
            return QByteArray();
    }
    return json.mid(at, scanner.valueEnd(at) - at);
}

QString JsonValuePath::readsAs(const QJsonValue& value, const QByteArray& raw)
{
    if (value.isString())
        return value.toString();
    if (!raw.isEmpty())
        return QString::fromUtf8(raw);
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

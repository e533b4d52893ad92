#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

// "params.0.id": object members by name, array elements by index.
class JsonValuePath
{
public:
    // Nothing when the path cannot be parsed (empty, or an empty step).
    static std::optional<JsonValuePath> parse(const QString& text);

    const QStringList& steps() const { return m_steps; }

    // The value at the path, undefined when there is none.
    QJsonValue valueIn(const QJsonValue& root) const;
    // The value's own text in `json` (valid JSON), exactly as the sender wrote
    // it: a number keeps every digit, which a double would not. Empty when
    // the path leads nowhere.
    QByteArray rawIn(const QByteArray& json) const;

    // How a value "reads" for a rule to compare: a string its text, other
    // values their JSON text.
    static QString readsAs(const QJsonValue& value, const QByteArray& raw);

private:
    QStringList m_steps;
};

#include "websocket/AddressOptions.h"

#include "i18n/LanguageManager.h"

#include <QUrl>

#include <algorithm>

ClientOptions AddressOptions::optionsFor(const QString& address) const
{
    const QString key = keyFor(address);
    const auto it = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                 [&key](const Entry& entry) { return entry.first == key; });
    return it == m_entries.cend() ? ClientOptions() : it->second;
}

void AddressOptions::setOptions(const QString& address, const ClientOptions& options)
{
    const QString key = keyFor(address);
    m_entries.removeIf([&key](const Entry& entry) { return entry.first == key; });
    if (key.isEmpty() || options.isDefault())
        return;
    m_entries.prepend({key, options});
    if (m_entries.size() > capacity)
        m_entries.resize(capacity);
}

void AddressOptions::setEntries(const QList<Entry>& entries)
{
    m_entries.clear();
    // Given most recent first: set from the oldest so that order survives.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        setOptions(it->first, it->second);
}

QString AddressOptions::keyFor(const QString& address)
{
    const QString typed = address.trimmed();
    const QUrl url(typed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("ws") && scheme != QLatin1String("wss")))
        return typed;
    QUrl key;
    key.setScheme(scheme);
    key.setHost(url.host());
    key.setPort(url.port(scheme == QLatin1String("wss") ? 443 : 80));
    key.setPath(url.path().isEmpty() ? QStringLiteral("/") : url.path());
    return key.toString();
}

QStringList AddressOptions::differenceLines(const ClientOptions& options)
{
    const auto differences = options.differences();
    if (differences.isEmpty())
        return {};
    QStringList lines{LanguageManager::translate(QStringLiteral("连接选项")) + QLatin1Char(':')};
    for (const auto& [label, value] : differences)
        lines.append(LanguageManager::translate(label) +
                     (value.isEmpty() ? QString()
                                      : QStringLiteral(": ") + LanguageManager::translate(value)));
    return lines;
}

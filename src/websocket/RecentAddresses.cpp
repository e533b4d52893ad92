#include "websocket/RecentAddresses.h"

#include <QUrl>
#include <QUrlQuery>

namespace {

bool isSecretQueryName(const QString& name)
{
    static const QStringList words{QStringLiteral("token"), QStringLiteral("key"),
                                   QStringLiteral("auth"), QStringLiteral("pass"),
                                   QStringLiteral("secret")};
    const QString lower = name.toLower();
    for (const QString& word : words) {
        if (lower.contains(word))
            return true;
    }
    return false;
}

QStringList withoutRepeats(const QStringList& addresses)
{
    QStringList kept;
    for (const QString& address : addresses) {
        if (!address.isEmpty() && !kept.contains(address))
            kept.append(address);
    }
    return kept;
}

} // namespace

void RecentAddresses::add(const QString& address)
{
    if (address.isEmpty())
        return;
    m_addresses.removeAll(address);
    m_addresses.prepend(address);
    if (m_addresses.size() > capacity)
        m_addresses.resize(capacity);
}

void RecentAddresses::setAddresses(const QStringList& addresses)
{
    m_addresses = withoutRepeats(addresses).mid(0, capacity);
}

QStringList RecentAddresses::storable(bool withSecrets) const
{
    if (withSecrets)
        return m_addresses;
    QStringList stripped;
    for (const QString& address : m_addresses)
        stripped.append(withoutSecrets(address));
    return withoutRepeats(stripped);
}

QString RecentAddresses::withoutSecrets(const QString& address)
{
    QUrl url(address);
    if (!url.isValid())
        return address;
    bool changed = false;
    if (!url.userInfo().isEmpty()) {
        url.setUserInfo(QString());
        changed = true;
    }
    if (url.hasQuery()) {
        QUrlQuery query(url);
        const auto items = query.queryItems(QUrl::FullyEncoded);
        QUrlQuery kept;
        for (const auto& item : items) {
            if (isSecretQueryName(QUrl::fromPercentEncoding(item.first.toUtf8())))
                changed = true;
            else
                kept.addQueryItem(item.first, item.second);
        }
        if (changed) {
            if (kept.isEmpty())
                url.setQuery(QString());
            else
                url.setQuery(kept.query(QUrl::FullyEncoded), QUrl::StrictMode);
        }
    }
    // An address without secrets stays exactly as typed.
    return changed ? url.toString(QUrl::FullyEncoded) : address;
}

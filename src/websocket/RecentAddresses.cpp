#include "websocket/RecentAddresses.h"

#include "websocket/SecretMask.h"

namespace {

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
    return SecretMask::withoutSecrets(address);
}

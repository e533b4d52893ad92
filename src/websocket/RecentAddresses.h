#pragma once

#include <QString>
#include <QStringList>

// The addresses that connected, most recent first, without repeats.
class RecentAddresses
{
public:
    static constexpr int capacity = 20;

    // Moves the address to the front.
    void add(const QString& address);
    const QStringList& addresses() const { return m_addresses; }
    void setAddresses(const QStringList& addresses);

    // What may be written to disk: without `withSecrets`, every address as
    // withoutSecrets() gives it (repeats that this makes are dropped).
    QStringList storable(bool withSecrets) const;

    // The address as SecretMask::withoutSecrets gives it: the same policy as
    // what the log masks.
    static QString withoutSecrets(const QString& address);

private:
    QStringList m_addresses;
};

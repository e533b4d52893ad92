#pragma once

#include "websocket/ClientOptions.h"

#include <QList>
#include <QString>

#include <utility>

// Client options kept per server: an Authorization header made for one
// server must not go to the next. An address is known by its scheme, host,
// port and path; its query, fragment and user info do not count.
class AddressOptions
{
public:
    using Entry = std::pair<QString, ClientOptions>;
    // Addresses kept at most, the least recently set dropped first.
    static constexpr int capacity = 100;

    // The options kept for the address, or the defaults.
    ClientOptions optionsFor(const QString& address) const;
    // Options at their defaults are not kept.
    void setOptions(const QString& address, const ClientOptions& options);

    // Most recently set first, each under its key.
    const QList<Entry>& entries() const { return m_entries; }
    void setEntries(const QList<Entry>& entries);

    // What two addresses of the same server share: "ws://host:80/path" with
    // the scheme's port filled in. Text that is no URL is its own key.
    static QString keyFor(const QString& address);

    // "连接选项:" and a line per option that differs from its default, in the
    // language shown; empty when none does.
    static QStringList differenceLines(const ClientOptions& options);

private:
    QList<Entry> m_entries;
};

#pragma once

#include <QByteArray>
#include <QNetworkProxy>

#include <functional>
#include <optional>

class QUrl;

// The proxy that the environment names for an address, read the way curl and
// most command-line tools read it: https_proxy for wss, http_proxy for ws,
// all_proxy when neither is set (lower case first, then upper case), and no
// proxy for hosts listed in no_proxy.
class SystemProxy
{
public:
    using Environment = std::function<QByteArray(const char* name)>;

    // NoProxy when none applies; nothing when the variable names a proxy Qt
    // cannot use (an unknown scheme or no host).
    static std::optional<QNetworkProxy> forUrl(const QUrl& url,
                                               const Environment& environment = read);
    // Whether `host` is listed in a no_proxy value: "*", a host, a domain
    // (".example.com" or "example.com" for its subdomains too), an address or
    // a subnet ("10.0.0.0/8").
    // The variable's value that applies to the address, as set; empty when
    // none applies or the host is excluded.
    static QByteArray valueFor(const QUrl& url, const Environment& environment = read);
    static bool isExcluded(const QString& host, const QByteArray& noProxy);

    static QByteArray read(const char* name);

    SystemProxy() = delete;
};

#include "websocket/SystemProxy.h"

#include <QHostAddress>
#include <QUrl>

QByteArray SystemProxy::read(const char* name)
{
    QByteArray value = qgetenv(name);
    if (value.isEmpty())
        value = qgetenv(QByteArray(name).toUpper().constData());
    return value.trimmed();
}

bool SystemProxy::isExcluded(const QString& host, const QByteArray& noProxy)
{
    const QString target = host.toLower();
    const QHostAddress address(target);
    const QList<QByteArray> entries = noProxy.simplified().replace(' ', ',').split(',');
    for (const QByteArray& raw : entries) {
        QString entry = QString::fromLatin1(raw).trimmed().toLower();
        if (entry.isEmpty())
            continue;
        if (entry == QLatin1String("*"))
            return true;
        if (!address.isNull() && entry.contains(QLatin1Char('/'))) {
            if (address.isInSubnet(QHostAddress::parseSubnet(entry)))
                return true;
            continue;
        }
        // A port on the entry ("host:8080") is not compared, as curl does not.
        if (!entry.startsWith(QLatin1Char('[')) && entry.count(QLatin1Char(':')) == 1)
            entry = entry.left(entry.indexOf(QLatin1Char(':')));
        entry.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        if (entry.startsWith(QLatin1Char('.')))
            entry.remove(0, 1);
        if (!address.isNull() && address.isEqual(QHostAddress(entry)))
            return true;
        if (target == entry || target.endsWith(QLatin1Char('.') + entry))
            return true;
    }
    return false;
}

QByteArray SystemProxy::valueFor(const QUrl& url, const Environment& environment)
{
    if (isExcluded(url.host(), environment("no_proxy")))
        return QByteArray();
    const bool secure = url.scheme().compare(QLatin1String("wss"), Qt::CaseInsensitive) == 0;
    const QByteArray value = environment(secure ? "https_proxy" : "http_proxy");
    return value.isEmpty() ? environment("all_proxy") : value;
}

std::optional<QNetworkProxy> SystemProxy::forUrl(const QUrl& url, const Environment& environment)
{
    QByteArray value = valueFor(url, environment);
    if (value.isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy);

    // "host:port" without a scheme is an HTTP proxy.
    if (!value.contains("://"))
        value.prepend("http://");
    const QUrl proxyUrl(QString::fromLocal8Bit(value));
    const QString scheme = proxyUrl.scheme().toLower();
    QNetworkProxy::ProxyType type;
    if (scheme == QLatin1String("http"))
        type = QNetworkProxy::HttpProxy;
    else if (scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h"))
        type = QNetworkProxy::Socks5Proxy;
    else
        return std::nullopt;
    if (proxyUrl.host().isEmpty())
        return std::nullopt;
    const quint16 port = quint16(proxyUrl.port(type == QNetworkProxy::HttpProxy ? 8080 : 1080));
    return QNetworkProxy(type, proxyUrl.host(), port, proxyUrl.userName(), proxyUrl.password());
}

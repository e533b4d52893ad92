#include "websocket/ClientOptions.h"

#include "websocket/OptionMap.h"

namespace {

const QStringList& proxyNames()
{
    static const QStringList names{QStringLiteral("none"), QStringLiteral("system"),
                                   QStringLiteral("http"), QStringLiteral("socks5")};
    return names;
}

bool isSecretHeader(const QString& name)
{
    return name.compare(u"Authorization", Qt::CaseInsensitive) == 0 ||
           name.compare(u"Proxy-Authorization", Qt::CaseInsensitive) == 0 ||
           name.compare(u"Cookie", Qt::CaseInsensitive) == 0;
}

// The header lines without the values of secret ones.
QString headersWithoutSecrets(const QString& headers)
{
    QStringList lines = headers.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && isSecretHeader(line.left(colon).trimmed()))
            line = line.left(colon + 1);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool ClientOptions::operator==(const ClientOptions& o) const
{
    return headers == o.headers && subprotocols == o.subprotocols && origin == o.origin &&
           ignoreCertificateErrors == o.ignoreCertificateErrors && caFile == o.caFile &&
           handshakeTimeoutSeconds == o.handshakeTimeoutSeconds &&
           autoReconnect == o.autoReconnect && heartbeatSeconds == o.heartbeatSeconds &&
           proxy == o.proxy && proxyHost == o.proxyHost && proxyPort == o.proxyPort &&
           proxyUser == o.proxyUser && proxyPassword == o.proxyPassword;
}

QVariantMap ClientOptions::toVariantMap(bool withSecrets) const
{
    QVariantMap map{
        {QStringLiteral("headers"), withSecrets ? headers : headersWithoutSecrets(headers)},
        {QStringLiteral("subprotocols"), subprotocols},
        {QStringLiteral("origin"), origin},
        {QStringLiteral("ignoreCertificateErrors"), ignoreCertificateErrors},
        {QStringLiteral("caFile"), caFile},
        {QStringLiteral("handshakeTimeoutSeconds"), handshakeTimeoutSeconds},
        {QStringLiteral("autoReconnect"), autoReconnect},
        {QStringLiteral("heartbeatSeconds"), heartbeatSeconds},
        {QStringLiteral("proxy"), proxyNames().at(int(proxy))},
        {QStringLiteral("proxyHost"), proxyHost},
        {QStringLiteral("proxyPort"), int(proxyPort)},
        {QStringLiteral("proxyUser"), proxyUser},
    };
    if (withSecrets)
        map.insert(QStringLiteral("proxyPassword"), proxyPassword);
    return map;
}

ClientOptions ClientOptions::fromVariantMap(const QVariantMap& map, QStringList* rejected)
{
    ClientOptions options;
    const OptionMap in(map, rejected);
    in.read("headers", &options.headers);
    in.read("subprotocols", &options.subprotocols);
    in.read("origin", &options.origin);
    in.read("ignoreCertificateErrors", &options.ignoreCertificateErrors);
    in.read("caFile", &options.caFile);
    in.read("handshakeTimeoutSeconds", &options.handshakeTimeoutSeconds, 0, 3600);
    in.read("autoReconnect", &options.autoReconnect);
    in.read("heartbeatSeconds", &options.heartbeatSeconds, 0, 3600);
    int proxy = int(options.proxy);
    in.readChoice("proxy", &proxy, proxyNames());
    options.proxy = Proxy(proxy);
    in.read("proxyHost", &options.proxyHost);
    int port = options.proxyPort;
    in.read("proxyPort", &port, 0, 65535);
    options.proxyPort = quint16(port);
    in.read("proxyUser", &options.proxyUser);
    in.read("proxyPassword", &options.proxyPassword);
    return options;
}

#pragma once

#include <QHostAddress>
#include <QNetworkProxyFactory>

// The header's banner asks the vendor service at start; in tests every
// connection to a host other than loopback is sent to a proxy port where
// nothing listens, so it fails at once and nothing leaves the machine.
class LoopbackOnlyProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        const QString host = query.peerHostName();
        const QHostAddress address(host);
        if (query.queryType() == QNetworkProxyQuery::TcpServer || host.isEmpty() ||
            host == QLatin1String("localhost") || (!address.isNull() && address.isLoopback()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return {QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9)};
    }
};

inline void keepNetworkOnLoopback()
{
    QNetworkProxyFactory::setApplicationProxyFactory(new LoopbackOnlyProxyFactory);
}

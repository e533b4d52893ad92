#include "websocket/ClientOptions.h"

#include "websocket/OptionMap.h"
#include "websocket/RequestHeaders.h"
#include "websocket/SecretMask.h"

namespace {

const QStringList& proxyNames()
{
    static const QStringList names{QStringLiteral("none"), QStringLiteral("system"),
                                   QStringLiteral("http"), QStringLiteral("socks5")};
    return names;
}

QString seconds(int value)
{
    return value > 0 ? QStringLiteral("%1 s").arg(value) : QStringLiteral("不限");
}

} // namespace

bool ClientOptions::operator==(const ClientOptions& o) const
{
    return headers == o.headers && subprotocols == o.subprotocols && origin == o.origin &&
           ignoreCertificateErrors == o.ignoreCertificateErrors && caFile == o.caFile &&
           handshakeTimeoutSeconds == o.handshakeTimeoutSeconds &&
           autoReconnect == o.autoReconnect && heartbeatSeconds == o.heartbeatSeconds &&
           proxy == o.proxy && proxyHost == o.proxyHost && proxyPort == o.proxyPort &&
           proxyUser == o.proxyUser && proxyPassword == o.proxyPassword && protocol == o.protocol &&
           decode == o.decode;
}

QVariantMap ClientOptions::toVariantMap(bool withSecrets) const
{
    QVariantMap map{
        {QStringLiteral("headers"),
         withSecrets ? headers : SecretMask::headersWithoutSecrets(headers)},
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
    protocol.write(map, withSecrets);
    decode.write(map);
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
    options.protocol = ProtocolOptions::read(map, rejected);
    options.decode = DecodeOptions::read(map, rejected);
    return options;
}

QList<OptionProblem> ClientOptions::ownProblems() const
{
    QList<OptionProblem> found = RequestHeaders::parse(headers).problems;
    for (const QString& protocol : subprotocols) {
        if (!RequestHeaders::isToken(protocol))
            found.append({QStringLiteral("子协议名称 %1 无效"), {protocol}});
    }
    if (proxy == Proxy::Http || proxy == Proxy::Socks5) {
        if (proxyHost.trimmed().isEmpty())
            found.append({QStringLiteral("代理主机为空"), {}});
        if (proxyPort == 0)
            found.append({QStringLiteral("代理端口为 0"), {}});
    }
    found += protocol.problems();
    return found;
}

QList<QPair<QString, QString>> ClientOptions::differences() const
{
    const ClientOptions plain;
    QList<QPair<QString, QString>> out;
    if (headers.trimmed() != plain.headers) {
        QStringList lines;
        const QStringList typed = headers.split(QLatin1Char('\n'));
        for (const QString& line : typed) {
            // A secret left without its value is not sent, so not listed;
            // connecting names it on its own.
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            const bool unkept = colon > 0 && line.mid(colon + 1).trimmed().isEmpty() &&
                                SecretMask::isSecretName(QStringView(line).left(colon).trimmed());
            if (!unkept && !line.trimmed().isEmpty())
                lines.append(SecretMask::headers(line.trimmed()));
        }
        if (!lines.isEmpty())
            out.append({QStringLiteral("请求头"), lines.join(QStringLiteral(", "))});
    }
    if (subprotocols != plain.subprotocols)
        out.append({QStringLiteral("子协议"), subprotocols.join(QStringLiteral(", "))});
    if (origin != plain.origin)
        out.append({QStringLiteral("Origin"), origin});
    if (ignoreCertificateErrors)
        out.append({QStringLiteral("忽略证书错误"), QString()});
    if (caFile != plain.caFile)
        out.append({QStringLiteral("CA 文件"), caFile});
    if (handshakeTimeoutSeconds != plain.handshakeTimeoutSeconds)
        out.append({QStringLiteral("握手超时"), seconds(handshakeTimeoutSeconds)});
    if (autoReconnect)
        out.append({QStringLiteral("自动重连"), QString()});
    if (heartbeatSeconds != plain.heartbeatSeconds)
        out.append({QStringLiteral("心跳"), seconds(heartbeatSeconds)});
    if (proxy == Proxy::System) {
        out.append({QStringLiteral("代理"), QStringLiteral("系统设置")});
    } else if (proxy != Proxy::None) {
        const QString user = proxyUser.isEmpty() ? QString() : proxyUser + QLatin1Char('@');
        out.append(
            {QStringLiteral("代理"),
             QStringLiteral("%1 %2%3:%4")
                 .arg(proxy == Proxy::Http ? QStringLiteral("HTTP") : QStringLiteral("SOCKS5"),
                      user, proxyHost)
                 .arg(proxyPort)});
    }
    out += protocol.differences();
    out += decode.differences();
    return out;
}

#include "websocket/ServerOptions.h"

#include "websocket/OptionMap.h"

namespace {

const QStringList& bindNames()
{
    static const QStringList names{QStringLiteral("any"), QStringLiteral("127.0.0.1"),
                                   QStringLiteral("::1"), QStringLiteral("address")};
    return names;
}

} // namespace

bool ServerOptions::operator==(const ServerOptions& o) const
{
    return bind == o.bind && address == o.address && restrictPath == o.restrictPath &&
           subprotocols == o.subprotocols && certificateFile == o.certificateFile &&
           privateKeyFile == o.privateKeyFile &&
           handshakeTimeoutSeconds == o.handshakeTimeoutSeconds && decode == o.decode;
}

QList<QPair<QString, QString>> ServerOptions::summary() const
{
    const QString none = QStringLiteral("无");
    QString listenOn;
    switch (bind) {
    case Bind::Any:
        listenOn = QStringLiteral("所有接口");
        break;
    case Bind::LocalV4:
        listenOn = QStringLiteral("127.0.0.1");
        break;
    case Bind::LocalV6:
        listenOn = QStringLiteral("::1");
        break;
    case Bind::Address:
        listenOn = address;
        break;
    }
    QList<QPair<QString, QString>> out{
        {QStringLiteral("监听地址"), listenOn},
        {QStringLiteral("路径"),
         restrictPath ? QStringLiteral("只接受监听路径") : QStringLiteral("接受任何路径")},
        {QStringLiteral("子协议"),
         subprotocols.isEmpty() ? none : subprotocols.join(QStringLiteral(", "))},
        {QStringLiteral("证书文件"), certificateFile.isEmpty() ? none : certificateFile},
        {QStringLiteral("私钥文件"), privateKeyFile.isEmpty() ? none : privateKeyFile},
        {QStringLiteral("握手超时"), QStringLiteral("%1 s").arg(handshakeTimeoutSeconds)},
    };
    // Named only when chosen: the plain server's summary stays as it was.
    out += decode.differences();
    return out;
}

QVariantMap ServerOptions::toVariantMap() const
{
    QVariantMap map{
        {QStringLiteral("bind"), bindNames().at(int(bind))},
        {QStringLiteral("address"), address},
        {QStringLiteral("restrictPath"), restrictPath},
        {QStringLiteral("subprotocols"), subprotocols},
        {QStringLiteral("certificateFile"), certificateFile},
        {QStringLiteral("privateKeyFile"), privateKeyFile},
        {QStringLiteral("handshakeTimeoutSeconds"), handshakeTimeoutSeconds},
    };
    decode.write(map);
    return map;
}

ServerOptions ServerOptions::fromVariantMap(const QVariantMap& map, QStringList* rejected)
{
    ServerOptions options;
    const OptionMap in(map, rejected);
    int bind = int(options.bind);
    in.readChoice("bind", &bind, bindNames());
    options.bind = Bind(bind);
    in.read("address", &options.address);
    in.read("restrictPath", &options.restrictPath);
    in.read("subprotocols", &options.subprotocols);
    in.read("certificateFile", &options.certificateFile);
    in.read("privateKeyFile", &options.privateKeyFile);
    in.read("handshakeTimeoutSeconds", &options.handshakeTimeoutSeconds, 1, 3600);
    options.decode = DecodeOptions::read(map, rejected);
    return options;
}

#include "protocol/ProtocolOptions.h"

#include "websocket/OptionMap.h"

#include <QJsonDocument>

namespace {

const QStringList& kindNames()
{
    static const QStringList names{QStringLiteral("websocket"), QStringLiteral("socketio")};
    return names;
}

} // namespace

bool ProtocolOptions::operator==(const ProtocolOptions& o) const
{
    return kind == o.kind && engineIo3 == o.engineIo3 && path == o.path && nsp == o.nsp &&
           auth == o.auth;
}

QList<OptionProblem> ProtocolOptions::problems() const
{
    QList<OptionProblem> found;
    if (!isSocketIo())
        return found;
    if (!path.startsWith(QLatin1Char('/')))
        found.append({QStringLiteral("Socket.IO 路径必须以 / 开头"), {}});
    if (!nsp.startsWith(QLatin1Char('/')) || nsp.contains(QLatin1Char(',')))
        found.append({QStringLiteral("命名空间 %1 无效，应以 / 开头且不含逗号"), {nsp}});
    if (!auth.trimmed().isEmpty() && !QJsonDocument::fromJson(auth.toUtf8()).isObject())
        found.append({QStringLiteral("认证数据不是 JSON 对象"), {}});
    return found;
}

QList<QPair<QString, QString>> ProtocolOptions::differences() const
{
    if (!isSocketIo())
        return {};
    const ProtocolOptions plain;
    QList<QPair<QString, QString>> out{
        {QStringLiteral("协议"),
         engineIo3 ? QStringLiteral("Socket.IO (EIO 3)") : QStringLiteral("Socket.IO")}};
    if (path != plain.path)
        out.append({QStringLiteral("路径"), path});
    if (nsp != plain.nsp)
        out.append({QStringLiteral("命名空间"), nsp});
    // Auth usually holds a token: named, never shown.
    if (!auth.trimmed().isEmpty())
        out.append({QStringLiteral("认证数据"), QString()});
    return out;
}

void ProtocolOptions::write(QVariantMap& map, bool withSecrets) const
{
    map.insert(QStringLiteral("protocol"), kindNames().at(int(kind)));
    map.insert(QStringLiteral("protocolEngineIo3"), engineIo3);
    map.insert(QStringLiteral("protocolPath"), path);
    map.insert(QStringLiteral("protocolNamespace"), nsp);
    if (withSecrets)
        map.insert(QStringLiteral("protocolAuth"), auth);
}

ProtocolOptions ProtocolOptions::read(const QVariantMap& map, QStringList* rejected)
{
    ProtocolOptions options;
    const OptionMap in(map, rejected);
    int kind = int(options.kind);
    in.readChoice("protocol", &kind, kindNames());
    options.kind = Kind(kind);
    in.read("protocolEngineIo3", &options.engineIo3);
    in.read("protocolPath", &options.path);
    in.read("protocolNamespace", &options.nsp);
    in.read("protocolAuth", &options.auth);
    return options;
}

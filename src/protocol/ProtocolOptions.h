#pragma once

#include "websocket/OptionProblem.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// What client mode speaks over the WebSocket: plain frames (as always) or
// Socket.IO with its Engine.IO framing, path, namespace and auth.
struct ProtocolOptions
{
    enum class Kind
    {
        WebSocket,
        SocketIo,
    };

    Kind kind = Kind::WebSocket;
    // Engine.IO 3 (Socket.IO 2 servers: the client pings) instead of 4.
    bool engineIo3 = false;
    QString path = QStringLiteral("/socket.io/");
    QString nsp = QStringLiteral("/");
    // A JSON object sent with the namespace connect; empty: none.
    QString auth;

    bool isSocketIo() const { return kind == Kind::SocketIo; }
    bool operator==(const ProtocolOptions& o) const;
    bool operator!=(const ProtocolOptions& o) const { return !(*this == o); }

    QList<OptionProblem> problems() const;
    // (label, value) as ClientOptions::differences gives them.
    QList<QPair<QString, QString>> differences() const;
    // Stored under "protocol*" keys beside the other client options; the
    // auth, which usually holds a token, only with the secrets.
    void write(QVariantMap& map, bool withSecrets) const;
    static ProtocolOptions read(const QVariantMap& map, QStringList* rejected);
};

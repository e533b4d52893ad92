#pragma once

#include "decode/DecodeOptions.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// How server mode listens. Every field at its default gives the plain server
// of a user who never opened the options.
struct ServerOptions
{
    enum class Bind
    {
        Any,     // every IPv4 and IPv6 address
        LocalV4, // 127.0.0.1
        LocalV6, // ::1
        Address  // `address`
    };

    Bind bind = Bind::Any;
    QString address;
    // Refuse clients that ask for another path than the one shown.
    bool restrictPath = false;
    QStringList subprotocols;
    // Both set: a TLS (wss) server.
    QString certificateFile;
    QString privateKeyFile;
    // For clients that connect and never finish the upgrade.
    int handshakeTimeoutSeconds = 10;
    DecodeOptions decode;

    bool operator==(const ServerOptions& other) const;
    bool operator!=(const ServerOptions& other) const { return !(*this == other); }
    bool isDefault() const { return *this == ServerOptions(); }

    // Each option as a Chinese label and its value, for the log and (through
    // the dictionary) the tooltip.
    QList<QPair<QString, QString>> summary() const;

    QVariantMap toVariantMap() const;
    static ServerOptions fromVariantMap(const QVariantMap& map, QStringList* rejected = nullptr);
};

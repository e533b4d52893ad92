#pragma once

#include "decode/DecodeOptions.h"
#include "protocol/ProtocolOptions.h"
#include "websocket/OptionProblem.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// How client mode opens its connection. Every field at its default gives the
// plain connection of a user who never opened the options.
struct ClientOptions
{
    enum class Proxy
    {
        None,   // no proxy, whatever the environment says
        System, // http_proxy / https_proxy / no_proxy
        Http,
        Socks5
    };

    // Extra request headers as typed: one "Name: value" per line.
    QString headers;
    // Offered in this order.
    QStringList subprotocols;
    // Empty: no Origin header.
    QString origin;
    bool ignoreCertificateErrors = false;
    // A PEM file of certificates to trust besides the system's.
    QString caFile;
    // 0: wait as long as the socket does.
    int handshakeTimeoutSeconds = 10;
    bool autoReconnect = false;
    // 0: no heartbeat.
    int heartbeatSeconds = 0;
    Proxy proxy = Proxy::None;
    QString proxyHost;
    quint16 proxyPort = 0;
    QString proxyUser;
    QString proxyPassword;
    ProtocolOptions protocol;
    DecodeOptions decode;

    bool operator==(const ClientOptions& other) const;
    bool operator!=(const ClientOptions& other) const { return !(*this == other); }
    bool isDefault() const { return *this == ClientOptions(); }

    // What keeps these options from being used, as far as they tell by
    // themselves: malformed header lines, a subprotocol that is not a token, a
    // typed proxy without host or port. Reading the CA file takes the TLS
    // backend: ClientOptionsCheck::problems gives these and that one.
    QList<OptionProblem> ownProblems() const;

    // The options that differ from their defaults, as (Chinese label, value)
    // for the log and the address tooltip; secrets are masked and the proxy
    // password is never shown. Switches have an empty value.
    QList<QPair<QString, QString>> differences() const;

    // For settings files. Secret values (Authorization/Cookie header values,
    // the proxy password) are left out unless asked for.
    QVariantMap toVariantMap(bool withSecrets) const;
    // Values of the wrong type or out of range keep their defaults; their keys
    // are added to `rejected`.
    static ClientOptions fromVariantMap(const QVariantMap& map, QStringList* rejected = nullptr);
};

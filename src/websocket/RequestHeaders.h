#pragma once

#include "websocket/OptionProblem.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// Extra request headers of the opening handshake, typed one "Name: value" per
// line. Lines that cannot be sent as typed are problems, never dropped.
class RequestHeaders
{
public:
    using Header = QPair<QByteArray, QByteArray>;

    static RequestHeaders parse(const QString& text);

    // An HTTP token: what header names and subprotocols are made of.
    static bool isToken(QStringView text);
    // Headers the handshake writes itself (Host, Upgrade, Sec-WebSocket-Key...).
    static bool isHandshakeHeader(QStringView name);

    QList<Header> headers;
    QList<OptionProblem> problems;
    // Secret headers without a value: what is left of one whose value was not
    // remembered. An empty credential is never what the user meant to send.
    QStringList unkept;
};

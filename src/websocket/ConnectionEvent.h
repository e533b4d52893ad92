#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <utility>

// Something the connection layer has to report: what happened and its
// particulars, never a sentence (EventFormatter writes the log's text). Numbers
// from Qt's enums are kept as ints so that this stays on Qt Core alone.
struct ConnectionEvent
{
    enum class Code
    {
        // Client mode.
        // An address that is not tried, by what is wrong with it.
        AddressEmpty,
        AddressHasSpace,
        AddressBadScheme,
        AddressIpv6Unclosed,
        AddressAfterIpv6,
        AddressNoHost,
        AddressBadPort, // detail: the port when it is digits (else not quoted)
        AddressBadHost,
        AddressBadUserInfo,
        AddressBadPath,
        AddressBadQuery,
        AddressBadFragment,
        AddressInvalid,
        OptionsRefused,      // detail: the option problem
        Connecting,          // peer: the address, secrets masked
        Reconnecting,        // peer; attempt
        OptionsInUse,        // items: label, value (may be empty)
        HeaderNotKept,       // detail: the header's name
        SystemProxyNone,     // going direct by the system's choice
        SystemProxy,         // detail: "HTTP" or "SOCKS5"; peer: host; number: port
        SystemProxyUnusable, // peer: the proxy setting, secrets masked
        Connected,
        NoSubprotocol,
        Subprotocol, // detail: the chosen subprotocol
        Disconnected,
        ClosedWith,            // closeCode; detail: the close reason
        ConnectionError,       // socketError; detail: Qt's text, secrets masked
        UpgradeRefused,        // number: HTTP status; detail: its reason phrase
        CertificateError,      // detail: Qt's text
        CertificateIgnored,    // detail: Qt's text
        Pong,                  // number: round trip in µs
        HandshakeTimeout,      // number: seconds
        HeartbeatTimeout,      // number: seconds
        RetryScheduled,        // number: delay in ms; attempt
        RetryStoppedByClose,   // closeCode: one a retry cannot mend
        RetryStoppedByRefusal, // number: HTTP status a retry cannot mend
        RetryStoppedByAddress, // the address was edited
        AttemptCancelled,
        Closed,           // the user closed whatever ran
                          // Either mode: a peer that stopped reading and took up again.
        PeerStalled,      // peer; number: bytes pending
        PeerResumed,      // peer
                          // Server mode.
        ListenBadAddress, // detail: the address as set
        ListenTlsFilesMissing,
        ListenNoTls,
        ListenUnreadable,       // number: 0 certificate, 1 key; peer: path; detail: why
        ListenNotCertificate,   // peer: path
        ListenNotKey,           // peer: path
        ListenFailed,           // socketError; detail: Qt's text
        Listening,              // number: port; detail: path
        ListeningTls,           // as Listening, for wss
        ServerOptionsInUse,     // items: label, value
        ClientJoined,           // peer; detail: subprotocol (may be empty)
        ClientLeft,             // peer
        ClientClosedWith,       // peer; closeCode; detail: reason
        ClientPathRefused,      // peer; detail: the requested path
        ClientLimitReached,     // number: the limit
        ClientHandshakeTimeout, // peer; number: ms
        ClientTlsFailed,        // peer; detail: Qt's text
        AcceptFailed,           // detail: the system's text; number: seconds to the retry
        AcceptResumed,
        // Client mode speaking Socket.IO.
        SocketIoConnected,       // peer: namespace; detail: sid
        SocketIoRefused,         // peer: namespace; detail: the server's message
        SocketIoNamespaceClosed, // peer: namespace
        SocketIoAck,             // number: ack id; attempt: round trip in ms
        SocketIoPingTimeout,     // number: ms waited
        SocketIoUnreadable,      // detail: why the frame is no packet
    };

    static constexpr int noSocketError = -1;

    Code code = Code::Connected;
    QString peer;
    QString detail;
    qint64 number = 0;
    int attempt = 0;
    int closeCode = 0;               // QWebSocketProtocol::CloseCode
    int socketError = noSocketError; // QAbstractSocket::SocketError
    QList<std::pair<QString, QString>> items;

    ConnectionEvent() = default;
    explicit ConnectionEvent(Code c, const QString& p = QString(), const QString& d = QString(),
                             qint64 n = 0)
        : code(c)
        , peer(p)
        , detail(d)
        , number(n)
    {}
};

Q_DECLARE_METATYPE(ConnectionEvent)

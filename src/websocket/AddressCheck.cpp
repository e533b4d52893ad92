#include "websocket/AddressCheck.h"

#include "websocket/EventFormatter.h"

#include <QStringView>
#include <QUrl>

std::optional<ConnectionEvent> AddressCheck::fault(const QString& address)
{
    using Code = ConnectionEvent::Code;
    if (address.isEmpty())
        return ConnectionEvent(Code::AddressEmpty);
    for (const QChar c : address) {
        if (c.isSpace())
            return ConnectionEvent(Code::AddressHasSpace);
    }
    if (!address.startsWith(QStringLiteral("ws://"), Qt::CaseInsensitive) &&
        !address.startsWith(QStringLiteral("wss://"), Qt::CaseInsensitive))
        return ConnectionEvent(Code::AddressBadScheme);

    // Each part is checked on its own so that the text names it. Qt's own
    // error text is never shown: it quotes the whole address, password too.
    const qsizetype start = address.indexOf(QLatin1String("://")) + 3;
    qsizetype end = start;
    while (end < address.size() && !QStringView(u"/?#").contains(address[end]))
        ++end;
    const QString authority = address.mid(start, end - start);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userInfo = at < 0 ? QString() : authority.left(at);
    const QString hostPort = authority.mid(at + 1);
    QString host = hostPort;
    QString port;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return ConnectionEvent(Code::AddressIpv6Unclosed);
        host = hostPort.left(close + 1);
        const QString rest = hostPort.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return ConnectionEvent(Code::AddressAfterIpv6);
        port = rest.mid(1);
    } else if (const qsizetype colon = hostPort.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = hostPort.left(colon);
        port = hostPort.mid(colon + 1);
    }
    if (host.isEmpty())
        return ConnectionEvent(Code::AddressNoHost);
    if (!port.isEmpty()) {
        bool digits = port.size() <= 5;
        for (const QChar c : port)
            digits = digits && c >= u'0' && c <= u'9';
        const int number = digits ? port.toInt() : 0;
        // Only a number is quoted: other text there may be a password cut at a "/".
        if (number < 1 || number > 65535)
            return ConnectionEvent(Code::AddressBadPort, QString(), digits ? port : QString());
    }

    QUrl probe;
    probe.setScheme(QStringLiteral("ws"));
    probe.setHost(host, QUrl::StrictMode);
    if (!probe.isValid())
        return ConnectionEvent(Code::AddressBadHost);
    if (!userInfo.isEmpty()) {
        probe.setUserInfo(userInfo, QUrl::StrictMode);
        if (!probe.isValid())
            return ConnectionEvent(Code::AddressBadUserInfo);
    }
    const QString rest = address.mid(end);
    const qsizetype fragment = rest.indexOf(QLatin1Char('#'));
    const QString beforeFragment = rest.left(fragment);
    const qsizetype query = beforeFragment.indexOf(QLatin1Char('?'));
    probe.setPath(beforeFragment.left(query), QUrl::StrictMode);
    if (!probe.isValid())
        return ConnectionEvent(Code::AddressBadPath);
    if (query >= 0) {
        probe.setQuery(beforeFragment.mid(query + 1), QUrl::StrictMode);
        if (!probe.isValid())
            return ConnectionEvent(Code::AddressBadQuery);
    }
    if (fragment >= 0) {
        probe.setFragment(rest.mid(fragment + 1), QUrl::StrictMode);
        if (!probe.isValid())
            return ConnectionEvent(Code::AddressBadFragment);
    }
    if (!QUrl(address, QUrl::StrictMode).isValid())
        return ConnectionEvent(Code::AddressInvalid);
    return std::nullopt;
}

QString AddressCheck::problem(const QString& address)
{
    const std::optional<ConnectionEvent> found = fault(address);
    return found ? EventFormatter::text(*found) : QString();
}

#include "websocket/SecretMask.h"

#include <QStringList>
#include <QUrl>

bool SecretMask::isSecretName(QStringView name)
{
    static const char* const words[] = {"token",  "key",    "auth",    "pass",
                                        "secret", "cookie", "session", "credential"};
    for (const char* word : words) {
        if (name.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString SecretMask::address(const QString& address)
{
    const qsizetype schemeEnd = address.indexOf(QLatin1String("://"));
    const qsizetype authorityStart = schemeEnd < 0 ? 0 : schemeEnd + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < address.size() && !QStringView(u"/?#").contains(address[authorityEnd]))
        ++authorityEnd;

    QString out = address.left(authorityStart);
    const QString authority = address.mid(authorityStart, authorityEnd - authorityStart);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    out += at < 0 ? authority : mask() + authority.mid(at);

    const qsizetype queryStart = address.indexOf(QLatin1Char('?'), authorityEnd);
    const qsizetype fragmentStart = address.indexOf(QLatin1Char('#'), authorityEnd);
    if (queryStart < 0 || (fragmentStart >= 0 && fragmentStart < queryStart))
        return out + address.mid(authorityEnd);

    const qsizetype queryEnd = fragmentStart < 0 ? address.size() : fragmentStart;
    out += address.mid(authorityEnd, queryStart + 1 - authorityEnd);
    QStringList pairs = address.mid(queryStart + 1, queryEnd - queryStart - 1).split(u'&');
    for (QString& pair : pairs) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        // Names may be percent-encoded to slip past a plain comparison.
        if (equals > 0 && isSecretName(QUrl::fromPercentEncoding(pair.left(equals).toUtf8())))
            pair = pair.left(equals + 1) + mask();
    }
    return out + pairs.join(u'&') + address.mid(queryEnd);
}

QString SecretMask::headers(const QString& lines)
{
    QStringList out = lines.split(QLatin1Char('\n'));
    for (QString& line : out) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && isSecretName(QStringView(line).left(colon).trimmed()))
            line = line.left(colon + 1) + QLatin1Char(' ') + mask();
    }
    return out.join(QLatin1Char('\n'));
}

QString SecretMask::inText(const QString& text, const QString& address)
{
    if (address.isEmpty())
        return text;
    QString out = text;
    return out.replace(address, SecretMask::address(address));
}

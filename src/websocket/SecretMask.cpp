#include "websocket/SecretMask.h"

#include <QStringList>
#include <QUrl>

namespace {

// Where the parts of an address begin and end, found by the characters alone
// so that an address QUrl refuses is read the same way.
struct AddressParts
{
    qsizetype authorityStart = 0;
    qsizetype authorityEnd = 0;
    qsizetype at = -1; // the "@" ending the user info; -1 without one
    qsizetype queryStart = -1;
    qsizetype queryEnd = -1;
};

AddressParts partsOf(const QString& address)
{
    AddressParts p;
    const qsizetype schemeEnd = address.indexOf(QLatin1String("://"));
    p.authorityStart = schemeEnd < 0 ? 0 : schemeEnd + 3;
    p.authorityEnd = p.authorityStart;
    while (p.authorityEnd < address.size() &&
           !QStringView(u"/?#").contains(address[p.authorityEnd]))
        ++p.authorityEnd;
    const qsizetype at = QStringView(address)
                             .mid(p.authorityStart, p.authorityEnd - p.authorityStart)
                             .lastIndexOf(u'@');
    p.at = at < 0 ? -1 : p.authorityStart + at;
    const qsizetype queryStart = address.indexOf(QLatin1Char('?'), p.authorityEnd);
    const qsizetype fragmentStart = address.indexOf(QLatin1Char('#'), p.authorityEnd);
    if (queryStart >= 0 && (fragmentStart < 0 || queryStart < fragmentStart)) {
        p.queryStart = queryStart;
        p.queryEnd = fragmentStart < 0 ? address.size() : fragmentStart;
    }
    return p;
}

bool isSecretPair(const QString& pair)
{
    const qsizetype equals = pair.indexOf(QLatin1Char('='));
    // Names may be percent-encoded to slip past a plain comparison.
    return equals > 0 &&
           SecretMask::isSecretName(QUrl::fromPercentEncoding(pair.left(equals).toUtf8()));
}

} // namespace

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
    const AddressParts p = partsOf(address);
    QString out = address.left(p.authorityStart);
    out += p.at < 0 ? address.mid(p.authorityStart, p.authorityEnd - p.authorityStart)
                    : mask() + address.mid(p.at, p.authorityEnd - p.at);
    if (p.queryStart < 0)
        return out + address.mid(p.authorityEnd);

    out += address.mid(p.authorityEnd, p.queryStart + 1 - p.authorityEnd);
    QStringList pairs = address.mid(p.queryStart + 1, p.queryEnd - p.queryStart - 1).split(u'&');
    for (QString& pair : pairs) {
        if (isSecretPair(pair))
            pair = pair.left(pair.indexOf(QLatin1Char('=')) + 1) + mask();
    }
    return out + pairs.join(u'&') + address.mid(p.queryEnd);
}

QString SecretMask::withoutSecrets(const QString& address)
{
    const AddressParts p = partsOf(address);
    QString out = address.left(p.authorityStart);
    out += address.mid(p.at < 0 ? p.authorityStart : p.at + 1,
                       p.authorityEnd - (p.at < 0 ? p.authorityStart : p.at + 1));
    if (p.queryStart < 0)
        return out + address.mid(p.authorityEnd);

    out += address.mid(p.authorityEnd, p.queryStart - p.authorityEnd);
    QStringList kept;
    const QStringList pairs =
        address.mid(p.queryStart + 1, p.queryEnd - p.queryStart - 1).split(u'&');
    for (const QString& pair : pairs) {
        if (!isSecretPair(pair))
            kept.append(pair);
    }
    // A query left with nothing loses its "?" too.
    if (kept.size() != pairs.size())
        kept.removeAll(QString());
    if (!kept.isEmpty() || pairs.size() == kept.size())
        out += QLatin1Char('?') + kept.join(u'&');
    return out + address.mid(p.queryEnd);
}

QString SecretMask::withoutUserInfo(const QString& address)
{
    const AddressParts p = partsOf(address);
    qsizetype end = address.indexOf(QLatin1Char('?'), p.authorityStart);
    const qsizetype fragment = address.indexOf(QLatin1Char('#'), p.authorityStart);
    if (end < 0 || (fragment >= 0 && fragment < end))
        end = fragment;
    const qsizetype at =
        QStringView(address).left(end < 0 ? address.size() : end).lastIndexOf(u'@');
    return at < p.authorityStart ? address : address.left(p.authorityStart) + address.mid(at + 1);
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

QString SecretMask::headersWithoutSecrets(const QString& lines)
{
    QStringList out = lines.split(QLatin1Char('\n'));
    for (QString& line : out) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && isSecretName(QStringView(line).left(colon).trimmed()))
            line = line.left(colon + 1);
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

#include "websocket/RequestHeaders.h"

#include "websocket/SecretMask.h"

#include <QSet>
#include <QStringList>

bool RequestHeaders::isToken(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || QStringView(u"!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

bool RequestHeaders::isHandshakeHeader(QStringView name)
{
    // Qt writes these (Origin and Sec-WebSocket-Protocol from their own
    // options); a second copy would make the request ambiguous.
    static const char* const own[] = {"Host",
                                      "Upgrade",
                                      "Connection",
                                      "Origin",
                                      "Content-Length",
                                      "Transfer-Encoding",
                                      "Sec-WebSocket-Key",
                                      "Sec-WebSocket-Version",
                                      "Sec-WebSocket-Extensions",
                                      "Sec-WebSocket-Protocol",
                                      "Sec-WebSocket-Accept"};
    for (const char* header : own) {
        if (name.compare(QLatin1String(header), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

RequestHeaders RequestHeaders::parse(const QString& text)
{
    RequestHeaders result;
    QSet<QString> seen;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const QString number = QString::number(i + 1);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0) {
            result.problems.append(
                {QStringLiteral("第 %1 行：缺少冒号，应为 Name: value"), {number}});
            continue;
        }
        const QString name = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        if (!isToken(name)) {
            result.problems.append({QStringLiteral("第 %1 行：名称 %2 无效"), {number, name}});
            continue;
        }
        if (isHandshakeHeader(name)) {
            result.problems.append(
                {QStringLiteral("第 %1 行：%2 由握手本身设置，不能覆盖"), {number, name}});
            continue;
        }
        bool printable = true;
        for (const QChar c : value)
            printable = printable && (c == u'\t' || (c.unicode() >= 0x20 && c.unicode() < 0x7F));
        if (!printable) {
            result.problems.append(
                {QStringLiteral("第 %1 行：值只能含可见的 ASCII 字符"), {number}});
            continue;
        }
        if (seen.contains(name.toLower())) {
            result.problems.append({QStringLiteral("第 %1 行：%2 重复"), {number, name}});
            continue;
        }
        seen.insert(name.toLower());
        if (value.isEmpty() && SecretMask::isSecretName(name)) {
            result.unkept.append(name);
            continue;
        }
        result.headers.append({name.toLatin1(), value.toLatin1()});
    }
    return result;
}

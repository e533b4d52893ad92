#include "comm/HexText.h"

#include <array>

namespace {

struct HexPairs
{
    std::array<char16_t, 512> chars{};
    HexPairs()
    {
        constexpr char digits[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            chars[2 * b] = char16_t(digits[b >> 4]);
            chars[2 * b + 1] = char16_t(digits[b & 0xF]);
        }
    }
};

const HexPairs& hexPairs()
{
    // Function-local static: built once, thread-safe since C++11.
    static const HexPairs table;
    return table;
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QString bytesToHex(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    if (n == 0)
        return QString();
    const auto& table = hexPairs().chars;
    QString out(3 * n - 1, Qt::Uninitialized);
    QChar* dst = out.data();
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0)
            *dst++ = QLatin1Char(' ');
        *dst++ = QChar(table[2 * src[i]]);
        *dst++ = QChar(table[2 * src[i] + 1]);
    }
    return out;
}

bool isValidHex(const QString& text)
{
    qsizetype digits = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('-'))
            continue;
        if (hexDigitValue(c) < 0)
            return false;
        ++digits;
    }
    return digits > 0 && digits % 2 == 0;
}

QString hexProblem(const QString& text)
{
    qsizetype digits = 0;
    qsizetype position = 0; // in characters as the user counts them, not UTF-16 units
    for (qsizetype i = 0; i < text.size(); ++i) {
        ++position;
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('-'))
            continue;
        if (hexDigitValue(c) >= 0) {
            ++digits;
            continue;
        }
        char32_t code = c.unicode();
        QString shown(c);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text.at(i + 1));
            shown = text.mid(i, 2);
        }
        // A tab or line break between quotes would read as nothing at all.
        if (!QChar::isPrint(code) || QChar::isSpace(code))
            shown = QStringLiteral("U+%1").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper();
        else
            shown = QLatin1Char('\'') + shown + QLatin1Char('\'');
        return QStringLiteral("第 %1 个字符 %2").arg(position).arg(shown);
    }
    if (digits == 0)
        return QStringLiteral("没有十六进制数字");
    if (digits % 2 != 0)
        return QStringLiteral("十六进制位数为奇数");
    return QString();
}

QByteArray hexToBytes(const QString& text)
{
    qsizetype digits = 0;
    for (const QChar c : text) {
        if (hexDigitValue(c) >= 0)
            ++digits;
    }
    if (digits == 0 || digits % 2 != 0)
        return QByteArray();

    QByteArray out(digits / 2, Qt::Uninitialized);
    qsizetype pos = 0;
    int high = -1;
    for (const QChar c : text) {
        const int v = hexDigitValue(c);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out[pos++] = char((high << 4) | v);
            high = -1;
        }
    }
    return out;
}

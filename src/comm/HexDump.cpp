#include "comm/HexDump.h"

#include <algorithm>

namespace {

// "00000000  ", 16 × "XX " with one more space after the eighth, another
// space, then "|" + 16 characters + "|\n".
constexpr int kHexColumn = 10;
constexpr int kAsciiColumn = kHexColumn + HexDump::bytesPerLine * 3 + 2;
constexpr int kLineChars = kAsciiColumn + HexDump::bytesPerLine + 3;

constexpr char kDigits[] = "0123456789ABCDEF";

} // namespace

QString HexDump::format(const QByteArray& bytes, qsizetype from, qsizetype count)
{
    from = std::clamp<qsizetype>(from, 0, bytes.size()) / bytesPerLine * bytesPerLine;
    const qsizetype end =
        count < 0 ? bytes.size() : std::min<qsizetype>(bytes.size(), from + count);
    if (end <= from)
        return QString();

    const qsizetype lines = (end - from + bytesPerLine - 1) / bytesPerLine;
    // Every line is formed in place in one allocation: a dump of 16 MiB has
    // a million lines.
    QString out(lines * kLineChars, QLatin1Char(' '));
    QChar* line = out.data();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    for (qsizetype start = from; start < end; start += bytesPerLine, line += kLineChars) {
        quint32 offset = quint32(start);
        for (int i = 7; i >= 0; --i, offset >>= 4)
            line[i] = QLatin1Char(kDigits[offset & 0xF]);
        const int n = int(std::min<qsizetype>(bytesPerLine, end - start));
        int ascii = kAsciiColumn;
        line[ascii++] = QLatin1Char('|');
        for (int i = 0; i < n; ++i) {
            const uchar byte = data[start + i];
            const int at = kHexColumn + i * 3 + (i >= 8 ? 1 : 0);
            line[at] = QLatin1Char(kDigits[byte >> 4]);
            line[at + 1] = QLatin1Char(kDigits[byte & 0xF]);
            line[ascii++] = QLatin1Char(byte >= 0x20 && byte < 0x7F ? char(byte) : '.');
        }
        line[ascii++] = QLatin1Char('|');
        line[ascii++] = QLatin1Char('\n');
        // A short last line ends after its ASCII column.
        if (n < bytesPerLine)
            out.truncate(line - out.constData() + ascii);
    }
    return out;
}

// Hexadecimal text: what the send box accepts and what the log shows.
#include "comm/HexText.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "hex invariant broken: %s\n", what);
        std::abort();
    }
}

int digitValue(char16_t u)
{
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// A slow, obviously right reading of the text to hold the real one against.
void checkText(const QString& text)
{
    QByteArray expected;
    int high = -1;
    qsizetype digits = 0;
    bool onlySeparators = true;
    for (const QChar c : text) {
        const int v = digitValue(c.unicode());
        if (v < 0) {
            if (c != QLatin1Char(' ') && c != QLatin1Char('-'))
                onlySeparators = false;
            continue;
        }
        ++digits;
        if (high < 0) {
            high = v;
        } else {
            expected.append(char((high << 4) | v));
            high = -1;
        }
    }
    const bool pairs = digits > 0 && digits % 2 == 0;

    const QByteArray bytes = hexToBytes(text);
    check(bytes == (pairs ? expected : QByteArray()),
          "hexToBytes pairs every digit, or gives nothing");
    check(isValidHex(text) == (pairs && onlySeparators),
          "isValidHex accepts digit pairs and separators");
    const QString problem = hexProblem(text);
    check(problem.isEmpty() == isValidHex(text), "a problem is named exactly for invalid text");
    check(problem.size() < 64, "the problem names one character, not the text");

    if (isValidHex(text)) {
        // What the log shows for accepted input reads back as the same bytes.
        const QString shown = bytesToHex(bytes);
        check(shown.size() == 3 * bytes.size() - 1, "bytesToHex length");
        check(hexToBytes(shown) == bytes, "valid text survives a show and re-read");
    }
}

void checkBytes(const QByteArray& bytes)
{
    const QString text = bytesToHex(bytes);
    if (bytes.isEmpty()) {
        check(text.isEmpty(), "no bytes, no text");
        check(!isValidHex(text), "empty text is not valid hex");
        return;
    }
    check(text.size() == 3 * bytes.size() - 1, "two digits per byte, one blank between");
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (i % 3 == 2)
            check(u == u' ', "single blank separators");
        else
            check((u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F'), "upper-case digits");
    }
    check(isValidHex(text), "shown bytes are valid hex");
    check(hexToBytes(text) == bytes, "bytes survive a round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkBytes(bytes);

    // Typed text arrives as UTF-16; read the input three ways so that digits,
    // separators and characters beyond Latin-1 (full-width digits) all occur.
    checkText(QString::fromUtf8(bytes));
    checkText(QString::fromLatin1(bytes));
    QString utf16(qsizetype(size / 2), Qt::Uninitialized);
    if (size >= 2) // the input may be unaligned for char16_t
        std::memcpy(utf16.data(), data, size / 2 * sizeof(char16_t));
    checkText(utf16);
    return 0;
}

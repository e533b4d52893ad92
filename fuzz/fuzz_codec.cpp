// Received bytes under every encoding the window offers, plus the empty name,
// an unknown one and, when the input starts with one, a name of its own.
#include "comm/CommunicationBase.h"
#include "comm/TextCodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what, const QString& encoding)
{
    if (!condition) {
        std::fprintf(stderr, "codec invariant broken under \"%s\": %s\n",
                     encoding.toUtf8().constData(), what);
        std::abort();
    }
}

bool isAscii(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

void checkEncoding(const QByteArray& bytes, const QString& name)
{
    const QString text = decodeBytes(bytes, name);
    const QByteArray again = encodeText(text, name);
    if (bytes.isEmpty()) {
        check(text.isEmpty() && again.isEmpty(), "nothing decodes to nothing", name);
        return;
    }

    // Names from the input may be real converters; only the fixed ones have
    // known results. An unknown name means UTF-8.
    const QString unknown = QStringLiteral("x-no-such-encoding");
    const bool fixed =
        name.isEmpty() || name == unknown || CommunicationBase::supportedEncodings().contains(name);
    const bool utf8 = name.isEmpty() || name == QLatin1String("UTF-8") || name == unknown;
    const bool latin1 = name == QLatin1String("ASCII");
    const bool utf16 = name == QLatin1String("Unicode");

    if (utf8)
        check(text == QString::fromUtf8(bytes), "UTF-8 decoding", name);
    if (latin1) {
        check(text.size() == bytes.size(), "one character per byte", name);
        check(again == bytes, "bytes survive a round trip", name);
    }
    bool marked = false;
    if (utf16) {
        marked = bytes.size() >= 2 && ((uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE) ||
                                       (uchar(bytes[0]) == 0xFE && uchar(bytes[1]) == 0xFF));
        const qsizetype units = (bytes.size() & ~qsizetype(1)) - (marked ? 2 : 0);
        check(text.size() == units / 2, "one character per byte pair", name);
        if (!marked)
            check(again == bytes.left(units), "bytes survive a round trip", name);
    }

    // Plain ASCII reads the same under every offered byte encoding: nothing
    // may be added at the end (a pending character) or dropped.
    if (fixed && !utf16 && isAscii(bytes))
        check(text == QString::fromLatin1(bytes), "ASCII text unchanged", name);

    // Bytes called clean text are all there in the text: written out, they
    // come back byte for byte.
    if (decodesCleanly(bytes, name) && (utf8 || latin1 || (utf16 && !marked)))
        check(again == bytes, "clean text keeps every byte", name);

    // Text taken in reads back the same once written out. A leading U+FEFF or
    // U+FFFE is written as a byte-order mark and read as one, by design.
    const bool leadingMark = text.startsWith(QChar(0xFEFF)) || text.startsWith(QChar(0xFFFE));
    const bool replaced = text.contains(QChar::ReplacementCharacter) || text.contains(QChar(0x1A));
    if (utf8 || latin1 || (utf16 && !leadingMark) || (fixed && !utf16 && !replaced))
        check(decodeBytes(again, name) == text, "decoded text survives a round trip", name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));

    QStringList names = CommunicationBase::supportedEncodings();
    names << QString() << QStringLiteral("x-no-such-encoding");
    for (const QString& name : std::as_const(names))
        checkEncoding(input, name);

    // "name\0bytes": any converter name the platform may know.
    const qsizetype nul = input.indexOf('\0');
    if (nul > 0 && nul <= 40)
        checkEncoding(input.mid(nul + 1), QString::fromLatin1(input.left(nul)));
    return 0;
}

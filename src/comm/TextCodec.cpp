#include "comm/TextCodec.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace {

QString decodeUtf16(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    qsizetype n = bytes.size() & ~qsizetype(1); // an odd last byte is dropped
    bool bigEndian = false;
    qsizetype i = 0;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        i = 2;
    } else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
        bigEndian = true;
        i = 2;
    }
    QString out((n - i) / 2, Qt::Uninitialized);
    QChar* dst = out.data();
    for (; i < n; i += 2) {
        const char16_t unit =
            bigEndian ? char16_t((p[i] << 8) | p[i + 1]) : char16_t((p[i + 1] << 8) | p[i]);
        *dst++ = QChar(unit);
    }
    return out;
}

QByteArray encodeUtf16LittleEndian(const QString& text)
{
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* dst = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = char(u & 0xFF);
        *dst++ = char(u >> 8);
    }
    return out;
}

} // namespace

QString decodeBytes(const QByteArray& bytes, const QString& encodingName)
{
    if (bytes.isEmpty())
        return QString();
    if (encodingName.isEmpty() || encodingName == u"UTF-8")
        return QString::fromUtf8(bytes);
    if (encodingName == u"ASCII")
        return QString::fromLatin1(bytes);
    if (encodingName == u"Unicode")
        return decodeUtf16(bytes);

    // A fresh decoder per call: a character split across two frames is not
    // joined, but one frame never leaks state into the next.
    QStringDecoder decoder(encodingName.toLatin1().constData());
    if (!decoder.isValid())
        return QString::fromUtf8(bytes);
    QString text = decoder.decode(bytes);
    // A character cut off at the end of the frame stays pending in the
    // decoder and would vanish from the text; a line feed pushes it out as a
    // replacement character, as UTF-8 decoding shows it.
    QString tail = decoder.decode(QByteArrayView("\n", 1));
    if (tail.endsWith(QLatin1Char('\n'))) {
        tail.chop(1);
        // Some converters substitute U+001A; show the same mark as UTF-8.
        tail.replace(QChar(0x1A), QChar::ReplacementCharacter);
        text += tail;
    }
    return text;
}

bool decodesCleanly(const QByteArray& bytes, const QString& encodingName)
{
    // UTF-16 drops an odd last byte.
    if (encodingName == u"Unicode" && bytes.size() % 2 != 0)
        return false;
    const QString text = decodeBytes(bytes, encodingName);
    for (const QChar c : text) {
        if (c == QChar::ReplacementCharacter)
            return false;
        if (c.category() == QChar::Other_Control && c != u'\t' && c != u'\r' && c != u'\n')
            return false;
    }
    return true;
}

QByteArray encodeText(const QString& text, const QString& encodingName)
{
    if (text.isEmpty())
        return QByteArray();
    if (encodingName.isEmpty() || encodingName == u"UTF-8")
        return text.toUtf8();
    if (encodingName == u"ASCII")
        return text.toLatin1();
    if (encodingName == u"Unicode")
        return encodeUtf16LittleEndian(text);

    QStringEncoder encoder(encodingName.toLatin1().constData());
    if (!encoder.isValid())
        return text.toUtf8();
    return encoder.encode(text);
}

QString decodePrefix(const QByteArray& bytes, const QString& encodingName, qsizetype maxChars,
                     bool* more)
{
    // No encoding takes more than four bytes for a character, so a prefix of
    // this many bytes gives more than maxChars characters whenever it is cut
    // short; the characters before the cut are those of the whole.
    const qsizetype prefixBytes = 4 * maxChars + 8;
    if (bytes.size() > prefixBytes) {
        const QString prefix = decodeBytes(bytes.left(prefixBytes), encodingName);
        if (prefix.size() > maxChars) {
            *more = true;
            return prefix.left(maxChars);
        }
    }
    const QString whole = decodeBytes(bytes, encodingName);
    *more = whole.size() > maxChars;
    return *more ? whole.left(maxChars) : whole;
}

namespace {

struct EncodingNames
{
    QMutex mutex;
    // 0 UTF-8 (also the empty and every unknown name), 1 ASCII, 2 Unicode.
    QStringList names{QStringLiteral("UTF-8"), QStringLiteral("ASCII"), QStringLiteral("Unicode")};
};

EncodingNames& encodingNames()
{
    static EncodingNames table;
    return table;
}

} // namespace

quint16 encodingId(const QString& encodingName)
{
    // Every frame asks, nearly always with the default name: spare it the lock.
    if (encodingName.isEmpty() || encodingName == QLatin1String("UTF-8"))
        return 0;

    quint16 id = 0;
    {
        EncodingNames& table = encodingNames();
        QMutexLocker lock(&table.mutex);
        const qsizetype known = table.names.indexOf(encodingName);
        if (known >= 0) {
            id = quint16(known);
        } else if (QStringDecoder(encodingName.toLatin1().constData()).isValid() &&
                   table.names.size() < 0xFFFF) {
            table.names.append(encodingName);
            id = quint16(table.names.size() - 1);
        }
    }
    return id;
}

QString encodingNameOf(quint16 id)
{
    static const QString fixed[] = {QStringLiteral("UTF-8"), QStringLiteral("ASCII"),
                                    QStringLiteral("Unicode")};
    if (id < 3)
        return fixed[id];
    EncodingNames& table = encodingNames();
    QMutexLocker lock(&table.mutex);
    return table.names.value(id, table.names.first());
}

QByteArray compactUtf8(const QString& text)
{
    const qsizetype size = text.size();
    const QChar* chars = text.constData();
    qsizetype i = 0;
    while (i < size && chars[i].unicode() < 0x80)
        ++i;
    if (i == size) {
        // ASCII, the usual case: one allocation of the right size.
        QByteArray out(size, Qt::Uninitialized);
        char* bytes = out.data();
        for (qsizetype k = 0; k < size; ++k)
            bytes[k] = char(chars[k].unicode());
        return out;
    }
    const QByteArray wide = text.toUtf8();
    return QByteArray(wide.constData(), wide.size());
}

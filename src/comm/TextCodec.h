#pragma once

#include <QByteArray>
#include <QString>

// Text of received or sent bytes under an encoding name: "UTF-8" (or empty),
// "ASCII" (Latin-1), "Unicode" (UTF-16, little-endian unless a byte-order
// mark says otherwise) or any name the converter registry knows; an unknown
// name means UTF-8.
QString decodeBytes(const QByteArray& bytes, const QString& encodingName);

// Whether decodeBytes(bytes, encodingName) is the bytes' text, with no
// replacement character, no control character but tab, CR and LF, and no
// byte dropped: bytes that are not text in that encoding are lost in it.
bool decodesCleanly(const QByteArray& bytes, const QString& encodingName);

// The inverse of decodeBytes for the same names; "ASCII" turns characters
// above U+00FF into '?', "Unicode" writes little-endian without a mark.
QByteArray encodeText(const QString& text, const QString& encodingName);

// The first `maxChars` characters of decodeBytes(bytes, encodingName), decoded
// from a prefix of the bytes where that is enough; `more` tells whether the
// whole text is longer.
QString decodePrefix(const QByteArray& bytes, const QString& encodingName, qsizetype maxChars,
                     bool* more);

// A small number for an encoding name, so that entries need not keep the name:
// names that decode alike share one (every unknown name means UTF-8).
quint16 encodingId(const QString& encodingName);
QString encodingNameOf(quint16 id);

// The UTF-8 of `text` in a block of its own size: toUtf8 reserves three bytes
// a character, which a log of a hundred thousand short texts would keep.
QByteArray compactUtf8(const QString& text);

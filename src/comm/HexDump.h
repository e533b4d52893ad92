#pragma once

#include <QByteArray>
#include <QString>

// The classic dump of bytes: per line of 16, the offset as eight hexadecimal
// digits, the bytes in hexadecimal (a wider gap after the eighth) and the
// same bytes as ASCII, with a point for anything unprintable:
//   00000000  48 65 6C 6C 6F 0A                                 |Hello.|
class HexDump
{
public:
    static constexpr int bytesPerLine = 16;

    // The lines of `count` bytes from `from` (both rounded to whole lines
    // except at the end), each ending in a line feed.
    static QString format(const QByteArray& bytes, qsizetype from = 0, qsizetype count = -1);

    HexDump() = delete;
};

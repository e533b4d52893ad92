#pragma once

#include <QByteArray>
#include <QString>

// "48 65 0A": upper-case digit pairs separated by single spaces.
QString bytesToHex(const QByteArray& bytes);

// True for hexadecimal digits with blanks and hyphens as separators, at least
// one digit and an even number of them.
bool isValidHex(const QString& text);

// Pairs the hexadecimal digits of the text into bytes, ignoring everything
// else; an odd or zero digit count gives no bytes.
QByteArray hexToBytes(const QString& text);

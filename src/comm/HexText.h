#pragma once

#include <QByteArray>
#include <QString>

// "48 65 0A": upper-case digit pairs separated by single spaces.
QString bytesToHex(const QByteArray& bytes);

// True for hexadecimal digits with blanks and hyphens as separators, at least
// one digit and an even number of them.
bool isValidHex(const QString& text);

// Why the text is not valid hexadecimal, for the user to find it: the first
// character that is neither a digit nor a separator ("第 3 个字符 'z'"), an odd
// digit count, or no digits at all. Empty for valid text.
QString hexProblem(const QString& text);

// Pairs the hexadecimal digits of the text into bytes, ignoring everything
// else; an odd or zero digit count gives no bytes.
QByteArray hexToBytes(const QString& text);

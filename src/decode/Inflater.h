#pragma once

#include <QByteArray>

// gzip, zlib and raw deflate inflated with the system's zlib, within a bound
// on the inflated size and, past the first mebibyte, on the ratio to the
// compressed size (a "zip bomb" stops rather than filling the memory).
class Inflater
{
public:
    enum class Format
    {
        None,
        Gzip,
        Zlib,
        Raw
    };
    enum class Status
    {
        Ok,
        // Not that format, or corrupt.
        Corrupt,
        // The stream ends before its end marker.
        Truncated,
        TooLarge,
        TooDense,
        // Bytes after the end of the stream.
        Trailing
    };

    // The format the first bytes announce (gzip's magic, zlib's checked
    // header); raw deflate has none and is never announced.
    static Format sniff(const QByteArray& bytes);
    static Status inflate(const QByteArray& bytes, Format format, qint64 maxBytes, qint64 maxRatio,
                          QByteArray* out);

    Inflater() = delete;
};

#include "decode/Inflater.h"

#include <zlib.h>

Inflater::Format Inflater::sniff(const QByteArray& bytes)
{
    if (bytes.size() < 2)
        return Format::None;
    const quint8 a = quint8(bytes.at(0));
    const quint8 b = quint8(bytes.at(1));
    if (a == 0x1f && b == 0x8b)
        return Format::Gzip;
    // Deflate with a window of at most 32 KiB, no preset dictionary, and the
    // header's check bits right.
    if ((a & 0x0f) == 8 && (a >> 4) <= 7 && !(b & 0x20) && (a * 256 + b) % 31 == 0)
        return Format::Zlib;
    return Format::None;
}

Inflater::Status Inflater::inflate(const QByteArray& bytes, Format format, qint64 maxBytes,
                                   qint64 maxRatio, QByteArray* out)
{
    out->clear();
    if (format == Format::None || bytes.isEmpty())
        return Status::Corrupt;
    z_stream stream{};
    const int windowBits = format == Format::Gzip   ? 16 + MAX_WBITS
                           : format == Format::Zlib ? MAX_WBITS
                                                    : -MAX_WBITS;
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return Status::Corrupt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    constexpr qint64 kChunk = 64 * 1024;
    constexpr qint64 kRatioFrom = 1024 * 1024;
    Status status = Status::Ok;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (out->size() >= maxBytes) {
            status = Status::TooLarge;
            break;
        }
        const qint64 consumed = bytes.size() - qint64(stream.avail_in);
        if (out->size() > kRatioFrom && out->size() > maxRatio * std::max<qint64>(consumed, 1)) {
            status = Status::TooDense;
            break;
        }
        const qsizetype before = out->size();
        const qint64 room = std::min(kChunk, maxBytes - before);
        out->resize(before + room);
        stream.next_out = reinterpret_cast<Bytef*>(out->data() + before);
        stream.avail_out = uInt(room);
        rc = ::inflate(&stream, Z_NO_FLUSH);
        out->resize(before + (room - qint64(stream.avail_out)));
        if (rc == Z_BUF_ERROR && stream.avail_in == 0) {
            status = Status::Truncated;
            break;
        }
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            status = Status::Corrupt;
            break;
        }
    }
    if (status == Status::Ok && stream.avail_in != 0)
        status = Status::Trailing;
    inflateEnd(&stream);
    if (status != Status::Ok)
        out->clear();
    return status;
}

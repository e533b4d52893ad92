#include "decode/MessagePack.h"

#include "decode/DecodeProblem.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

const QString kName = QStringLiteral("MessagePack");
// The text of a key that is no string is cut past this many characters.
constexpr qsizetype kMaxKeyChars = 256;

class Reader
{
public:
    Reader(const QByteArray& bytes, const DecodeLimits& limits)
        : m_data(reinterpret_cast<const quint8*>(bytes.constData()))
        , m_size(bytes.size())
        , m_limits(limits)
    {}

    QJsonValue readAll()
    {
        QJsonValue value = read(0);
        if (ok() && m_at < m_size)
            fail(m_at, QStringLiteral("之后还有 %1 字节不属于这个值"),
                 {QString::number(m_size - m_at)});
        return value;
    }

    bool ok() const { return m_problem.isEmpty(); }
    bool exact() const { return m_exact; }
    const QString& problem() const { return m_problem; }

private:
    void fail(qint64 at, const QString& why, const QStringList& args = {})
    {
        if (m_problem.isEmpty())
            m_problem = DecodeProblem::at(kName, at, why, args);
    }

    // `n` more bytes, or a message saying the frame ends first.
    bool have(quint64 n, qint64 from)
    {
        if (n <= quint64(m_size - m_at))
            return true;
        fail(from, QStringLiteral("长度 %1 超出帧长度"), {QString::number(n)});
        return false;
    }

    template<typename T> T take()
    {
        T value = qFromBigEndian<T>(m_data + m_at);
        m_at += sizeof(T);
        return value;
    }

    // A length of `width` bytes at the reader, whatever its meaning.
    bool length(int width, quint64* n)
    {
        if (!have(width, m_at - 1))
            return false;
        *n = width == 1 ? take<quint8>() : width == 2 ? take<quint16>() : take<quint32>();
        return true;
    }

    QJsonValue bytesValue(quint64 n, qint64 from)
    {
        if (!have(n, from))
            return {};
        const QByteArray bytes(reinterpret_cast<const char*>(m_data + m_at), qsizetype(n));
        m_at += qint64(n);
        m_exact = false;
        return QString::fromLatin1(bytes.toHex());
    }

    QJsonValue text(quint64 n, qint64 from)
    {
        if (!have(n, from))
            return {};
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString s = utf8(QByteArrayView(m_data + m_at, qsizetype(n)));
        if (utf8.hasError()) {
            fail(from, QStringLiteral("字符串不是有效的 UTF-8"));
            return {};
        }
        m_at += qint64(n);
        return s;
    }

    QJsonValue array(quint64 n, qint64 from, int depth)
    {
        // Each member takes a byte at least.
        if (!have(n, from))
            return {};
        QJsonArray array;
        for (quint64 k = 0; k < n && ok(); ++k)
            array.append(read(depth + 1));
        return array;
    }

    QJsonValue map(quint64 n, qint64 from, int depth)
    {
        if (!have(n * 2, from))
            return {};
        DecodedFrame::Members members;
        for (quint64 k = 0; k < n && ok(); ++k) {
            const QJsonValue key = read(depth + 1);
            if (!ok())
                break;
            QString name;
            if (key.isString()) {
                name = key.toString();
            } else {
                m_exact = false;
                name = QString::fromUtf8(
                    QJsonDocument(QJsonArray{key}).toJson(QJsonDocument::Compact));
                name = name.mid(1, name.size() - 2);
                // A key of keys is escaped again at each level, doubling its
                // backslashes: a few nested maps as keys would fill the memory.
                if (name.size() > kMaxKeyChars)
                    name = name.left(kMaxKeyChars) + QChar(0x2026);
            }
            QJsonValue value = read(depth + 1);
            members.append({name, std::move(value)});
        }
        return DecodedFrame::objectOf(std::move(members));
    }

    QJsonValue timestamp(const quint8* p, quint64 size, qint64 from)
    {
        qint64 seconds = 0;
        quint32 nanos = 0;
        if (size == 4) {
            seconds = qFromBigEndian<quint32>(p);
        } else if (size == 8) {
            const quint64 both = qFromBigEndian<quint64>(p);
            nanos = quint32(both >> 34);
            seconds = qint64(both & 0x3FFFFFFFFull);
        } else if (size == 12) {
            nanos = qFromBigEndian<quint32>(p);
            seconds = qFromBigEndian<qint64>(p + 4);
        } else {
            fail(from, QStringLiteral("时间戳扩展的长度 %1 无效"), {QString::number(size)});
            return {};
        }
        if (nanos > 999999999) {
            fail(from, QStringLiteral("时间戳的纳秒 %1 超出范围"), {QString::number(nanos)});
            return {};
        }
        // Beyond what a date can show (years past 9999): the numbers as they came.
        constexpr qint64 lastSecond = 253402300799;
        constexpr qint64 firstSecond = -62135596800;
        if (seconds < firstSecond || seconds > lastSecond) {
            m_exact = false;
            return QJsonObject{{QStringLiteral("seconds"), seconds},
                               {QStringLiteral("nanoseconds"), qint64(nanos)}};
        }
        const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
        return QString(time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.")) +
                       QStringLiteral("%1Z").arg(nanos, 9, 10, QLatin1Char('0')));
    }

    QJsonValue ext(quint64 size, qint64 from)
    {
        if (!have(1, from))
            return {};
        const qint8 type = qint8(take<quint8>());
        if (!have(size, from))
            return {};
        const quint8* p = m_data + m_at;
        m_at += qint64(size);
        if (type == -1)
            return timestamp(p, size, from);
        m_exact = false;
        const QByteArray data(reinterpret_cast<const char*>(p), qsizetype(size));
        return QJsonObject{{QStringLiteral("ext"), int(type)},
                           {QStringLiteral("data"), QString::fromLatin1(data.toHex())}};
    }

    QJsonValue unsignedValue(quint64 n)
    {
        if (n <= quint64(std::numeric_limits<qint64>::max()))
            return qint64(n);
        // A double would round it: the digits keep it whole.
        m_exact = false;
        return QString::number(n);
    }

    QJsonValue read(int depth)
    {
        if (!ok())
            return {};
        if (depth > m_limits.maxDepth) {
            fail(m_at, QStringLiteral("嵌套超过 %1 层"), {QString::number(m_limits.maxDepth)});
            return {};
        }
        if (++m_items > m_limits.maxItems) {
            fail(m_at, QStringLiteral("值的个数超过 %1"), {QString::number(m_limits.maxItems)});
            return {};
        }
        if (!have(1, m_at))
            return {};
        const qint64 from = m_at;
        const quint8 b = m_data[m_at++];
        quint64 n = 0;
        if (b <= 0x7f)
            return int(b);
        if (b >= 0xe0)
            return int(qint8(b));
        if (b <= 0x8f)
            return map(b & 0x0f, from, depth);
        if (b <= 0x9f)
            return array(b & 0x0f, from, depth);
        if (b <= 0xbf)
            return text(b & 0x1f, from);
        switch (b) {
        case 0xc0:
            return QJsonValue(QJsonValue::Null);
        case 0xc2:
            return false;
        case 0xc3:
            return true;
        case 0xc4:
        case 0xc5:
        case 0xc6:
            return length(1 << (b - 0xc4), &n) ? bytesValue(n, from) : QJsonValue();
        case 0xc7:
        case 0xc8:
        case 0xc9:
            return length(1 << (b - 0xc7), &n) ? ext(n, from) : QJsonValue();
        case 0xca: {
            if (!have(4, from))
                return {};
            const quint32 bits = take<quint32>();
            float f;
            std::memcpy(&f, &bits, 4);
            return number(f);
        }
        case 0xcb: {
            if (!have(8, from))
                return {};
            const quint64 bits = take<quint64>();
            double d;
            std::memcpy(&d, &bits, 8);
            return number(d);
        }
        case 0xcc:
            return have(1, from) ? QJsonValue(int(take<quint8>())) : QJsonValue();
        case 0xcd:
            return have(2, from) ? QJsonValue(int(take<quint16>())) : QJsonValue();
        case 0xce:
            return have(4, from) ? QJsonValue(qint64(take<quint32>())) : QJsonValue();
        case 0xcf:
            return have(8, from) ? unsignedValue(take<quint64>()) : QJsonValue();
        case 0xd0:
            return have(1, from) ? QJsonValue(int(take<qint8>())) : QJsonValue();
        case 0xd1:
            return have(2, from) ? QJsonValue(int(take<qint16>())) : QJsonValue();
        case 0xd2:
            return have(4, from) ? QJsonValue(qint64(take<qint32>())) : QJsonValue();
        case 0xd3:
            return have(8, from) ? QJsonValue(take<qint64>()) : QJsonValue();
        case 0xd4:
        case 0xd5:
        case 0xd6:
        case 0xd7:
        case 0xd8:
            return ext(quint64(1) << (b - 0xd4), from);
        case 0xd9:
        case 0xda:
        case 0xdb:
            return length(1 << (b - 0xd9), &n) ? text(n, from) : QJsonValue();
        case 0xdc:
        case 0xdd:
            return length(b == 0xdc ? 2 : 4, &n) ? array(n, from, depth) : QJsonValue();
        case 0xde:
        case 0xdf:
            return length(b == 0xde ? 2 : 4, &n) ? map(n, from, depth) : QJsonValue();
        default:
            fail(from, QStringLiteral("类型字节 0x%1 无效"),
                 {QString::number(b, 16).rightJustified(2, QLatin1Char('0'))});
            return {};
        }
    }

    QJsonValue number(double d)
    {
        if (std::isfinite(d))
            return d;
        m_exact = false;
        return QJsonValue(QJsonValue::Null);
    }

    const quint8* m_data;
    qint64 m_size;
    qint64 m_at = 0;
    DecodeLimits m_limits;
    qint64 m_items = 0;
    bool m_exact = true;
    QString m_problem;
};

void putHead(QByteArray& out, quint8 fix, quint8 fixLimit, quint8 first, quint64 n)
{
    // fix forms, then the 8-, 16- and 32-bit forms (first, first+1, first+2).
    if (n < fixLimit) {
        out.append(char(fix | n));
        return;
    }
    if (first != 0 && n <= 0xff) {
        out.append(char(first));
        out.append(char(n));
        return;
    }
    const quint8 base = first != 0 ? first + 1 : fix == 0x90 ? 0xdc : 0xde;
    if (n <= 0xffff) {
        out.append(char(base));
        char be[2];
        qToBigEndian(quint16(n), be);
        out.append(be, 2);
    } else {
        out.append(char(base + 1));
        char be[4];
        qToBigEndian(quint32(n), be);
        out.append(be, 4);
    }
}

template<typename T> void putNumber(QByteArray& out, quint8 type, T value)
{
    out.append(char(type));
    char be[sizeof(T)];
    qToBigEndian(value, be);
    out.append(be, sizeof(T));
}

void putInteger(QByteArray& out, qint64 v)
{
    if (v >= 0) {
        if (v <= 0x7f)
            out.append(char(v));
        else if (v <= 0xff)
            putNumber(out, 0xcc, quint8(v));
        else if (v <= 0xffff)
            putNumber(out, 0xcd, quint16(v));
        else if (v <= 0xffffffffll)
            putNumber(out, 0xce, quint32(v));
        else
            putNumber(out, 0xcf, quint64(v));
    } else if (v >= -32) {
        out.append(char(qint8(v)));
    } else if (v >= -128) {
        putNumber(out, 0xd0, qint8(v));
    } else if (v >= -32768) {
        putNumber(out, 0xd1, qint16(v));
    } else if (v >= -2147483648ll) {
        putNumber(out, 0xd2, qint32(v));
    } else {
        putNumber(out, 0xd3, qint64(v));
    }
}

void put(QByteArray& out, const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out.append(char(0xc0));
        break;
    case QJsonValue::Bool:
        out.append(char(value.toBool() ? 0xc3 : 0xc2));
        break;
    case QJsonValue::Double: {
        const double d = value.toDouble();
        // Whole numbers in qint64's range go as integers, as a reader expects;
        // toInteger() keeps all 64 bits of what the parser read as an integer.
        const qint64 whole = value.toInteger();
        if (std::floor(d) == d && double(whole) == d) {
            putInteger(out, whole);
        } else {
            quint64 bits;
            std::memcpy(&bits, &d, 8);
            putNumber(out, 0xcb, bits);
        }
        break;
    }
    case QJsonValue::String: {
        const QByteArray utf8 = value.toString().toUtf8();
        putHead(out, 0xa0, 32, 0xd9, quint64(utf8.size()));
        out.append(utf8);
        break;
    }
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        putHead(out, 0x90, 16, 0, quint64(array.size()));
        for (const QJsonValue& member : array)
            put(out, member);
        break;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        putHead(out, 0x80, 16, 0, quint64(object.size()));
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            put(out, it.key());
            put(out, it.value());
        }
        break;
    }
    }
}

} // namespace

DecodedFrame MessagePack::decode(const QByteArray& bytes, const DecodeLimits& limits)
{
    DecodedFrame frame;
    frame.decoder = kName;
    if (bytes.isEmpty()) {
        frame.problem = DecodeProblem::plain(kName, QStringLiteral("帧是空的"));
        return frame;
    }
    Reader reader(bytes, limits);
    const QJsonValue value = reader.readAll();
    if (!reader.ok()) {
        frame.problem = reader.problem();
        return frame;
    }
    frame.ok = true;
    frame.json = value;
    frame.exact = reader.exact();
    if (limits.withShown)
        frame.shown = frame.indented();
    return frame;
}

QByteArray MessagePack::encode(const QJsonValue& value)
{
    QByteArray out;
    put(out, value);
    return out;
}

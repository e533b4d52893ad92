#include "decode/CborDecoder.h"

#include "decode/DecodeProblem.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>

#include <cmath>

namespace {

const QString kName = QStringLiteral("CBOR");
// A map as read: its keys and values in turn under a tag that no valid
// frame carries.
constexpr quint64 kPairsTag = std::numeric_limits<quint64>::max();
// Keys that are no strings are named by their notation, cut to this.
constexpr int maxKeyChars = 256;

bool isPairs(const QCborValue& value)
{
    return value.isTag() && quint64(value.tag()) == kPairsTag;
}

QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString number(double d)
{
    if (std::isnan(d))
        return QStringLiteral("NaN");
    if (std::isinf(d))
        return d > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    QString text = QString::number(d, 'g', 17);
    // A float stays a float to the eye: 2.0, not 2.
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString bigNumber(const QByteArray& magnitude, bool negative);

// RFC 8949's diagnostic notation, one member a line when `wrapped`.
void diagnose(const QCborValue& value, bool wrapped, int indent, QString* out)
{
    const auto lineBreak = [&](int level) {
        if (wrapped)
            *out += QLatin1Char('\n') + QString(level * 4, QLatin1Char(' '));
    };
    if (isPairs(value)) {
        const QCborArray pairs = value.taggedValue().toArray();
        *out += QLatin1Char('{');
        for (qsizetype k = 0; k + 1 < pairs.size(); k += 2) {
            if (k)
                *out += QLatin1Char(',');
            lineBreak(indent + 1);
            diagnose(pairs.at(k), false, 0, out);
            *out += QStringLiteral(": ");
            diagnose(pairs.at(k + 1), wrapped, indent + 1, out);
        }
        if (!pairs.isEmpty())
            lineBreak(indent);
        *out += QLatin1Char('}');
        return;
    }
    switch (value.type()) {
    case QCborValue::Integer:
        *out += QString::number(value.toInteger());
        return;
    case QCborValue::Double:
        *out += number(value.toDouble());
        return;
    case QCborValue::String:
        *out += quoted(value.toString());
        return;
    case QCborValue::ByteArray:
        *out += QStringLiteral("h'") + QString::fromLatin1(value.toByteArray().toHex()) +
                QLatin1Char('\'');
        return;
    case QCborValue::False:
        *out += QStringLiteral("false");
        return;
    case QCborValue::True:
        *out += QStringLiteral("true");
        return;
    case QCborValue::Null:
        *out += QStringLiteral("null");
        return;
    case QCborValue::Undefined:
        *out += QStringLiteral("undefined");
        return;
    case QCborValue::Array: {
        const QCborArray array = value.toArray();
        *out += QLatin1Char('[');
        for (qsizetype k = 0; k < array.size(); ++k) {
            if (k)
                *out += QLatin1Char(',');
            lineBreak(indent + 1);
            diagnose(array.at(k), wrapped, indent + 1, out);
        }
        if (!array.isEmpty())
            lineBreak(indent);
        *out += QLatin1Char(']');
        return;
    }
    default:
        break;
    }
    if (value.isSimpleType()) {
        *out += QStringLiteral("simple(%1)").arg(int(value.toSimpleType()));
        return;
    }
    // Big numbers as the integers they are, where decimal reaches.
    const quint64 tag = quint64(value.tag());
    if ((tag == 2 || tag == 3) && value.taggedValue().isByteArray()) {
        const QString digits = bigNumber(value.taggedValue().toByteArray(), tag == 3);
        if (!digits.contains(QLatin1Char('x'))) {
            *out += digits;
            return;
        }
    }
    // Tags, and the tagged types Qt knows (dates, URLs, UUIDs, expressions).
    *out += QString::number(quint64(value.tag())) + QLatin1Char('(');
    diagnose(value.taggedValue(), wrapped, indent, out);
    *out += QLatin1Char(')');
}

QString diagnostic(const QCborValue& value, bool wrapped)
{
    QString out;
    diagnose(value, wrapped, 0, &out);
    return out;
}

QByteArray magnitudeBytes(quint64 n)
{
    QByteArray bytes;
    for (; n; n >>= 8)
        bytes.prepend(char(n & 0xff));
    return bytes;
}

class Reader
{
public:
    Reader(const QByteArray& bytes, const DecodeLimits& limits)
        : m_reader(bytes)
        , m_size(bytes.size())
        , m_limits(limits)
    {}

    QCborValue readAll()
    {
        QCborValue value = read(0);
        if (m_problem.isEmpty() && m_reader.lastError() != QCborError::NoError)
            fail(m_reader.lastError().toString());
        if (m_problem.isEmpty() && m_reader.currentOffset() < m_size)
            m_problem = DecodeProblem::at(kName, m_reader.currentOffset(),
                                          QStringLiteral("之后还有 %1 字节不属于这个值"),
                                          {QString::number(m_size - m_reader.currentOffset())});
        return value;
    }

    const QString& problem() const { return m_problem; }

private:
    void fail(const QString& why, const QStringList& args = {})
    {
        if (m_problem.isEmpty())
            m_problem = DecodeProblem::at(kName, m_reader.currentOffset(), why, args);
    }

    bool counted()
    {
        if (++m_items <= m_limits.maxItems)
            return true;
        fail(QStringLiteral("值的个数超过 %1"), {QString::number(m_limits.maxItems)});
        return false;
    }

    // A container's length must fit the bytes left: each member takes one.
    bool lengthFits(quint64 members, quint64 bytesEach = 1)
    {
        const quint64 left = quint64(m_size - m_reader.currentOffset());
        if (members <= left / bytesEach)
            return true;
        fail(QStringLiteral("长度 %1 超出帧长度"), {QString::number(members)});
        return false;
    }

    template<typename Chunk, typename Read> bool readChunks(Chunk& whole, Read readChunk)
    {
        for (auto r = readChunk(); r.status != QCborStreamReader::EndOfString; r = readChunk()) {
            if (r.status == QCborStreamReader::Error) {
                fail(m_reader.lastError().toString());
                return false;
            }
            whole += r.data;
        }
        return true;
    }

    QCborValue read(int depth)
    {
        if (!m_problem.isEmpty())
            return {};
        if (depth > m_limits.maxDepth) {
            fail(QStringLiteral("嵌套超过 %1 层"), {QString::number(m_limits.maxDepth)});
            return {};
        }
        if (!counted())
            return {};
        const qint64 at = m_reader.currentOffset();
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            const quint64 n = m_reader.toUnsignedInteger();
            m_reader.next();
            // Past qint64 a double would round it: kept as the big number it is.
            return n > quint64(std::numeric_limits<qint64>::max())
                       ? QCborValue(QCborKnownTags::PositiveBignum, magnitudeBytes(n))
                       : QCborValue(qint64(n));
        }
        case QCborStreamReader::NegativeInteger: {
            // Qt gives the magnitude (1 for -1, 0 for -2^64).
            const quint64 n = quint64(m_reader.toNegativeInteger());
            m_reader.next();
            if (n != 0 && n <= quint64(1) << 63)
                return QCborValue(qint64(0 - n));
            // Tag 3 holds -1 - m.
            return QCborValue(QCborKnownTags::NegativeBignum, magnitudeBytes(n - 1));
        }
        case QCborStreamReader::ByteArray: {
            if (m_reader.isLengthKnown() && !lengthFits(m_reader.length()))
                return {};
            QByteArray whole;
            if (!readChunks(whole, [this] { return m_reader.readByteArray(); }))
                return {};
            return QCborValue(whole);
        }
        case QCborStreamReader::String: {
            if (m_reader.isLengthKnown() && !lengthFits(m_reader.length()))
                return {};
            QString whole;
            if (!readChunks(whole, [this] { return m_reader.readString(); }))
                return {};
            return QCborValue(whole);
        }
        case QCborStreamReader::Array: {
            if (m_reader.isLengthKnown() && !lengthFits(m_reader.length()))
                return {};
            QCborArray array;
            m_reader.enterContainer();
            while (m_problem.isEmpty() && m_reader.lastError() == QCborError::NoError &&
                   m_reader.hasNext())
                array.append(read(depth + 1));
            if (m_problem.isEmpty() && !m_reader.leaveContainer())
                fail(m_reader.lastError().toString());
            return array;
        }
        case QCborStreamReader::Map: {
            // A key and a value each: two bytes at least per entry.
            if (m_reader.isLengthKnown() && !lengthFits(m_reader.length(), 2))
                return {};
            // Pairs in order: QCborMap::insert looks for the key first, which
            // turns a large map into a quadratic stall.
            QCborArray pairs;
            m_reader.enterContainer();
            while (m_problem.isEmpty() && m_reader.lastError() == QCborError::NoError &&
                   m_reader.hasNext()) {
                const QCborValue key = read(depth + 1);
                if (!m_problem.isEmpty())
                    break;
                if (!m_reader.hasNext()) {
                    fail(QStringLiteral("映射的键缺少值"));
                    break;
                }
                pairs.append(key);
                pairs.append(read(depth + 1));
            }
            if (m_problem.isEmpty() && !m_reader.leaveContainer())
                fail(m_reader.lastError().toString());
            return QCborValue(QCborTag(kPairsTag), pairs);
        }
        case QCborStreamReader::Tag: {
            const QCborTag tag = m_reader.toTag();
            // These are invalid in any frame (and one marks maps here).
            if (quint64(tag) == 65535 || quint64(tag) == 4294967295u || quint64(tag) == kPairsTag) {
                fail(QStringLiteral("标签 %1 无效"), {QString::number(quint64(tag))});
                return {};
            }
            m_reader.next();
            const QCborValue inner = read(depth + 1);
            return QCborValue(tag, inner);
        }
        case QCborStreamReader::SimpleType: {
            const QCborSimpleType simple = m_reader.toSimpleType();
            m_reader.next();
            return QCborValue(simple);
        }
        case QCborStreamReader::Float16: {
            const double d = double(m_reader.toFloat16());
            m_reader.next();
            return QCborValue(d);
        }
        case QCborStreamReader::Float: {
            const double d = double(m_reader.toFloat());
            m_reader.next();
            return QCborValue(d);
        }
        case QCborStreamReader::Double: {
            const double d = m_reader.toDouble();
            m_reader.next();
            return QCborValue(d);
        }
        case QCborStreamReader::Invalid:
        default:
            break;
        }
        if (m_reader.isBool() || m_reader.isNull() || m_reader.isUndefined()) {
            const QCborValue value = m_reader.isBool()   ? QCborValue(m_reader.toBool())
                                     : m_reader.isNull() ? QCborValue(nullptr)
                                                         : QCborValue();
            m_reader.next();
            return value;
        }
        const QCborError error = m_reader.lastError();
        if (m_problem.isEmpty())
            m_problem = DecodeProblem::at(
                kName, at,
                error == QCborError::NoError ? QStringLiteral("不是 CBOR 数据") : error.toString());
        return {};
    }

    QCborStreamReader m_reader;
    qint64 m_size;
    DecodeLimits m_limits;
    qint64 m_items = 0;
    QString m_problem;
};

// Tags 2 and 3 in decimal, every digit exact (a JSON number would round
// them); magnitudes past this many bytes stay hex.
constexpr qsizetype maxDecimalBytes = 16;

QString bigNumber(const QByteArray& magnitude, bool negative)
{
    if (magnitude.size() > maxDecimalBytes)
        return (negative ? QStringLiteral("-1-0x") : QStringLiteral("0x")) +
               QString::fromLatin1(magnitude.toHex());
    // Base 256 to base 10 by long division; tag 3 adds one to the magnitude.
    QList<quint8> digits{0};
    const auto addTimes256Plus = [&digits](unsigned carry) {
        for (quint8& digit : digits) {
            const unsigned v = digit * 256u + carry;
            digit = quint8(v % 10);
            carry = v / 10;
        }
        for (; carry; carry /= 10)
            digits.append(quint8(carry % 10));
    };
    for (const char byte : magnitude)
        addTimes256Plus(quint8(byte));
    if (negative) {
        qsizetype k = 0;
        for (; k < digits.size() && digits[k] == 9; ++k)
            digits[k] = 0;
        if (k == digits.size())
            digits.append(1);
        else
            ++digits[k];
    }
    while (digits.size() > 1 && digits.last() == 0)
        digits.removeLast();
    QString text = negative ? QStringLiteral("-") : QString();
    for (auto it = digits.crbegin(); it != digits.crend(); ++it)
        text += QChar(u'0' + *it);
    return text;
}

} // namespace

QJsonValue CborDecoder::toJson(const QCborValue& value, bool* exact)
{
    switch (value.type()) {
    case QCborValue::Integer:
        return QJsonValue(value.toInteger());
    case QCborValue::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d)) {
            *exact = false;
            return QJsonValue(QJsonValue::Null);
        }
        return QJsonValue(d);
    }
    case QCborValue::String:
        return QJsonValue(value.toString());
    case QCborValue::ByteArray:
        *exact = false;
        return QJsonValue(QString::fromLatin1(value.toByteArray().toHex()));
    case QCborValue::True:
    case QCborValue::False:
        return QJsonValue(value.toBool());
    case QCborValue::Null:
        return QJsonValue(QJsonValue::Null);
    case QCborValue::Undefined:
        *exact = false;
        return QJsonValue(QJsonValue::Null);
    case QCborValue::Array: {
        QJsonArray array;
        for (const QCborValue& member : value.toArray())
            array.append(toJson(member, exact));
        return array;
    }
    case QCborValue::DateTime:
        *exact = false;
        return QJsonValue(value.toDateTime().toString(Qt::ISODateWithMs));
    case QCborValue::Url:
        *exact = false;
        return QJsonValue(value.toUrl().toString());
    case QCborValue::Uuid:
        *exact = false;
        return QJsonValue(value.toUuid().toString(QUuid::WithoutBraces));
    case QCborValue::RegularExpression:
        *exact = false;
        return QJsonValue(value.taggedValue().toString());
    case QCborValue::Tag: {
        if (isPairs(value)) {
            DecodedFrame::Members members;
            const QCborArray pairs = value.taggedValue().toArray();
            for (qsizetype k = 0; k + 1 < pairs.size(); k += 2) {
                const QCborValue key = pairs.at(k);
                QString name;
                if (key.isString()) {
                    name = key.toString();
                } else {
                    *exact = false;
                    name = diagnostic(key, false).left(maxKeyChars);
                }
                members.append({name, toJson(pairs.at(k + 1), exact)});
            }
            return DecodedFrame::objectOf(std::move(members));
        }
        *exact = false;
        const quint64 tag = quint64(value.tag());
        const QCborValue inner = value.taggedValue();
        if ((tag == 2 || tag == 3) && inner.isByteArray())
            return QJsonValue(bigNumber(inner.toByteArray(), tag == 3));
        return toJson(inner, exact);
    }
    default:
        if (value.isSimpleType()) {
            *exact = false;
            return QJsonValue(int(value.toSimpleType()));
        }
        *exact = false;
        return QJsonValue(QJsonValue::Null);
    }
}

DecodedFrame CborDecoder::decode(const QByteArray& bytes, const DecodeLimits& limits)
{
    DecodedFrame frame;
    frame.decoder = kName;
    if (bytes.isEmpty()) {
        frame.problem = DecodeProblem::plain(kName, QStringLiteral("帧是空的"));
        return frame;
    }
    Reader reader(bytes, limits);
    const QCborValue value = reader.readAll();
    if (!reader.problem().isEmpty()) {
        frame.problem = reader.problem();
        return frame;
    }
    frame.ok = true;
    frame.json = toJson(value, &frame.exact);
    if (limits.withShown)
        frame.shown = frame.exact ? frame.indented() : diagnostic(value, true);
    return frame;
}

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
#include <QtEndian>

#include <cmath>

namespace {

const QString kName = QStringLiteral("CBOR");

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
            if (n <= quint64(std::numeric_limits<qint64>::max()))
                return QCborValue(qint64(n));
            // As the bignum it is: a double would pass for the exact value.
            return bignum(QCborKnownTags::PositiveBignum, n);
        }
        case QCborStreamReader::NegativeInteger: {
            // Qt gives the magnitude (1 for -1), which wraps to 0 for -2^64:
            // the argument of -1 - a is one less.
            const quint64 a = quint64(m_reader.toNegativeInteger()) - 1;
            m_reader.next();
            if (a <= quint64(std::numeric_limits<qint64>::max()))
                return QCborValue(-1 - qint64(a));
            return bignum(QCborKnownTags::NegativeBignum, a);
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
            QCborMap map;
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
                map.insert(key, read(depth + 1));
            }
            if (m_problem.isEmpty() && !m_reader.leaveContainer())
                fail(m_reader.lastError().toString());
            return map;
        }
        case QCborStreamReader::Tag: {
            const QCborTag tag = m_reader.toTag();
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

    static QCborValue bignum(QCborKnownTags tag, quint64 magnitude)
    {
        QByteArray bytes(8, Qt::Uninitialized);
        qToBigEndian(magnitude, bytes.data());
        return QCborValue(tag, QCborValue(bytes));
    }

    QCborStreamReader m_reader;
    qint64 m_size;
    DecodeLimits m_limits;
    qint64 m_items = 0;
    QString m_problem;
};

// Tags 2 and 3: the unsigned magnitude, big-endian, as a double.
double bigNumber(const QByteArray& magnitude, bool negative)
{
    double value = 0;
    for (const char byte : magnitude)
        value = value * 256 + double(quint8(byte));
    return negative ? -1 - value : value;
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
    case QCborValue::Map: {
        QJsonObject object;
        const QCborMap map = value.toMap();
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const QCborValue key = it.key();
            QString name;
            if (key.isString()) {
                name = key.toString();
            } else {
                *exact = false;
                name = key.toDiagnosticNotation();
            }
            object.insert(name, toJson(it.value(), exact));
        }
        return object;
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
    frame.shown =
        frame.exact ? frame.indented() : value.toDiagnosticNotation(QCborValue::LineWrapped);
    return frame;
}

#include "decode/ProtobufWire.h"

#include "decode/DecodeProblem.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringDecoder>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

const QString kName = QStringLiteral("Protobuf");
// libprotobuf's own recursion limit: deeper nesting is no message it would read.
constexpr int kMaxNesting = 100;

class Reader
{
public:
    Reader(const quint8* data, qint64 size, qint64 base, const DecodeLimits& limits, qint64* items)
        : m_data(data)
        , m_size(size)
        , m_base(base)
        , m_limits(limits)
        , m_items(items)
    {}

    // The fields of the bytes as a message; false with a problem when they
    // are not one.
    bool message(int depth, QJsonObject* out)
    {
        if (depth > std::min(m_limits.maxDepth, kMaxNesting))
            return limitHit(m_at, QStringLiteral("嵌套超过 %1 层"),
                            {QString::number(std::min(m_limits.maxDepth, kMaxNesting))});
        // A field seen again is repeated: its values in order, gathered here
        // and set once, as rewriting the object's array per value took time
        // growing with the square of their number; the object itself is made
        // once at the end, for the same reason.
        DecodedFrame::Members members;
        QHash<QString, qsizetype> seen;
        QHash<qsizetype, QJsonArray> repeated;
        while (m_at < m_size) {
            const qint64 from = m_at;
            quint64 key = 0;
            if (!varint(&key))
                return false;
            const quint64 field = key >> 3;
            const int wire = int(key & 7);
            if (field == 0 || field > 0x1FFFFFFF)
                return fail(from, QStringLiteral("字段号 %1 无效"), {QString::number(field)});
            if (++*m_items > m_limits.maxItems)
                return limitHit(from, QStringLiteral("值的个数超过 %1"),
                                {QString::number(m_limits.maxItems)});
            QJsonValue value;
            switch (wire) {
            case 0: {
                quint64 v = 0;
                if (!varint(&v))
                    return false;
                value = varintValue(v);
                break;
            }
            case 1: {
                if (!have(8, from))
                    return false;
                const quint64 v = qFromLittleEndian<quint64>(m_data + m_at);
                m_at += 8;
                double d;
                std::memcpy(&d, &v, 8);
                value = QJsonObject{{QStringLiteral("fixed64"), unsignedJson(v)},
                                    {QStringLiteral("double"), finite(d)}};
                break;
            }
            case 5: {
                if (!have(4, from))
                    return false;
                const quint32 v = qFromLittleEndian<quint32>(m_data + m_at);
                m_at += 4;
                float f;
                std::memcpy(&f, &v, 4);
                value = QJsonObject{{QStringLiteral("fixed32"), qint64(v)},
                                    {QStringLiteral("float"), finite(double(f))}};
                break;
            }
            case 2: {
                quint64 n = 0;
                if (!varint(&n) || !have(n, from))
                    return false;
                value = lengthDelimited(m_at, qint64(n), depth);
                m_at += qint64(n);
                if (!m_problem.isEmpty())
                    return false;
                break;
            }
            default:
                return fail(from, QStringLiteral("字段 %1 的线路类型 %2 无效"),
                            {QString::number(field), QString::number(wire)});
            }
            const QString name = QString::number(field);
            if (const auto found = seen.constFind(name); found != seen.constEnd()) {
                QJsonArray& values = repeated[found.value()];
                if (values.isEmpty())
                    values.append(members.at(found.value()).second);
                values.append(value);
            } else {
                seen.insert(name, members.size());
                members.append({name, value});
            }
        }
        for (auto it = repeated.constBegin(); it != repeated.constEnd(); ++it)
            members[it.key()].second = it.value();
        *out = DecodedFrame::objectOf(std::move(members));
        return true;
    }

    const QString& problem() const { return m_problem; }

private:
    bool fail(qint64 at, const QString& why, const QStringList& args = {})
    {
        if (m_problem.isEmpty())
            m_problem = DecodeProblem::at(kName, m_base + at, why, args);
        return false;
    }

    // A limit ends the whole frame, not only the try at a nested message.
    bool limitHit(qint64 at, const QString& why, const QStringList& args)
    {
        m_limitHit = true;
        return fail(at, why, args);
    }

    bool have(quint64 n, qint64 from)
    {
        if (n <= quint64(m_size - m_at))
            return true;
        return fail(from, QStringLiteral("长度 %1 超出帧长度"), {QString::number(n)});
    }

    bool varint(quint64* value)
    {
        const qint64 from = m_at;
        quint64 v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            if (m_at >= m_size)
                return fail(from, QStringLiteral("变长整数在帧末尾被截断"));
            const quint8 b = m_data[m_at++];
            if (shift == 63 && b > 1)
                return fail(from, QStringLiteral("变长整数超过 64 位"));
            v |= quint64(b & 0x7f) << shift;
            if (!(b & 0x80)) {
                *value = v;
                return true;
            }
        }
        return fail(from, QStringLiteral("变长整数超过 64 位"));
    }

    static QJsonValue unsignedJson(quint64 v)
    {
        if (v <= quint64(std::numeric_limits<qint64>::max()))
            return qint64(v);
        return QString::number(v);
    }

    static QJsonValue finite(double d)
    {
        return std::isfinite(d) ? QJsonValue(d) : QJsonValue(QJsonValue::Null);
    }

    static QJsonValue varintValue(quint64 v)
    {
        const qint64 zigzag = qint64(v >> 1) ^ -qint64(v & 1);
        return QJsonObject{{QStringLiteral("varint"), unsignedJson(v)},
                           {QStringLiteral("zigzag"), zigzag}};
    }

    static bool printableUtf8(const quint8* p, qint64 n, QString* text)
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        *text = utf8(QByteArrayView(p, n));
        if (utf8.hasError())
            return false;
        for (const QChar c : std::as_const(*text)) {
            if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\r') &&
                c != QLatin1Char('\t'))
                return false;
            if (c.unicode() == 0x7f)
                return false;
        }
        return true;
    }

    QJsonValue lengthDelimited(qint64 at, qint64 n, int depth)
    {
        const quint8* p = m_data + at;
        QString text;
        if (printableUtf8(p, n, &text))
            return text;
        // A nested message: a failed try leaves no problem of its own, only
        // a fault of the limits does.
        qint64 items = *m_items;
        Reader nested(p, n, m_base + at, m_limits, &items);
        QJsonObject fields;
        if (nested.message(depth + 1, &fields)) {
            *m_items = items;
            return fields;
        }
        if (nested.m_limitHit) {
            m_limitHit = true;
            m_problem = nested.problem();
            return {};
        }
        QJsonArray packed;
        Reader numbers(p, n, m_base + at, m_limits, m_items);
        while (numbers.m_at < n) {
            quint64 v = 0;
            const qint64 start = numbers.m_at;
            // An encoder writes varints in their fewest bytes: ff 00 is bytes.
            if (!numbers.varint(&v) || (numbers.m_at - start > 1 && p[numbers.m_at - 1] == 0)) {
                packed = QJsonArray();
                break;
            }
            packed.append(unsignedJson(v));
        }
        if (!packed.isEmpty())
            return QJsonObject{{QStringLiteral("packed"), packed}};
        return QJsonObject{
            {QStringLiteral("bytes"),
             QString::fromLatin1(
                 QByteArray::fromRawData(reinterpret_cast<const char*>(p), n).toHex())}};
    }

    const quint8* m_data;
    qint64 m_size;
    qint64 m_at = 0;
    qint64 m_base;
    DecodeLimits m_limits;
    qint64* m_items;
    bool m_limitHit = false;
    QString m_problem;
};

} // namespace

DecodedFrame ProtobufWire::decode(const QByteArray& bytes, const DecodeLimits& limits)
{
    DecodedFrame frame;
    frame.decoder = kName;
    if (bytes.isEmpty()) {
        frame.problem = DecodeProblem::plain(kName, QStringLiteral("帧是空的"));
        return frame;
    }
    qint64 items = 0;
    Reader reader(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size(), 0, limits,
                  &items);
    QJsonObject fields;
    if (!reader.message(0, &fields)) {
        frame.problem = reader.problem();
        return frame;
    }
    frame.ok = true;
    frame.json = fields;
    if (limits.withShown)
        frame.shown = frame.indented();
    return frame;
}

#include "reply/RuleResponder.h"

#include "comm/HexText.h"
#include "reply/JsonValuePath.h"
#include "reply/TemplateExpander.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Type = ReplyRule::MatchType;

bool frameFits(const ReplyRule::Match& match, LogEntry::FrameKind kind)
{
    return match.frame == LogEntry::FrameKind::Unknown || match.frame == kind;
}

// The bytes when they are JSON, else nothing.
QByteArray validJson(const QByteArray& data)
{
    QJsonParseError error;
    QJsonDocument::fromJson(data, &error);
    return error.error == QJsonParseError::NoError ? data : QByteArray();
}

} // namespace

RuleResponder::RuleResponder()
{
    m_clock.start();
}

void RuleResponder::setRules(const QList<ReplyRule>& rules)
{
    m_rules = rules;
    m_prepared.clear();
    m_timerRules.clear();
    for (int i = 0; i < rules.size(); ++i) {
        const ReplyRule& rule = rules.at(i);
        Prepared prepared;
        if (rule.match.type == Type::Regex)
            prepared.pattern = QRegularExpression(rule.match.value);
        if (rule.match.hex)
            prepared.bytes = hexToBytes(rule.match.value);
        if (rule.match.type == Type::Json)
            prepared.path = JsonValuePath::parse(rule.match.path);
        for (const ReplyRule::Reply& reply : rule.replies)
            prepared.readsJson |= reply.content.contains(QLatin1String("{{json:"));
        m_prepared.append(prepared);
        if (rule.enabled && rule.match.type == Type::Timer)
            m_timerRules.append(i);
    }
}

RuleResponder::Hit RuleResponder::firstMatch(const Incoming& frame, QByteArray* json) const
{
    // Parsed at most once, and only when a rule wants it.
    bool parsed = false;
    QJsonDocument document;
    const bool text = frame.kind == LogEntry::FrameKind::Text;
    const QString textOrBytes = text ? frame.text : QString::fromUtf8(frame.data);
    for (int i = 0; i < m_rules.size(); ++i) {
        const ReplyRule& rule = m_rules.at(i);
        const ReplyRule::Match& match = rule.match;
        if (!rule.enabled || !frameFits(match, frame.kind))
            continue;
        Hit hit;
        hit.rule = i;
        switch (match.type) {
        case Type::Any:
            return hit;
        case Type::Equals:
            if (match.hex ? frame.data == m_prepared.at(i).bytes : textOrBytes == match.value)
                return hit;
            break;
        case Type::Contains:
            if (match.hex ? frame.data.contains(m_prepared.at(i).bytes)
                          : textOrBytes.contains(match.value))
                return hit;
            break;
        case Type::Regex: {
            if (!text)
                break;
            const QRegularExpressionMatch found = m_prepared.at(i).pattern.match(frame.text);
            if (found.hasMatch()) {
                hit.captures = found.capturedTexts();
                return hit;
            }
            break;
        }
        case Type::Json: {
            if (!parsed) {
                parsed = true;
                QJsonParseError error;
                document = QJsonDocument::fromJson(frame.data, &error);
                if (error.error != QJsonParseError::NoError)
                    document = QJsonDocument();
                else
                    *json = frame.data;
            }
            if (json->isEmpty())
                break;
            const JsonValuePath& path = *m_prepared.at(i).path;
            const QJsonValue root =
                document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
            const QJsonValue value = path.valueIn(root);
            if (value.isUndefined())
                break;
            if (match.value.isEmpty())
                return hit;
            const QString reads = JsonValuePath::readsAs(value, path.rawIn(*json));
            bool numeric = false;
            const double wanted = match.value.toDouble(&numeric);
            if (reads == match.value || (value.isDouble() && numeric && value.toDouble() == wanted))
                return hit;
            break;
        }
        case Type::Connect:
        case Type::Timer:
            break;
        }
    }
    return Hit();
}

RuleResponder::Replies RuleResponder::build(int index, qint64 seq, const Incoming* frame,
                                            const QStringList& captures, const QByteArray& json,
                                            QStringList* notices) const
{
    const ReplyRule& rule = m_rules.at(index);
    TemplateExpander::Context context;
    context.seq = seq;
    context.captures = captures;
    if (frame) {
        context.json = json;
        context.peer = frame->peer;
        context.payload =
            frame->kind == LogEntry::FrameKind::Text ? frame->text : QString::fromUtf8(frame->data);
    }
    Replies replies;
    for (const ReplyRule::Reply& r : rule.replies) {
        Reply reply;
        const QString content = TemplateExpander::hasVariables(r.content)
                                    ? TemplateExpander::expand(r.content, context)
                                    : r.content;
        // Filled-in hex that is no hex would go out as whatever digits it holds.
        if (r.hex && !isValidHex(content)) {
            if (notices)
                notices->append(QStringLiteral("自动回复 \"%1\" 未发送: 回复不是十六进制: %2")
                                    .arg(rule.name, hexProblem(content)));
            continue;
        }
        reply.data = r.hex ? hexToBytes(content) : content.toUtf8();
        reply.kind = r.frame;
        reply.delayMs = r.delayMs;
        reply.toAll = r.toAll || rule.match.type == Type::Timer;
        reply.source = rule.source();
        replies.append(reply);
    }
    return replies;
}

bool RuleResponder::admit(int index, int count)
{
    const int limit = m_rules.at(index).maxPerSecond;
    Prepared& p = m_prepared[index];
    const qint64 now = m_clock.elapsed();
    // A ring of the latest `limit` send times: the oldest must be a second old.
    if (p.sent.size() < limit)
        p.sent.reserve(limit);
    bool fits = count <= limit;
    for (int k = 0; fits && k < count; ++k) {
        const qsizetype slot = (p.next + k) % limit;
        if (slot < p.sent.size() && now - p.sent.at(slot) < 1000)
            fits = false;
    }
    if (!fits) {
        // One notice per stretch of drops; a quiet second ends the stretch.
        if (p.lastDrop < 0 || now - p.lastDrop > 1000)
            m_notices.append(QStringLiteral("自动回复 \"%1\" 超过每秒 %2 次，已暂停")
                                 .arg(m_rules.at(index).name)
                                 .arg(limit));
        p.lastDrop = now;
        return false;
    }
    for (int k = 0; k < count; ++k) {
        if (p.sent.size() < limit)
            p.sent.append(now);
        else
            p.sent[p.next] = now;
        p.next = (p.next + 1) % limit;
    }
    return true;
}

RuleResponder::Replies RuleResponder::fire(int index, const Incoming* frame, const Hit* hit,
                                           const QByteArray& json)
{
    if (!admit(index, int(m_rules.at(index).replies.size())))
        return {};
    const qint64 seq = ++m_prepared[index].seq;
    return build(index, seq, frame, hit ? hit->captures : QStringList(), json, &m_notices);
}

RuleResponder::Replies RuleResponder::connected(quint64 client, const QString& peer)
{
    for (int i = 0; i < m_rules.size(); ++i) {
        const ReplyRule& rule = m_rules.at(i);
        if (rule.enabled && rule.match.type == Type::Connect) {
            Incoming joined;
            joined.client = client;
            joined.peer = peer;
            return fire(i, &joined, nullptr, QByteArray());
        }
    }
    return {};
}

std::optional<RuleResponder::Replies> RuleResponder::received(const Incoming& frame)
{
    QByteArray json;
    const Hit hit = firstMatch(frame, &json);
    if (hit.rule < 0)
        return std::nullopt;
    if (json.isEmpty() && m_prepared.at(hit.rule).readsJson)
        json = validJson(frame.data);
    return fire(hit.rule, &frame, &hit, json);
}

QList<int> RuleResponder::timerIntervals() const
{
    QList<int> intervals;
    for (int index : m_timerRules)
        intervals.append(m_rules.at(index).match.intervalMs);
    return intervals;
}

RuleResponder::Replies RuleResponder::timerFired(int index)
{
    if (index < 0 || index >= m_timerRules.size())
        return {};
    return fire(m_timerRules.at(index), nullptr, nullptr, QByteArray());
}

QStringList RuleResponder::takeNotices()
{
    return std::exchange(m_notices, QStringList());
}

RuleResponder::Preview RuleResponder::preview(const Incoming& frame) const
{
    Preview preview;
    QByteArray json;
    const Hit hit = firstMatch(frame, &json);
    preview.rule = hit.rule;
    if (hit.rule >= 0 && json.isEmpty() && m_prepared.at(hit.rule).readsJson)
        json = validJson(frame.data);
    if (hit.rule >= 0)
        preview.replies =
            build(hit.rule, m_prepared.at(hit.rule).seq + 1, &frame, hit.captures, json, nullptr);
    return preview;
}

std::optional<QByteArray> RuleResponder::acknowledgement(const QString& event,
                                                         const QJsonArray& args)
{
    Incoming frame;
    frame.data =
        QJsonDocument(QJsonObject{{QStringLiteral("event"), event}, {QStringLiteral("args"), args}})
            .toJson(QJsonDocument::Compact);
    frame.text = QString::fromUtf8(frame.data);
    const std::optional<Replies> replies = received(frame);
    if (!replies)
        return std::nullopt;
    // A rule past its guard answers nothing; the server still gets its ack.
    if (replies->isEmpty())
        return QByteArrayLiteral("[]");
    const QByteArray content = replies->first().data;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error == QJsonParseError::NoError && document.isArray())
        return document.toJson(QJsonDocument::Compact);
    // One value (a number or an object parses only inside an array).
    const QJsonDocument wrapped =
        QJsonDocument::fromJson(QByteArray("[") + content + QByteArray("]"), &error);
    if (error.error == QJsonParseError::NoError && wrapped.array().size() == 1)
        return wrapped.toJson(QJsonDocument::Compact);
    return QJsonDocument(QJsonArray{QString::fromUtf8(content)}).toJson(QJsonDocument::Compact);
}

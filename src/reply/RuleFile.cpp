#include "reply/RuleFile.h"

#include "comm/HexText.h"
#include "reply/JsonValuePath.h"
#include "reply/TemplateExpander.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QLatin1String formatName("sockwise-auto-reply");
constexpr int maxRatePerSecond = 100000;
constexpr int maxIntervalMs = 24 * 3600 * 1000;

// Reads one object's fields, remembering the first that is wrong.
class Fields
{
public:
    Fields(const QJsonObject& object, const QString& prefix, QString* error)
        : m_object(object)
        , m_prefix(prefix)
        , m_error(error)
    {}

    bool failed() const { return !m_error->isEmpty(); }
    void fail(const QString& field, const QString& why)
    {
        if (!failed())
            *m_error = m_prefix + field + QStringLiteral(": ") + why;
    }
    QString string(const QString& field, const QString& fallback = QString())
    {
        const QJsonValue value = m_object.value(field);
        if (value.isUndefined())
            return fallback;
        if (!value.isString())
            fail(field, QStringLiteral("应为文本"));
        return value.toString(fallback);
    }
    bool boolean(const QString& field, bool fallback)
    {
        const QJsonValue value = m_object.value(field);
        if (value.isUndefined())
            return fallback;
        if (!value.isBool())
            fail(field, QStringLiteral("应为 true 或 false"));
        return value.toBool(fallback);
    }
    int integer(const QString& field, int fallback, int low, int high)
    {
        const QJsonValue value = m_object.value(field);
        if (value.isUndefined())
            return fallback;
        const double number = value.toDouble(-1e300);
        if (!value.isDouble() || number != std::floor(number) || number < low || number > high) {
            fail(field, QStringLiteral("应为 %1–%2 的整数").arg(low).arg(high));
            return fallback;
        }
        return int(number);
    }
    // One of `names`, by its index.
    int choice(const QString& field, const QStringList& names, int fallback)
    {
        const QString text = string(field, names.at(fallback));
        const int index = int(names.indexOf(text));
        if (index < 0)
            fail(field, QStringLiteral("应为 %1 之一").arg(names.join(QStringLiteral(" / "))));
        return index < 0 ? fallback : index;
    }

private:
    QJsonObject m_object;
    QString m_prefix;
    QString* m_error;
};

const QStringList frameNames{QStringLiteral("any"), QStringLiteral("text"),
                             QStringLiteral("binary")};

LogEntry::FrameKind frameAt(int index)
{
    return index == 1   ? LogEntry::FrameKind::Text
           : index == 2 ? LogEntry::FrameKind::Binary
                        : LogEntry::FrameKind::Unknown;
}

QString frameName(LogEntry::FrameKind kind)
{
    return kind == LogEntry::FrameKind::Text     ? frameNames.at(1)
           : kind == LogEntry::FrameKind::Binary ? frameNames.at(2)
                                                 : frameNames.at(0);
}

ReplyRule::Reply readReply(const QJsonValue& value, const QString& prefix, QString* error)
{
    ReplyRule::Reply reply;
    if (!value.isObject()) {
        *error = prefix + QStringLiteral(": 应为对象");
        return reply;
    }
    Fields fields(value.toObject(), prefix + QLatin1Char('.'), error);
    if (!value.toObject().contains(QLatin1String("content")))
        fields.fail(QStringLiteral("content"), QStringLiteral("缺少"));
    reply.content = fields.string(QStringLiteral("content"));
    reply.hex = fields.boolean(QStringLiteral("hex"), false);
    const int frame = fields.choice(QStringLiteral("frame"), frameNames.mid(1), 0);
    reply.frame = frame == 1 ? LogEntry::FrameKind::Binary : LogEntry::FrameKind::Text;
    reply.delayMs = fields.integer(QStringLiteral("delayMs"), 0, 0, ReplyRule::maxDelayMs);
    reply.toAll = fields.choice(QStringLiteral("to"),
                                {QStringLiteral("sender"), QStringLiteral("all")}, 0) == 1;
    return reply;
}

std::optional<ReplyRule> readRule(const QJsonValue& value, int number, QString* error)
{
    const QString unnamed = QStringLiteral("规则 %1").arg(number);
    if (!value.isObject()) {
        *error = unnamed + QStringLiteral(": 应为对象");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    ReplyRule rule;
    const QJsonValue nameValue = object.value(QLatin1String("name"));
    const QString prefix = nameValue.isString()
                               ? unnamed + QStringLiteral(" \"%1\" 的 ").arg(nameValue.toString())
                               : unnamed + QStringLiteral(" 的 ");
    Fields fields(object, prefix, error);
    rule.name = fields.string(QStringLiteral("name"), unnamed);
    rule.enabled = fields.boolean(QStringLiteral("enabled"), true);
    rule.maxPerSecond = fields.integer(QStringLiteral("maxPerSecond"),
                                       ReplyRule::defaultMaxPerSecond, 1, maxRatePerSecond);

    const QJsonValue matchValue = object.value(QLatin1String("match"));
    if (!matchValue.isObject()) {
        fields.fail(QStringLiteral("match"),
                    matchValue.isUndefined() ? QStringLiteral("缺少") : QStringLiteral("应为对象"));
        return std::nullopt;
    }
    Fields match(matchValue.toObject(), prefix + QStringLiteral("match."), error);
    const QString type = match.string(QStringLiteral("type"));
    if (!ReplyRule::typeFromName(type, &rule.match.type))
        match.fail(QStringLiteral("type"), QStringLiteral("未知的类型 \"%1\"").arg(type));
    rule.match.value = match.string(QStringLiteral("value"));
    rule.match.hex = match.boolean(QStringLiteral("hex"), false);
    rule.match.path = match.string(QStringLiteral("path"));
    rule.match.intervalMs = match.integer(QStringLiteral("intervalMs"), 1000, 10, maxIntervalMs);
    rule.match.frame = frameAt(match.choice(QStringLiteral("frame"), frameNames, 0));

    const QJsonValue replyValue = object.value(QLatin1String("reply"));
    rule.replies.clear();
    if (replyValue.isArray()) {
        const QJsonArray list = replyValue.toArray();
        for (int i = 0; i < list.size() && error->isEmpty(); ++i)
            rule.replies.append(
                readReply(list.at(i), prefix + QStringLiteral("reply.%1").arg(i), error));
    } else if (!replyValue.isUndefined()) {
        rule.replies.append(readReply(replyValue, prefix + QStringLiteral("reply"), error));
    } else {
        fields.fail(QStringLiteral("reply"), QStringLiteral("缺少"));
    }
    if (error->isEmpty()) {
        if (const QString why = RuleFile::problem(rule); !why.isEmpty())
            *error = prefix + why;
    }
    if (!error->isEmpty())
        return std::nullopt;
    return rule;
}

} // namespace

QString RuleFile::problem(const ReplyRule& rule)
{
    using Type = ReplyRule::MatchType;
    const ReplyRule::Match& match = rule.match;
    const bool needsValue =
        match.type == Type::Equals || match.type == Type::Contains || match.type == Type::Regex;
    if (needsValue && match.value.isEmpty())
        return QStringLiteral("match.value: 缺少");
    if ((match.type == Type::Equals || match.type == Type::Contains) && match.hex &&
        !isValidHex(match.value))
        return QStringLiteral("match.value: 不是十六进制: ") + hexProblem(match.value);
    if (match.type == Type::Regex) {
        const QRegularExpression pattern(match.value);
        if (!pattern.isValid())
            return QStringLiteral("match.value: 正则表达式无效: ") + pattern.errorString();
    }
    if (match.type == Type::Json && !JsonValuePath::parse(match.path))
        return QStringLiteral("match.path: 无法解析的路径 \"%1\"").arg(match.path);
    if (rule.replies.isEmpty())
        return QStringLiteral("reply: 至少要有一条回复");
    for (int i = 0; i < rule.replies.size(); ++i) {
        const ReplyRule::Reply& reply = rule.replies.at(i);
        // Hex with variables is checked once filled in, when it is sent.
        if (reply.hex && !TemplateExpander::hasVariables(reply.content) &&
            !isValidHex(reply.content))
            return QStringLiteral("reply.%1.content: 不是十六进制: %2")
                .arg(i)
                .arg(hexProblem(reply.content));
    }
    return QString();
}

std::optional<QList<ReplyRule>> RuleFile::read(const QByteArray& bytes, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    error->clear();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("不是 JSON (第 %1 个字节): %2")
                     .arg(parseError.offset + 1)
                     .arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QLatin1String("format")).toString() != formatName) {
        *error = QStringLiteral("format: 不是自动回复规则文件 (应为 \"sockwise-auto-reply\")");
        return std::nullopt;
    }
    if (root.value(QLatin1String("version")).toDouble() != 1) {
        *error = QStringLiteral("version: 不支持的版本 (应为 1)");
        return std::nullopt;
    }
    const QJsonValue rulesValue = root.value(QLatin1String("rules"));
    if (!rulesValue.isArray()) {
        *error = QStringLiteral("rules: 应为数组");
        return std::nullopt;
    }
    QList<ReplyRule> rules;
    const QJsonArray list = rulesValue.toArray();
    for (int i = 0; i < list.size(); ++i) {
        std::optional<ReplyRule> rule = readRule(list.at(i), i + 1, error);
        if (!rule)
            return std::nullopt;
        rules.append(*rule);
    }
    return rules;
}

std::optional<QList<ReplyRule>> RuleFile::readFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("无法读取 %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return read(file.readAll(), error);
}

QByteArray RuleFile::write(const QList<ReplyRule>& rules)
{
    QJsonArray list;
    for (const ReplyRule& rule : rules) {
        QJsonObject object;
        object.insert(QLatin1String("name"), rule.name);
        if (!rule.enabled)
            object.insert(QLatin1String("enabled"), false);
        if (rule.maxPerSecond != ReplyRule::defaultMaxPerSecond)
            object.insert(QLatin1String("maxPerSecond"), rule.maxPerSecond);
        QJsonObject match;
        using Type = ReplyRule::MatchType;
        const ReplyRule::Match& m = rule.match;
        match.insert(QLatin1String("type"), ReplyRule::typeName(m.type));
        if (!m.value.isEmpty())
            match.insert(QLatin1String("value"), m.value);
        if (m.hex)
            match.insert(QLatin1String("hex"), true);
        // What another type ignores is kept too: the file reads back the same.
        if (m.type == Type::Json || !m.path.isEmpty())
            match.insert(QLatin1String("path"), m.path);
        if (m.type == Type::Timer || m.intervalMs != 1000)
            match.insert(QLatin1String("intervalMs"), m.intervalMs);
        if (m.frame != LogEntry::FrameKind::Unknown)
            match.insert(QLatin1String("frame"), frameName(m.frame));
        object.insert(QLatin1String("match"), match);
        QJsonArray replies;
        for (const ReplyRule::Reply& r : rule.replies) {
            QJsonObject reply;
            reply.insert(QLatin1String("content"), r.content);
            if (r.hex)
                reply.insert(QLatin1String("hex"), true);
            if (r.frame == LogEntry::FrameKind::Binary)
                reply.insert(QLatin1String("frame"), frameName(r.frame));
            if (r.delayMs)
                reply.insert(QLatin1String("delayMs"), r.delayMs);
            if (r.toAll)
                reply.insert(QLatin1String("to"), QStringLiteral("all"));
            replies.append(reply);
        }
        object.insert(QLatin1String("reply"),
                      replies.size() == 1 ? QJsonValue(replies.at(0)) : QJsonValue(replies));
        list.append(object);
    }
    QJsonObject root;
    root.insert(QLatin1String("format"), formatName);
    root.insert(QLatin1String("version"), 1);
    root.insert(QLatin1String("rules"), list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

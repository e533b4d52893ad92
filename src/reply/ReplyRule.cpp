#include "reply/ReplyRule.h"

namespace {

const char* const typeNames[] = {"any", "equals", "contains", "regex", "json", "connect", "timer"};

} // namespace

bool ReplyRule::Match::operator==(const Match& other) const
{
    return type == other.type && value == other.value && hex == other.hex && path == other.path &&
           intervalMs == other.intervalMs && frame == other.frame;
}

bool ReplyRule::Reply::operator==(const Reply& other) const
{
    return content == other.content && hex == other.hex && frame == other.frame &&
           delayMs == other.delayMs && toAll == other.toAll;
}

bool ReplyRule::operator==(const ReplyRule& other) const
{
    return name == other.name && enabled == other.enabled && maxPerSecond == other.maxPerSecond &&
           match == other.match && replies == other.replies;
}

QString ReplyRule::typeName(MatchType type)
{
    return QLatin1String(typeNames[int(type)]);
}

bool ReplyRule::typeFromName(const QString& name, MatchType* type)
{
    for (MatchType candidate : allTypes()) {
        if (typeName(candidate) == name) {
            *type = candidate;
            return true;
        }
    }
    return false;
}

QList<ReplyRule::MatchType> ReplyRule::allTypes()
{
    return {MatchType::Any,  MatchType::Equals,  MatchType::Contains, MatchType::Regex,
            MatchType::Json, MatchType::Connect, MatchType::Timer};
}

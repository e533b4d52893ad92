#pragma once

#include "comm/LogEntry.h"

#include <QList>
#include <QString>

// One auto-reply rule as the rules file and the editor hold it.
struct ReplyRule
{
    enum class MatchType
    {
        Any,
        Equals,
        Contains,
        Regex,
        Json,
        Connect,
        Timer
    };

    struct Match
    {
        MatchType type = MatchType::Equals;
        QString value;
        // equals/contains: `value` is hex digits compared with the bytes.
        bool hex = false;
        QString path;
        int intervalMs = 1000;
        // Unknown: either kind.
        LogEntry::FrameKind frame = LogEntry::FrameKind::Unknown;
        bool operator==(const Match& other) const;
    };

    struct Reply
    {
        QString content;
        bool hex = false;
        LogEntry::FrameKind frame = LogEntry::FrameKind::Text;
        int delayMs = 0;
        bool toAll = false;
        bool operator==(const Reply& other) const;
    };

    static constexpr int defaultMaxPerSecond = 100;
    static constexpr int maxDelayMs = 600000;

    QString name;
    bool enabled = true;
    int maxPerSecond = defaultMaxPerSecond;
    Match match;
    QList<Reply> replies{Reply()};

    bool operator==(const ReplyRule& other) const;
    bool operator!=(const ReplyRule& other) const { return !(*this == other); }

    // What the log names as the origin of its replies.
    QString source() const { return QStringLiteral("自动回复: ") + name; }

    static QString typeName(MatchType type);
    static bool typeFromName(const QString& name, MatchType* type);
    static QList<MatchType> allTypes();
};

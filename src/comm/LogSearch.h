#pragma once

#include "comm/LogEntry.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>

// What the log's find bar looks for: a text or a regular expression, with or
// without regard to case, in entries of the chosen directions. An empty
// pattern matches every entry of those directions.
class LogSearch
{
public:
    LogSearch() = default;
    LogSearch(const QString& pattern, bool regex, bool caseSensitive);

    void setDirection(LogEntry::Direction direction, bool included);
    bool includes(LogEntry::Direction direction) const;

    QString pattern() const { return m_pattern; }
    bool isRegex() const { return m_regex; }
    bool isCaseSensitive() const { return m_caseSensitive; }

    // False for an expression that does not compile; such a search matches
    // nothing, and errorString says what is wrong with it.
    bool isValid() const;
    QString errorString() const;

    bool matchesText(QStringView data) const;
    // Where the pattern matches in `data`, as (start, length) pairs in order,
    // at most `limit` of them; none for an empty pattern.
    QList<std::pair<qsizetype, qsizetype>> matchRanges(QStringView data, int limit = 64) const;

    // One peer's entries only (empty: every peer's): what was sent to or
    // received from it, and system lines that name it.
    void setPeer(const QString& peer) { m_peer = peer; }
    QString peer() const { return m_peer; }
    bool includesPeer(const LogEntry& entry) const;
    bool matches(LogEntry::Direction direction, QStringView data) const
    {
        return includes(direction) && matchesText(data);
    }

    bool operator==(const LogSearch& other) const;
    bool operator!=(const LogSearch& other) const { return !(*this == other); }

private:
    static quint8 bit(LogEntry::Direction direction);

    QString m_pattern;
    QString m_peer;
    bool m_regex = false;
    bool m_caseSensitive = false;
    quint8 m_directions = 0x7;
    QStringMatcher m_matcher;
    QRegularExpression m_expression;
};

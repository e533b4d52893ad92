#include "comm/LogSearch.h"

LogSearch::LogSearch(const QString& pattern, bool regex, bool caseSensitive)
    : m_pattern(pattern)
    , m_regex(regex)
    , m_caseSensitive(caseSensitive)
{
    if (m_pattern.isEmpty())
        return;
    if (m_regex) {
        m_expression.setPattern(m_pattern);
        if (!m_caseSensitive)
            m_expression.setPatternOptions(QRegularExpression::CaseInsensitiveOption);
        // Compiled now, not on the first of many thousand rows.
        m_expression.optimize();
    } else {
        m_matcher.setPattern(m_pattern);
        m_matcher.setCaseSensitivity(m_caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
    }
}

quint8 LogSearch::bit(LogEntry::Direction direction)
{
    switch (direction) {
    case LogEntry::TX:
    case LogEntry::RX:
    case LogEntry::SYS:
        return quint8(1u << int(direction));
    }
    return 0;
}

void LogSearch::setDirection(LogEntry::Direction direction, bool included)
{
    if (included)
        m_directions |= bit(direction);
    else
        m_directions &= quint8(~bit(direction));
}

bool LogSearch::includes(LogEntry::Direction direction) const
{
    // Entries of no known direction are only left out by a text that misses.
    const quint8 mask = bit(direction);
    return mask == 0 || (m_directions & mask) != 0;
}

bool LogSearch::isValid() const
{
    return !m_regex || m_pattern.isEmpty() || m_expression.isValid();
}

QString LogSearch::errorString() const
{
    return isValid() ? QString() : m_expression.errorString();
}

bool LogSearch::matchesText(QStringView data) const
{
    if (m_pattern.isEmpty())
        return true;
    if (m_regex)
        return m_expression.isValid() && m_expression.match(data).hasMatch();
    return m_matcher.indexIn(data) >= 0;
}

QList<std::pair<qsizetype, qsizetype>> LogSearch::matchRanges(QStringView data, int limit) const
{
    QList<std::pair<qsizetype, qsizetype>> ranges;
    if (m_pattern.isEmpty() || !isValid())
        return ranges;
    if (m_regex) {
        QRegularExpressionMatchIterator it = m_expression.globalMatch(data);
        while (it.hasNext() && ranges.size() < limit) {
            const QRegularExpressionMatch match = it.next();
            // An empty match marks nothing a reader could see.
            if (match.capturedLength() > 0)
                ranges.append({match.capturedStart(), match.capturedLength()});
        }
        return ranges;
    }
    for (qsizetype at = m_matcher.indexIn(data); at >= 0 && ranges.size() < limit;
         at = m_matcher.indexIn(data, at + m_pattern.size()))
        ranges.append({at, m_pattern.size()});
    return ranges;
}

bool LogSearch::includesPeer(const LogEntry& entry) const
{
    if (m_peer.isEmpty())
        return true;
    if (entry.direction() != LogEntry::SYS)
        return entry.peer() == m_peer;
    // Named whole: "127.0.0.1:4000" is not named by "…:40001".
    const QString text = entry.text();
    const auto joins = [](QChar c) {
        return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'.' || c == u':');
    };
    for (qsizetype at = text.indexOf(m_peer); at >= 0; at = text.indexOf(m_peer, at + 1)) {
        const qsizetype end = at + m_peer.size();
        if ((at == 0 || !joins(text.at(at - 1))) && (end == text.size() || !joins(text.at(end))))
            return true;
    }
    return false;
}

bool LogSearch::operator==(const LogSearch& other) const
{
    return m_pattern == other.m_pattern && m_peer == other.m_peer && m_regex == other.m_regex &&
           m_caseSensitive == other.m_caseSensitive && m_directions == other.m_directions;
}

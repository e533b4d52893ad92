#include "websocket/SendHistory.h"

bool SendHistory::isKeepable(const SendBoxContent& content)
{
    // Three UTF-8 bytes at most per UTF-16 unit: the conversion only near the limit.
    return content.text.size() * 3 <= maxEntryBytes ||
           content.text.toUtf8().size() <= maxEntryBytes;
}

bool SendHistory::record(const SendBoxContent& sent)
{
    m_position = -1;
    if (!isKeepable(sent))
        return false;
    if (!m_entries.isEmpty() && m_entries.first() == sent)
        return true;
    m_entries.prepend(sent);
    if (m_entries.size() > capacity)
        m_entries.resize(capacity);
    return true;
}

std::optional<SendBoxContent> SendHistory::older(const SendBoxContent& current)
{
    int next = m_position + 1;
    if (m_position < 0) {
        if (!m_entries.isEmpty() && m_entries.first() == current)
            next = 1;
    }
    if (next >= m_entries.size())
        return std::nullopt;
    if (m_position < 0)
        m_draft = current;
    m_position = next;
    return m_entries.at(next);
}

std::optional<SendBoxContent> SendHistory::newer()
{
    if (m_position < 0)
        return std::nullopt;
    --m_position;
    // Past the newest entry a skipped repeat of the draft is not shown again.
    if (m_position == 0 && m_entries.first() == m_draft)
        m_position = -1;
    return m_position < 0 ? m_draft : m_entries.at(m_position);
}

void SendHistory::setEntries(const QList<SendBoxContent>& entries)
{
    m_entries.clear();
    for (const SendBoxContent& entry : entries) {
        if (isKeepable(entry) && m_entries.size() < capacity)
            m_entries.append(entry);
    }
    m_position = -1;
}

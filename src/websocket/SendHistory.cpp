#include "websocket/SendHistory.h"

void SendHistory::record(const SendBoxContent& sent)
{
    m_position = -1;
    if (!m_entries.isEmpty() && m_entries.first() == sent)
        return;
    m_entries.prepend(sent);
    if (m_entries.size() > capacity)
        m_entries.resize(capacity);
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
    m_entries = entries.mid(0, capacity);
    m_position = -1;
}

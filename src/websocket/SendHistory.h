#pragma once

#include "websocket/SendBoxContent.h"

#include <QList>

#include <optional>

// The payloads the user sent by hand, newest first, recalled like a shell's
// history: older() walks back, newer() forward and finally returns the draft
// that was in the box when the walk began.
class SendHistory
{
public:
    static constexpr int capacity = 100;

    // Larger payloads are not kept: a settings file holding them grows to
    // megabytes and is rewritten whole.
    static constexpr int maxEntryBytes = 64 * 1024;
    static bool isKeepable(const SendBoxContent& content);

    // A repeat of the newest entry is not added again. Ends a walk. False
    // when the payload is too large to be kept.
    bool record(const SendBoxContent& sent);

    // `current` is what the box holds; a walk keeps it as the draft. The first
    // step skips the newest entry when the box still holds it (the box is not
    // cleared by sending). Nothing when there is nothing older.
    std::optional<SendBoxContent> older(const SendBoxContent& current);
    std::optional<SendBoxContent> newer();

    const QList<SendBoxContent>& entries() const { return m_entries; }
    // Kept in order without what is too large, cut to the capacity. Ends a walk.
    void setEntries(const QList<SendBoxContent>& entries);

private:
    QList<SendBoxContent> m_entries;
    // The entry shown by a walk; -1 while the draft is shown (no walk).
    int m_position = -1;
    SendBoxContent m_draft;
};

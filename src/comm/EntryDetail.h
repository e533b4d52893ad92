#pragma once

#include "comm/LogEntry.h"

#include <QString>

#include <functional>

// What the detail pane tells about one log entry, in the active language:
// the fields read from the entry in one place, and the text's other forms.
class EntryDetail
{
public:
    // Of a large entry the pane shows this much at once, the rest on request.
    static constexpr qsizetype previewChars = 64 * 1024;
    static constexpr qsizetype previewBytes = 64 * 1024;

    explicit EntryDetail(const LogEntry& entry);

    bool isMessage() const;
    // Date and time to the millisecond: "2024-03-15 14:03:07.215".
    QString timeText() const;
    QString directionText() const;
    QString peerText() const;
    QString frameText() const;
    QString sizeText() const;
    // "5,242,880 字节 (5.0 MiB)", "300 字节".
    static QString byteCountText(qint64 bytes);
    // Every field above, one "name: value" line each, for the clipboard.
    QString infoText() const;

    QString text() const;
    const QByteArray& bytes() const;

    // Indenting never makes more than this of a text of `size` characters:
    // deep nesting repeats its indent on every line.
    static qsizetype indentLimit(qsizetype size);
    // The text indented when it is a JSON object or array, its \uXXXX escapes
    // shown as their characters; empty otherwise,
    // and also when the result would pass indentLimit() (`tooLarge` is then
    // set) or `stopped` answered true on the way.
    static QString prettyJson(const QString& text, bool* tooLarge = nullptr,
                              const std::function<bool()>& stopped = {});

private:
    LogEntry m_entry;
};

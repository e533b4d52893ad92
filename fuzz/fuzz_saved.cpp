// The quick-send import: a file the user picked, from anywhere.
#include "websocket/SavedMessages.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "saved messages invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<QList<SavedMessage>> read = SavedMessages::fromJson(json, &error);
    check(read.has_value() == error.isEmpty(), "a reason exactly when nothing is read");
    if (!read)
        return 0;
    for (const SavedMessage& message : *read)
        check(!message.name.trimmed().isEmpty(), "every message has a name");
    // What is read is written back and read again unchanged.
    SavedMessages messages;
    messages.setItems(*read);
    QString again;
    const std::optional<QList<SavedMessage>> reread =
        SavedMessages::fromJson(messages.toJson(), &again);
    check(reread.has_value() && *reread == *read, "a written file reads back the same");
    return 0;
}

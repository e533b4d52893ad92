// The HAR reader: a capture from a browser, a proxy or anyone.
#include "session/HarFile.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "HAR invariant broken: %s\n", what);
        std::abort();
    }
}

bool sameMessages(const QList<HarConnection>& a, const QList<HarConnection>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype c = 0; c < a.size(); ++c) {
        const QList<HarMessage>& x = a[c].messages;
        const QList<HarMessage>& y = b[c].messages;
        if (x.size() != y.size() || a[c].url != b[c].url || a[c].notes.size() != b[c].notes.size())
            return false;
        for (qsizetype m = 0; m < x.size(); ++m) {
            if (x[m].sent != y[m].sent || x[m].msecs != y[m].msecs || x[m].binary != y[m].binary ||
                x[m].data != y[m].data)
                return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    const HarFile::ReadResult read = HarFile::parse(json);
    check(read.ok() == !read.connections.isEmpty(), "connections exactly when nothing is wrong");
    if (!read.ok())
        return 0;
    for (const HarConnection& connection : read.connections) {
        for (const HarNote& note : connection.notes)
            check(note.beforeMessage >= 0 && note.beforeMessage <= connection.messages.size(),
                  "a system entry sits among the frames");
    }
    // What is read is written and read again unchanged.
    const HarFile::ReadResult again = HarFile::parse(HarFile::serialize(read.connections));
    check(again.ok() && sameMessages(read.connections, again.connections),
          "a written file reads back the same");
    return 0;
}

// The detail pane's JSON indentation: a peer's text frame, shown indented.
#include "comm/EntryDetail.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "JSON indentation invariant broken: %s\n", what);
        std::abort();
    }
}

// The text without the blanks between tokens: what indenting may change.
QString tokens(const QString& text)
{
    QString out;
    bool inString = false;
    bool escaped = false;
    for (const QChar c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == QLatin1Char('\\'))
                escaped = true;
            else if (c == QLatin1Char('"'))
                inString = false;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
                   c == QLatin1Char('\r')) {
            continue;
        } else {
            inString = c == QLatin1Char('"');
        }
        out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    bool tooLarge = true;
    const QString indented = EntryDetail::prettyJson(text, &tooLarge);
    check(indented.size() <= EntryDetail::indentLimit(text.size()), "output within its bound");
    check(!(tooLarge && !indented.isEmpty()), "too large gives nothing");
    if (!indented.isEmpty()) {
        check(tokens(indented) == tokens(text), "only blanks between tokens change");
        check(!QJsonDocument::fromJson(indented.toUtf8()).isNull(), "indented text is JSON");
    }
    bool stoppedLarge = false;
    check(EntryDetail::prettyJson(text, &stoppedLarge, [] { return true; }).isEmpty(),
          "a stopped indentation gives nothing");
    return 0;
}

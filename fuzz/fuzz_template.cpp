// The template expander, on a reply's text and on the frame it answers: the
// first half of the input is the template, the rest the received message.
#include "reply/JsonValuePath.h"
#include "reply/TemplateExpander.h"

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
        std::fprintf(stderr, "template invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes.left(bytes.size() / 2));
    const QByteArray message = bytes.mid(bytes.size() / 2);

    TemplateExpander::Context context;
    context.payload = QString::fromUtf8(message);
    context.captures = {context.payload, text};
    QJsonParseError error;
    QJsonDocument::fromJson(message, &error);
    if (error.error == QJsonParseError::NoError)
        context.json = message;
    const QString filled = TemplateExpander::expand(text, context);
    if (!TemplateExpander::hasVariables(text))
        check(filled == text, "text without variables is sent as it is");
    TemplateExpander::unknownNames(text);

    // A path into valid JSON finds valid JSON.
    if (!context.json.isEmpty()) {
        if (const std::optional<JsonValuePath> path = JsonValuePath::parse(text)) {
            const QByteArray raw = path->rawIn(context.json);
            if (!raw.isEmpty()) {
                QJsonDocument::fromJson('[' + raw + ']', &error);
                check(error.error == QJsonParseError::NoError, "the value found is JSON");
            }
        }
    }
    return 0;
}

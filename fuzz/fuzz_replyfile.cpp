// The auto-reply rules file: imported from anywhere, or given to `sockwise mock`.
#include "reply/RuleFile.h"
#include "reply/RuleResponder.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "rules file invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<QList<ReplyRule>> rules = RuleFile::read(bytes, &error);
    check(rules.has_value() == error.isEmpty(), "a reason exactly when nothing is read");
    if (!rules)
        return 0;
    for (const ReplyRule& rule : *rules)
        check(RuleFile::problem(rule).isEmpty(), "every rule read can work");
    QString again;
    const std::optional<QList<ReplyRule>> reread = RuleFile::read(RuleFile::write(*rules), &again);
    check(reread.has_value() && *reread == *rules, "a written file reads back the same");
    // The rules run on the file's own bytes as a frame, text and binary.
    RuleResponder responder;
    responder.setRules(*rules);
    Responder::Incoming frame;
    frame.data = bytes;
    frame.text = QString::fromUtf8(bytes);
    responder.received(frame);
    frame.kind = LogEntry::FrameKind::Binary;
    responder.received(frame);
    responder.connected(1, QStringLiteral("127.0.0.1:1"));
    for (int i = 0; i < responder.timerIntervals().size(); ++i)
        responder.timerFired(i);
    return 0;
}

#pragma once

#include "reply/ReplyRule.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The rules file ("format": "sockwise-auto-reply", "version": 1), the same
// for import, export, the settings and the command line. A file is taken
// whole or not at all.
class RuleFile
{
public:
    // Nothing, with `error` naming the rule and the field, when the bytes are
    // not a rules file or a rule in it could not work.
    static std::optional<QList<ReplyRule>> read(const QByteArray& bytes, QString* error);
    static std::optional<QList<ReplyRule>> readFile(const QString& path, QString* error);
    // Defaults are left out, as a person would write the file.
    static QByteArray write(const QList<ReplyRule>& rules);

    // What keeps a rule from working (a regex that does not compile, a path
    // that cannot be parsed, hex that is not hex…), as "field: why"; empty
    // when it can work.
    static QString problem(const ReplyRule& rule);
};

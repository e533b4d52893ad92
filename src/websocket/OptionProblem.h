#pragma once

#include <QString>
#include <QStringList>

// Why an option cannot be used, as a Chinese format with its arguments, so
// that a dialog can show it in the active language and the log in Chinese.
struct OptionProblem
{
    QString format;
    QStringList args;

    // The format (or its translation) with the arguments filled in, in one pass
    // so that an argument holding "%1" stays as it is.
    QString text(const QString& translatedFormat) const
    {
        switch (args.size()) {
        case 0:
            return translatedFormat;
        case 1:
            return translatedFormat.arg(args[0]);
        default:
            return translatedFormat.arg(args[0], args[1]);
        }
    }
    QString text() const { return text(format); }
};

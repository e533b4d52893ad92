#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// "{{seq}}", "{{now}}", "{{random:1-100}}", "{{json:id}}"… filled in; "\{{"
// writes "{{", and a name it does not know stays as it was written.
class TemplateExpander
{
public:
    // What a template may read of the moment and of the frame it answers.
    struct Context
    {
        qint64 seq = 1;
        // The regex match and its groups: {{0}}…{{9}}.
        QStringList captures;
        // The received message when it is valid JSON, else empty.
        QByteArray json;
        QString payload;
        QString peer;
    };

    static QString expand(const QString& text, const Context& context);

    // Whether the text holds a variable at all (plain text is sent as it is).
    static bool hasVariables(const QString& text);
    // The variables the text names that would not be filled in ("{{foo}}",
    // "{{random:a-b}}"), each once, in their order.
    static QStringList unknownNames(const QString& text);

private:
    // The value of one variable, or nothing when it is not one.
    static bool fill(const QString& name, const Context& context, QString* out);
};

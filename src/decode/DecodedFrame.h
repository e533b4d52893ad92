#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <utility>

// What a decoder made of a frame's bytes: the value as JSON (what rows and
// rules read), the text the detail pane shows, or where it stopped.
struct DecodedFrame
{
    bool ok = false;
    // The steps taken, outermost first: "Base64 → gzip → CBOR".
    QString decoder;
    QJsonValue json;
    // False when JSON cannot hold the value as it came (byte strings, tags,
    // keys that are no strings): `shown` then says it in the decoder's own
    // notation.
    bool exact = true;
    QString shown;
    QString problem;

    // The JSON on one line, as a row shows it.
    QString compact() const;
    // The JSON indented, for the pane's copy button.
    QString indented() const;

    // A map's members as one object, a later key replacing an earlier one.
    // QJsonObject keeps its keys sorted and moves the rest for each insert
    // out of order; sorted first, every insert is an append.
    using Members = QList<std::pair<QString, QJsonValue>>;
    static QJsonObject objectOf(Members members);
};

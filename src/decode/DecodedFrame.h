#pragma once

#include <QJsonValue>
#include <QString>

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
};

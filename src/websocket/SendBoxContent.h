#pragma once

#include <QString>

// What the send box holds and how it goes out: a send from the box, a recalled
// one, or a saved message.
struct SendBoxContent
{
    QString text;
    // `text` is hexadecimal bytes rather than plain text.
    bool hex = false;
    // A binary frame rather than a text frame.
    bool binary = false;

    bool operator==(const SendBoxContent& other) const
    {
        return text == other.text && hex == other.hex && binary == other.binary;
    }
    bool operator!=(const SendBoxContent& other) const { return !(*this == other); }
};

#pragma once

#include <QByteArray>
#include <QString>

// The identification text a meter prints after "rrrrrr\r\n" and six "." (the datalogger's
// update reads it the same way, byte by byte): "v" and the firmware up to a blank, then after
// "#" the serial number up to a blank, then after "#" the active range. Anything before the
// first "v" (an echo, a reading line) is skipped. This is where tarvik-cli takes the connected
// meter's serial number from; the main screen carries none.
class MeterIdentText
{
public:
    struct Fields
    {
        QString firmware; // with its "v", e.g. "v4.1A"; empty when no "v" came
        QString serial; // empty when the text holds none
        QString range; // one character, or empty
    };
    static Fields Parse(const QByteArray &text);
    // What is shown where the serial number is not known.
    static QString NotRead() { return QStringLiteral("serial number not read"); }
};

#pragma once

#include <QByteArray>
#include <QString>

// One reading line of the meter's run-mode stream, taken apart: flow value and unit, total and
// unit, high flow, low flow and the two relay tokens ("*" at the end = relay on). The flow and
// total values keep the blanks that follow them (the log rows hold them so); the display texts
// add the unit. A "T" in the flow (the meter's tracking mark) is dropped.
class ReadingLine
{
public:
    // Only the first kScanLimit characters of a line are looked at.
    static constexpr int kScanLimit = 200;

    QString flowValue;
    QString flowDisplay;
    QString totalValue;
    QString totalDisplay;
    QString high;
    QString low;
    QString relay1;
    QString relay2;

    bool Relay1On() const { return relay1.endsWith(QLatin1Char('*')); }
    bool Relay2On() const { return relay2.endsWith(QLatin1Char('*')); }

    static ReadingLine Parse(const QByteArray &line);
};

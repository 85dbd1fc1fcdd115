#pragma once

#include "base/SheetPage.h"

#include <QStringList>

// The Quixal meter datasheet as data: a heading with the maker, the series and the serial
// number, the meter file's path, four blocks of settings and the ten curve coefficients, each
// value as the form shows it. The Quixal form's print commands fill Fields and render the page.
class QuixalSheet
{
public:
    struct Fields
    {
        QString serial;
        QString pathName;
        QString meterVersion; // the form's version, empty when not identified
        QString revision; // the form's revision, empty when not identified
        QString upPcba;
        QString date;
        QString time;
        QString password;
        QString calibrationDue;
        QString watchdog;
        QString modbusAddr;
        bool noDisplay = false;
        QString displayRefresh;
        QString dacRefresh;
        QString dacFilter;
        QString adcFilter;
        bool vout10 = false; // "V-Out 0-10V"
        QString outputCode; // the last character of the selected "I-Out / V-Out" entry
        QString polarityCode; // the last character of the selected "Polarity" entry
        QString pulseWidth;
        bool protocolOn = false;
        QString unitsLine; // the selected Engineering Units line
        QString xSect;
        QString maxRange;
        QString fullScale;
        QString cFactor;
        QString zeroOffset;
        QString zeroCutoff;
        QStringList coefficients;
    };

    static SheetPage Build(const Fields &fields, const SheetMetrics &metrics);

    // "Output Voltage is for" by output code "0" to "3", and "Frequency Polarity" by code "0"
    // or "1"; any other code gives an empty text.
    static QString OutputText(const QString &code);
    static QString PolarityText(const QString &code);
};

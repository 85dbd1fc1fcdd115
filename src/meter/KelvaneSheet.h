#pragma once

#include "base/SheetPage.h"
#include "meter/KelvaneFieldRules.h"

#include <QStringList>

#include <array>

// The Kelvane meter datasheet as data: one page listing the meter's settings under four
// headings, each line with the meter's parameter number, a label and the value the form shows.
// The form's print commands fill Fields from what the form shows and render the page.
class KelvaneSheet
{
public:
    // What the sheet prints, as the form shows it.
    struct Fields
    {
        QString pathName; // the document's full path
        // The form shows a ">= 4.1A" meter: the fields earlier firmware lacks are printed too.
        bool extended = false;
        QString meterVersion; // the form's "Flow Meter" version, empty when not identified
        QString revision; // the form's revision, empty when not identified
        QString serial;
        QString upPcba;
        int refresh = 0; // slider positions
        int contrast = 0;
        QString date;
        QString time;
        QString password;
        QString calibrationDue;
        QString dacTime;
        QString dacFilter;
        QString adcFilter;
        QString activeRange;
        std::array<QString, 4> alarmLine; // the selected "Function" lines, empty when none
        std::array<QString, 4> alarmValue;
        std::array<QString, 4> alarmDelay;
        bool holdFlow1 = false;
        bool holdFlow2 = false;
        QString unitsLine; // the selected Engineering Units line
        QString watchdog;
        QString xSect;
        QString maxRange;
        QString fullScale;
        QString cFactor;
        QString zeroOffset;
        QString zeroCutoff;
        QString adcGain;
        QString adcOffset;
        QString curveFit; // the selected curve-fit choice
        QStringList primary;
        QStringList secondary;
        QStringList pointWise; // 0 % to 100 %
    };

    // For a form that is not extended, the fields rules says firmware before 4.1A lacks (hold
    // flow, watchdog, uP PCBA number, secondary and point-wise lists) are left off the page.
    static SheetPage Build(const Fields &fields, const SheetMetrics &metrics,
        const FieldRules &rules = KelvaneFieldRules::Table());

    // Whether a form prints with the ">= 4.1A" rules: its document's table section says so
    // ("[3.9G]" and "[4.0A]" do not, "[4.1A]" does); for any other section the form's
    // "Template" label decides.
    static bool IsExtended(const QString &section, const QString &templateLabel);
};

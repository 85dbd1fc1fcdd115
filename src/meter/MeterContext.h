#pragma once

#include <QString>

// What one meter document works with, beside its table's own layout: the working firmware
// version its layouts are chosen by, the firmware version and revision of the meter its values
// belong to, the engineering-units code they are shown in and the curve-fit choice. Each document
// owns one and hands it to the transfers and rules that work for it, so that two forms open at
// once never share one.
struct MeterContext
{
    // The window layer hands it the version in force when it makes the document; building a
    // table normalises it (MeterVars::ChooseSection). Empty: every requested section stands.
    QString version;
    QString meterVersion; // empty for a file no meter was identified for
    QString revision;
    int units = 0; // "flow_func": the units the fields were last shown or collected in
    int curveFit = 0; // 0..3
};

#pragma once

#include <QString>

// Process-wide meter and window state, shared by the windows on the user-interface thread.
// Which window writes which value is noted beside it.

constexpr const char *kAppTitle = "Tarvik V2.16";

extern QString
    g_DocVersion; // working firmware version (preferences, new-window commands, documents)
extern QString g_MeterModel; // 3-character model the connected meter reported (terminal)
extern QString g_MeterVersion; // 4-character firmware version it reported (terminal)
extern QString g_MeterRevision; // its revision letter (terminal)
extern QString g_MeterNumber; // its active range number (terminal)
extern QString
    g_MeterSerial; // its serial number: from the last image read, or the identification text
extern QString g_DocMeterVersion; // the meter documents' copy of g_MeterVersion
extern QString g_DocRevision; // the meter documents' copy of g_MeterRevision
extern int g_DocKind; // kind of window about to be created: 1 meter form, 2 terminal, 5 Quixal form
extern unsigned char g_ModbusEnabled; // 1 while the Modbus port object is in use
extern unsigned char g_FlowUnits; // engineering-units code in force on the meter forms
extern int g_CurveFit; // curve-fit code 0..3 of the meter forms
extern int g_SelectDone; // a range change finished; the form sends nine "r" on its next tick
extern int editField; // field being edited on a meter form, 0 for none

// Puts every value above back to its start-of-program state (for tests).
void ResetGlobals();

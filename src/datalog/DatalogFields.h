#pragma once

#include <QString>

#include <array>

// What the datalogger form shows and the user types, as texts and flags: the form's widgets
// mirror it, the GUI-free logger reads and writes it. Initial texts are the form template's.
struct DatalogFields
{
    // DATE/TIME clock display
    QString clockDate;
    QString clockTime;
    // TIMER
    QString startDate;
    QString startTime;
    QString stopDate;
    QString stopTime;
    bool timerEnabled = false;
    // SNAPSHOT INTERVAL
    QString hour;
    QString min;
    QString sec;
    // E-LOG OPTIONS, in kOptionNames' order
    std::array<bool, 8> options {};
    static constexpr const char *kOptionNames[8] = { "Date", "Time", "Flow Rate", "Totalizer",
        "High Flow", "Low Flow", "Relay 1", "Relay 2" };
    // E-LOG FILENAME
    QString fileName;
    // FLOW METER PARAMETERS
    QString serialNumber;
    QString firmwareRev;
    QString activeRange;
    QString calibrationDate;
    QString flowRange;
    QString xSection;
    QString zeroOffset;
    // CURRENT READINGS
    QString flowRate;
    QString totalFlow;
    QString highFlow;
    QString lowFlow;
    bool relay1On = false;
    bool relay2On = false;
    // Flow Meter Snapshots Available
    QString capacity = QStringLiteral("Snapshots");
    // Z-OZUVED ACTIVITY
    QString status = QStringLiteral("STATUS");
    QString mode = QStringLiteral("STATUS");
    // How far the running meter dialogue is; empty when none runs.
    QString progress;
};

#pragma once

#include <QByteArray>
#include <QString>

// The datalogger's working values besides the form's fields and the log lists: logging flags,
// the TIMER window taken at START (PC), the row counter, the pending status changes and what
// the meter dialogue learnt about the meter.
struct LoggerState
{
    bool loggingActive = false;
    bool timerWindowEntered = false;
    bool meterParametersRead = false;
    // "Enable Timer Function" as it was at START (PC): unticking it later cannot leave a timed
    // log without its start or stop.
    bool pcTimerMode = false;

    // Two-digit year, month, day and seconds since midnight of the TIMER window.
    int startYear = 0;
    int startMonth = 0;
    int startDay = 0;
    int stopYear = 0;
    int stopMonth = 0;
    int stopDay = 0;
    int startTime = 0;
    int stopTime = 0;
    int nowTime = 0;

    int rowNumber = 1;
    QByteArray lastReadingLine;
    int displayOnly = 0;

    QString flowUnits = QStringLiteral("SCFM");
    QString totalUnits = QStringLiteral("SCF");
    unsigned memoryFigure = 0;
};

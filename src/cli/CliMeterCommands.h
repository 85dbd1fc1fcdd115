#pragma once

#include "base/Task.h"

#include <QString>

class CliContext;
class CliMeter;
class MeterSeriesModel;

// tarvik-cli's commands that talk to a meter, each one dialogue on the context's runner:
// identify, read, send (CliSend), diff against the meter, and the presence check the
// datalogger's commands begin with.
class CliMeterCommands
{
public:
    explicit CliMeterCommands(CliContext &context)
        : m_cli(context)
    {
    }

    Task<void> Identify();
    Task<void> Read();
    Task<void> Send();
    Task<void> Diff();
    // Whether a meter answers on the port (identify's 3 s presence wait); said and the status
    // set when not.
    Task<void> CheckAnswers();

private:
    // Reads the meter into found: 0, or the status with the reason in error.
    Task<int> ReadMeter(CliMeter &meter, MeterSeriesModel &found, QString *error);
    // Opens meter's port; false (said, and the status set) when it cannot be opened.
    Task<bool> OpenMeter(CliMeter &meter);
    // "Meter did not answer: ..." naming the port and speed tried.
    static QString Silent(const CliMeter &meter);

    CliContext &m_cli;
};

#pragma once

#include "base/Task.h"

#include <QString>

class DatalogModel;
class MeterDialogue;

// The meter logger's configuration: SEND CONFIGURATION writes the form's start and stop dates
// and times, interval, options and timer flag to the meter ("955"), READ CONFIGURATION reads
// them back into the form ("954"). Each is a dialogue on the meter dialogue's runner, built on
// its steps, and leaves one line in the audit trail however it ends.
class LoggerConfigDialogue
{
public:
    explicit LoggerConfigDialogue(MeterDialogue &meter);

    Task<void> SendConfiguration();
    Task<void> ReadConfiguration();

    // The options as the configuration carries them: Date 128 down to Relay2 1.
    static int OptionsValue(const bool options[8]);

private:
    // One line of the audit trail for the logger's configuration (action "send logger
    // configuration" or "read logger configuration"): the meter as the datalogger identified
    // it, the configuration sent or read in the message. A trail that cannot be written is said.
    void AuditConfiguration(const QString &action, const QString &result);

    MeterDialogue &m_meter;
    DatalogModel &m_model;
};

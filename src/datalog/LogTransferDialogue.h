#pragma once

#include "base/Task.h"

#include <QString>

class DatalogModel;
class DialogueRunner;
class MeterDialogue;

// TRANSFER E-LOG: the meter's stored log read into a file of its own beside the named one, which
// it replaces only when whole; after a Cancel the rest of the log is read and dropped. A dialogue
// on the meter dialogue's runner, built on its steps.
class LogTransferDialogue
{
public:
    explicit LogTransferDialogue(MeterDialogue &meter);

    // The file written when the whole log arrived (to be loaded), else empty.
    Task<QString> TransferMeterLog();
    // After a Cancel mid-transfer: the rest of the log read and dropped.
    Task<void> DrainLog(int remaining);
    // Whether a log transfer runs (from the wake-up to its end), and how many bytes of the
    // log the meter has yet to send: -1 while that is not known.
    bool Transferring() const { return m_transferring; }
    int LogBytesLeft() const { return m_logLeft; }

private:
    MeterDialogue &m_meter;
    DatalogModel &m_model;
    DialogueRunner &m_runner;
    bool m_transferring = false;
    int m_logLeft = -1;
};

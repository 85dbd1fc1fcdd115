#pragma once

#include "base/Task.h"
#include "link/CSerial.h"
#include "lists/CSerialMeterLink.h"

#include <QString>

#include <memory>

class DialogueRunner;
class IFieldAccess;

// The command-line program's end of the meter link: opens the port, identifies the meter from
// its main screen as the terminal does (its serial number from the identification text the
// datalogger reads), and runs the form's command lists through the same
// list run (ListRun) and link the form uses, each wait handed back to the event loop (so Ctrl+C
// cancels at once).
class CliMeter
{
public:
    struct Identity
    {
        QString model;
        QString version;
        QString revision;
        QString range;
        QString serial; // empty when the meter's identification text held none
        // Whether anything came back within the 3 s presence wait (a meter that answered but
        // drew no identification line still did).
        bool answered = false;
    };

    CliMeter(const QString &port, const QString &baud, bool progress, double pace = 1.0);
    ~CliMeter();
    // False with the reason (the system's on its own line) when the port cannot be used.
    // Opens the port and, for a network port, connects on runner: false with why (host and
    // port for a network port) when either fails.
    Task<bool> Open(DialogueRunner &runner, QString *error);
    CSerial &Link() { return *m_serial; }
    const CSerial &Link() const { return *m_serial; }
    // "the meter on /dev/ttyUSB0 at 9600 baud": the port and speed tried, for messages.
    QString Where() const;

    // Asks for the meter's main screen and scans its identification line; false when no
    // identification came. The meter is sent back to its run mode. A meter that sends nothing
    // within 3 s is taken for absent (identity->answered false), so a long dialogue is not
    // begun with it. Without withSerial the identification text is not asked for (a check
    // that the meter answers, before a job that identifies the meter itself).
    Task<bool> Identify(DialogueRunner &runner, Identity *identity, bool withSerial = true);
    // Runs the command list fileName (from the current folder) against fields, its lines on the
    // beat of periodMs (the pace of the form of the same series, MeterSeriesModel): 0 when it
    // ran to its end, 1 when it stopped on a failure (failure says why) or was cancelled (the
    // meter is wound up, and failure says how that went), 2 when the list file cannot be read.
    // fieldCut (when given) tells whether it stopped inside a field's text it was sending.
    Task<int> RunList(DialogueRunner &runner, QString fileName, IFieldAccess &fields, int periodMs,
        QString *failure, bool *fieldCut = nullptr);

private:
    std::unique_ptr<CSerial> m_serial;
    CSerialMeterLink m_link;
    bool m_progress;
};

#pragma once

#include "base/Task.h"
#include "cli/CliArgs.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CliDatalog;
class CliMeter;
class CliMeterFile;
class CSerial;

class CliSignals;
class DialogueRunner;

// tarvik-cli: picks the command from the arguments, checks its options against the help table
// and runs it, the meter commands as one dialogue on a DialogueRunner under the application's
// event loop (Ctrl+C cancels it). Results go to standard output, everything else to standard
// error. main() creates the QCoreApplication and calls Run.
class CliProgram
{
public:
    static constexpr int kDone = 0;
    static constexpr int kMeterFailed = 1;
    static constexpr int kBadInput = 2;
    static constexpr int kPortUnusable = 3;

    CliProgram();
    ~CliProgram();
    int Run(const QStringList &arguments);

private:
    int Dispatch(const CliHelp::Command &command);
    int RunDialogue(Task<void> dialogue);
    bool Progress() const;
    QString PortArg();
    QString Baud() const;
    double Pace() const;

    int Ports();
    int Show();
    int Set();
    int Convert();
    int Sheet();
    Task<void> Identify();
    Task<void> Read();
    Task<void> Send();
    // The send's steps around the send list: read the meter into found (0, or the status with
    // the reason said), and read it back after the send and compare (true when it holds what
    // was sent; mismatch names the fields when not).
    Task<int> ReadMeter(CliMeter &meter, CliMeterFile &found, QString *error);
    Task<bool> Verify(CliMeter &meter, CliMeterFile &sent, QString *mismatch);
    Task<void> Diff();
    int Report();
    Task<void> Modbus();
    int Log();
    int Transfer();
    // Runs a datalogger job that start begins on the meter link, under the event loop.
    int RunDatalog(const std::function<void(CliDatalog &)> &start);
    // The meter file named on the command line, opened; null (and said) when it cannot be.
    std::unique_ptr<CliMeterFile> OpenFile(const QString &path);
    // Opens the meter link for the datalogger's commands; null and the status set when not.
    std::unique_ptr<CSerial> OpenLink();

    CliArgs m_args;
    QString m_name;
    int m_code = kDone;
    DialogueRunner *m_runner = nullptr;
    std::unique_ptr<CliSignals> m_signals;
};

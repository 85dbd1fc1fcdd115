#pragma once

#include "cli/CliContext.h"

#include <QString>
#include <QStringList>

#include <memory>

class CliSignals;

// tarvik-cli: picks the command from the arguments, checks its options against the help table
// and hands it to its family (CliFileCommands, CliMeterCommands, CliModbusCommand,
// CliLogCommands, with CliPublishing for --mqtt), the meter commands as one dialogue on a
// DialogueRunner under the application's event loop (Ctrl+C cancels it). Results go to
// standard output, everything else to standard error. main() creates the QCoreApplication and
// calls Run.
class CliProgram
{
public:
    static constexpr int kDone = CliContext::kDone;
    static constexpr int kMeterFailed = CliContext::kMeterFailed;
    static constexpr int kBadInput = CliContext::kBadInput;
    static constexpr int kPortUnusable = CliContext::kPortUnusable;

    CliProgram();
    ~CliProgram();
    int Run(const QStringList &arguments);

private:
    int Dispatch(const CliHelp::Command &command);
    // Checks every option's value, the data folder and the outputs before anything runs:
    // kDone, or kBadInput with m_prepareError set.
    int Prepare(const CliHelp::Command &command);
    // The end of a run: a standard output that could not be written turns success into 1.
    int Finish(int code);
    enum class OutputKind { MeterFile, Log, Other };
    // Why an output may not be written (empty when it may): its folder missing, a file there
    // without --force, the input itself, a meter file for a log.
    QString OutputRefusal(
        const QString &given, const QString &path, OutputKind kind, const QString &input) const;

    CliContext m_cli;
    std::unique_ptr<CliSignals> m_signals;
    QString m_name;
    QString m_looked;
    QString m_prepareError;
};

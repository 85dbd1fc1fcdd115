#pragma once

#include "base/Task.h"
#include "cli/CliArgs.h"

#include <QByteArray>
#include <QString>

#include <memory>

class CliSignals;
class DialogueRunner;
class MeterSeriesModel;

// What every command of tarvik-cli works with: the arguments, the folders, the port, Ctrl+C,
// the run's exit status and the dialogue in progress, with the helpers for output and
// messages. CliProgram fills it in before it hands the command to its family.
class CliContext
{
public:
    static constexpr int kDone = 0;
    static constexpr int kMeterFailed = 1;
    static constexpr int kBadInput = 2;
    static constexpr int kPortUnusable = 3;

    // Standard output (results); a failure to write it is kept (OutputFailed) and the run
    // ends with status 1 however it went, as output lost on a full disk is no success.
    static void Out(const QString &text);
    // Bytes as they stand (a meter's raw stream), the same failure kept.
    static void OutBytes(const QByteArray &bytes);
    // Standard error, every line after "tarvik-cli: ".
    static void Err(const QString &text);
    static bool OutputFailed();
    // The system's reason for the first failure to write standard output.
    static QString OutputError();
    static void SetOutputFailed(const QString &reason);
    static QString Capital(const QString &text);
    // As the form's export names it: ".pdf" added when missing, so a meter file given by
    // mistake is never written over.
    static QString PdfName(const QString &given);

    CliArgs args;
    CliSignals *signals = nullptr;
    DialogueRunner *runner = nullptr; // of the dialogue in progress (RunDialogue)
    int code = kDone;
    QString startDir;
    QString dataDir;
    QString port; // --port as a device path
    bool publishing = false; // --mqtt: readings go to the broker
    bool interruptEnds = false; // Ctrl+C is the command's normal end (watch), not a failure

    // A path the user gave, as the program opens it after entering the data folder.
    QString UserPath(const QString &given) const;
    QString PortArg() const { return port; }
    QString Baud() const;
    double Pace() const;
    // Whether a meter dialogue shows its progress (standard error is a terminal, no --quiet).
    bool Progress() const;
    // Runs dialogue on a DialogueRunner under the event loop, Ctrl+C cancelling it; the status.
    int RunDialogue(Task<void> dialogue);
    // The meter file at path in the model of its series; null (and said) when it cannot be
    // opened.
    static std::unique_ptr<MeterSeriesModel> OpenFile(const QString &path);
};

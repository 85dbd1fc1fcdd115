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
class MqttPublisher;

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
    // Checks every option's value, the data folder and the outputs before anything runs:
    // kDone, or kBadInput with m_prepareError set.
    int Prepare(const CliHelp::Command &command);
    // The end of a run: a standard output that could not be written turns success into 1.
    int Finish(int code);
    static bool OutputFailed();
    // A path the user gave, as the program opens it after entering the data folder.
    QString UserPath(const QString &given) const;
    enum class OutputKind { MeterFile, Log, Other };
    // Why an output may not be written (empty when it may): its folder missing, a file there
    // without --force, the input itself, a meter file for a log.
    QString OutputRefusal(
        const QString &given, const QString &path, OutputKind kind, const QString &input) const;
    static QString PdfName(const QString &given);
    static QString Capital(const QString &text);
    // "Meter did not answer: ..." naming the port and speed tried.
    static QString Silent(const CliMeter &meter);
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
    // Whether a meter answers on the port (identify's 3 s presence wait); said and the status
    // set when not.
    Task<void> CheckAnswers();
    // Opens meter's port; false (said, and the status set) when it cannot be opened.
    bool OpenMeter(CliMeter &meter);
    // Runs a datalogger job that start begins on the meter link, under the event loop, once a
    // meter has answered.
    int RunDatalog(const std::function<void(CliDatalog &)> &start);
    // The meter file named on the command line, opened; null (and said) when it cannot be.
    std::unique_ptr<CliMeterFile> OpenFile(const QString &path);
    // Opens the meter link for the datalogger's commands; null and the status set when not.
    std::unique_ptr<CSerial> OpenLink();

    // With --mqtt: starts the publisher and waits for the broker to take the connection; false
    // (said, status 2 or 3 set) when the options are wrong or the broker cannot be reached.
    bool StartPublishing();
    // Sends what is still queued (5 s at most) and closes the connection.
    void FinishPublishing();

    CliArgs m_args;
    std::unique_ptr<MqttPublisher> m_publisher;
    QString m_name;
    int m_code = kDone;
    DialogueRunner *m_runner = nullptr;
    std::unique_ptr<CliSignals> m_signals;
    QString m_startDir;
    QString m_port;
    QString m_dataDir;
    QString m_looked;
    QString m_prepareError;
};

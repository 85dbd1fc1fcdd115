#pragma once

#include "base/Task.h"
#include "datalog/LogFileWriter.h"
#include "datalog/ReadingReceiver.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <memory>

class DatalogModel;
class DialogueRunner;

// PC logging: START and STOP in PC Z-OZUVED CONTROLS, the PC log file, the two timers' work
// (clock and status countdowns, snapshots), the reading-line reader, TakeSnapshot and the form's
// field rules. Works on the datalogger's model and reports through its sink; the core calls it
// from the form's handlers (START (PC) once the meter dialogue has checked the meter).
//
// The line reader runs while snapshots are taken: a wait for readable input on a runner of its
// own, so a reading line is taken as it arrives. It leaves the port alone while a dialogue holds
// it (SerialPort::Claim) and goes on after. A message its bytes cause (a line too long, a log
// file that cannot be written) is shown from the event loop after the reader's step, never
// from inside it.
class PcLogger
{
public:
    static constexpr int kClockTimer = 200;
    static constexpr int kSnapshotTimer = 300;
    // Bytes the line reader takes from the link in one step at most: it drains what is pending,
    // and the bound keeps a flooding link from holding the window.
    static constexpr int kMaxBytesPerStep = 4096;
    // The longest single wait for input (it is begun again after), and how often a port that a
    // dialogue holds, or that is closed or gone, is looked at again.
    static constexpr int kReadWaitMs = 1000;
    static constexpr int kLookAgainMs = 40;
    static constexpr const char *kTerminalOpenText = "The terminal window on this port takes "
                                                     "readings the logger needs: close it for a "
                                                     "complete log";

    enum class Edit { StartDate, StopDate, StartTime, StopTime, Hour, Min, Sec };

    explicit PcLogger(DatalogModel &model);
    ~PcLogger();

    void StartPcLogging();
    void StopPcLogging();
    void ClockTick();
    void SnapshotTick();
    // The line reader's step: hands what the link has pending now (at most kMaxBytesPerStep
    // bytes) to OnReceivedByte, unless logging is off or a dialogue holds the port.
    void ReadPending();
    bool LineReaderRunning() const;
    // One received byte as the line reader handles it; false when logging stopped.
    bool OnReceivedByte(unsigned char byte);
    void TakeSnapshot();

    // An option box was clicked: refused while logging (the boxes show the stored options).
    void OptionClicked(int option, bool checked);
    void TimerEnableClicked(bool checked);
    // The user left an edit of the TIMER or SNAPSHOT INTERVAL group.
    void LeaveField(Edit edit);

    // The column header line for the options: ";Line " and "; Date " ... "; Relay2".
    static QByteArray ColumnHeaderLine(const std::array<bool, 8> &options);
    // "MM/DD/20YY" and "HH:MM:SS AM" as the log writes dates and times.
    static QString LogDate(const QDateTime &t);
    static QString LogTime(const QDateTime &t);

private:
    void WriteHeader(const QDateTime &now);
    void StartSnapshots();
    void WriteFailed();
    bool Reached(int year, int month, int day, int seconds, const QDateTime &now) const;
    Task<void> LineReader();
    // A message to the user: shown now, or within the reader's step from the event loop after.
    void Say(const QString &text, const QString &caption);

    DatalogModel &m_model;
    LogFileWriter m_file;
    ReadingReceiver m_receiver;
    bool m_inReaderStep = false;
    // Last: destroyed first, so the reader's suspended wait goes before what it works on.
    std::unique_ptr<DialogueRunner> m_reader;
};

#pragma once

#include "datalog/LogFileWriter.h"
#include "datalog/ReadingReceiver.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>

class DatalogModel;

// PC logging: START and STOP in PC Z-OZUVED CONTROLS, the PC log file, the three timers' work
// (clock and status countdowns, snapshots, the reading-line receiver), TakeSnapshot and the
// form's field rules. Works on the datalogger's model and reports through its sink; the core
// calls it from the form's handlers (START (PC) once the meter dialogue has checked the meter).
class PcLogger
{
public:
    static constexpr int kClockTimer = 200;
    static constexpr int kSnapshotTimer = 300;
    static constexpr int kLineReaderTimer = 400;
    // Bytes the line reader takes from the link in one tick at most. One byte per tick (100 a
    // second) falls behind a meter that streams faster, so each tick drains what is pending;
    // the bound keeps a flooding link from holding the window.
    static constexpr int kMaxBytesPerTick = 4096;
    static constexpr const char *kTerminalOpenText = "The terminal window on this port takes "
                                                     "readings the logger needs: close it for a "
                                                     "complete log";

    enum class Edit { StartDate, StopDate, StartTime, StopTime, Hour, Min, Sec };

    explicit PcLogger(DatalogModel &model);

    void StartPcLogging();
    void StopPcLogging();
    void ClockTick();
    void SnapshotTick();
    void LineReaderTick();
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

    DatalogModel &m_model;
    LogFileWriter m_file;
    ReadingReceiver m_receiver;
};

#pragma once

#include "base/Task.h"
#include "datalog/LogFileWriter.h"
#include "datalog/ReadingReceiver.h"
#include "link/SerialPort.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <QElapsedTimer>

#include <array>
#include <deque>
#include <memory>

class DatalogModel;
class DialogueRunner;

// PC logging: START and STOP in PC Z-OZUVED CONTROLS, the PC log file, the clock, the status
// countdowns and the snapshots (each a timed dialogue on a runner of its own), the reading-line
// reader, TakeSnapshot and the form's field rules. Works on the datalogger's model and reports
// through its sink; the core calls it from the form's handlers (START (PC) once the meter
// dialogue has checked the meter).
//
// The line reader runs while snapshots are taken: a subscriber of the link
// (SerialPort::Subscribe), so it gets every reading line between dialogues as it arrives, beside
// any terminal window on the same port. A message its bytes cause (a line too long, a log file
// that cannot be written) is shown from the event loop after the reader's step, never from
// inside it.
//
// A snapshot logs each reading of the stream once when the meter streams as often as the
// snapshots fall due: a row takes the last reading received by its due time that no row took
// yet; where none is new, it waits for the meter's next line (kReadingWaitMaxMs at most, half an
// interval for a short one) before it repeats the last. A reading late by a moment is then
// logged late, not replaced by a repeat and lost to the row after.
class PcLogger
{
public:
    // The clock is looked at every kClockRefreshMs, every kWatchMs while a PC Timer Mode run
    // waits for its start or stop time. "SNAPSHOT" shows kSnapshotShownMs before "Z-Ozuved
    // Running" comes back, "STOPPED" kStoppedShownMs before "IDLE".
    static constexpr int kClockRefreshMs = 100;
    static constexpr int kWatchMs = 10;
    static constexpr int kSnapshotShownMs = 250;
    static constexpr int kStoppedShownMs = 150;
    // Bytes the line reader has the link deliver in one step at most.
    static constexpr int kMaxBytesPerStep = 4096;
    // The longest a due row waits for a reading no row took yet.
    static constexpr int kReadingWaitMaxMs = 1000;
    // Readings received since the last row that are kept for the next ones.
    static constexpr int kFreshReadingsKept = 16;

    enum class Edit { StartDate, StopDate, StartTime, StopTime, Hour, Min, Sec };

    explicit PcLogger(DatalogModel &model);
    ~PcLogger();

    void StartPcLogging();
    void StopPcLogging();
    // The clock's dialogue, from the form's first showing on: ClockTick at its pace.
    void StartClock();
    bool ClockRunning() const;
    // One look at the clock: the clock fields, and a PC Timer Mode run's start and stop.
    void ClockTick();
    // One snapshot, as the snapshot dialogue takes it every interval while logging: a row of
    // the last reading received by the row's due time that no row took yet, else of the first
    // received after it, else of the last reading again.
    void SnapshotTick();
    // How long a due row waits for a new reading before it repeats the last one.
    static int ReadingWaitMs(int periodMs);
    // The snapshot interval while snapshots are taken, in ms; 0 otherwise.
    int SnapshotPeriodMs() const { return m_snapshotPeriodMs; }
    // No row is taken before the meter's first reading line (the command line's log: a row
    // without a reading is no use to it).
    void SetRowsWaitForAReading(bool wait) { m_rowsWaitForAReading = wait; }
    // The line reader's step: has the link deliver what is pending now (at most
    // kMaxBytesPerStep bytes, unless a dialogue holds the port) and hands the reader's queue to
    // OnReceivedByte.
    void ReadPending();
    bool LineReaderRunning() const;
    // Bytes the line reader took since START.
    qint64 BytesReceived() const { return m_bytesReceived; }
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
    Task<void> Clock();
    Task<void> Snapshots(int periodMs);
    // After ms, "IDLE" (stopped) or, still logging, "Z-Ozuved Running"; replaces the one
    // pending.
    void StatusAfter(int ms, bool stopped);
    Task<void> ShowStatusAfter(int ms, bool stopped);
    void WriteFailed();
    bool Reached(int year, int month, int day, int seconds, const QDateTime &now) const;
    // What the link queued for the line reader, byte by byte, until logging stops.
    void TakeQueued();
    // A message to the user: shown now, or within the reader's step from the event loop after.
    void Say(const QString &text, const QString &caption);
    // The reading line a row takes now (see SnapshotTick); it and the ones before are then no
    // longer new.
    QByteArray TakeRowLine();
    void WriteRow(const QByteArray &line);

    // A reading line received since the last row, and when (ms since the snapshots began).
    struct FreshReading
    {
        qint64 atMs;
        QByteArray line;
    };

    DatalogModel &m_model;
    LogFileWriter m_file;
    ReadingReceiver m_receiver;
    bool m_inReaderStep = false;
    qint64 m_bytesReceived = 0;
    bool m_reading = false; // snapshots are taken: the line reader runs
    int m_snapshotPeriodMs = 0;
    QElapsedTimer m_sinceSnapshotsBegan;
    qint64 m_rowDueMs = 0; // when the next row falls due, on m_sinceSnapshotsBegan
    bool m_rowWaits = false; // a due row waits for the next reading line
    std::deque<FreshReading> m_fresh;
    bool m_rowsWaitForAReading = false;
    // Unsubscribed before what its bytes work on goes.
    SerialPort::Subscription m_subscription;
    // Last: their dialogues end first.
    std::unique_ptr<DialogueRunner> m_clock;
    std::unique_ptr<DialogueRunner> m_snapshots;
    std::unique_ptr<DialogueRunner> m_status;
};

#pragma once

#include "FlowReadings.h"
#include "MeterIdentity.h"
#include "MeterLogger.h"
#include "MeterSettings.h"

#include <QByteArray>
#include <QString>

class PtyPort;

// The simulated Kelvane or Quixal meter: its modes (run, menu, command and the data-entry
// states of command mode), the terminal screens, the reading stream, the command vocabulary
// of the datalogger and of the command lists. Owns what the meter is (identity and image),
// its flow readings and its logger; talks to the program through the PtyPort given to it.
// main() drives it: OnInput with whatever arrived, OnTime on every wake-up, and sleeps for
// NextWakeMs in between.
class MeterSim
{
public:
    explicit MeterSim(PtyPort &port);

    // Loads the logger's stored log and then the meter itself (see MeterIdentity::Init).
    // 1 on success, else 0 with the reason in error.
    int Init(const MeterSettings &settings, QString *error);

    void OnInput(const QByteArray &bytes, qint64 nowMs);
    void OnTime(qint64 nowMs);
    // Milliseconds until OnTime has something to do (at most 1000).
    int NextWakeMs(qint64 nowMs) const;

    const MeterIdentity &Identity() const { return m_meter; }
    // Reading lines of the run-mode stream handed whole to the line (a benchmark's reference).
    qint64 LinesStreamed() const { return m_linesStreamed; }

private:
    enum class Mode { Run, Menu, Command, Item, ImageIn, RangeIn, ConfigIn };

    void OnByte(unsigned char c, qint64 nowMs);
    void OnRunOrMenuByte(unsigned char c, qint64 nowMs);
    void OnCommandByte(unsigned char c, qint64 nowMs);
    void OnLine(const QByteArray &line, qint64 nowMs);
    void RunCommand(const QByteArray &cmd, qint64 nowMs);
    void OnItemLine(const QByteArray &line);
    void OnImageLine(const QByteArray &line);
    void FinishImage();
    void OnRangeLine(const QByteArray &line);
    void OnConfigLine(const QByteArray &line);
    // Counts runs of "e" (stop the logger) and "E" (start it).
    void CountLetters(unsigned char c, qint64 nowMs);

    void Say(const QByteArray &text);
    void Echo(const QByteArray &text);
    void Prompt();
    void StartTicker(qint64 nowMs);
    void EnterRun();
    void EnterCommand();

    void DrawMainScreen();
    void DrawConfigScreen();
    void DrawLoggerScreen();

    MeterLogger::Reading CurrentReading(qint64 nowMs);
    QByteArray ReadingLine(const MeterLogger::Reading &r) const;

    PtyPort &m_port;
    MeterIdentity m_meter;
    FlowReadings m_flow;
    MeterLogger m_logger;
    Mode m_mode = Mode::Run;

    QByteArray m_pending; // answers waiting for the program to fall silent
    qint64 m_lastInputMs = 0;
    QByteArray m_line; // command-mode line being typed
    bool m_lastWasCr = false;
    int m_item = 0; // parameter shown in item mode (221, 140, 813, 812)
    QByteArray m_imageIn; // bytes of an image being written
    QByteArray m_configIn; // values of a logger configuration being written
    qint64 m_entryDeadline = 0; // data-entry states give up after this

    int m_dots = 0;
    int m_deafWakes = 0;
    int m_answerWakes = -1;
    int m_storeWrong = -1;
    qint64 m_lastDotMs = 0;
    int m_lowerE = 0;
    int m_upperE = 0;

    int m_ticks = 0; // apostrophes still to send while idle after a logger command
    qint64 m_nextTickMs = 0;

    qint64 m_nextLineMs = 0;
    qint64 m_linesStreamed = 0;
    qint64 m_nextLoggerMs = 0;
};

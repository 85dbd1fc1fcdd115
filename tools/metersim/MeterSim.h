#pragma once

#include "MeterImage.h"
#include "MeterLogger.h"

#include <QByteArray>
#include <QString>

class PtyPort;

// What the command line chose: series, firmware, identity and files.
struct MeterSettings
{
    bool quixal = false;
    QString version; // "4.1A", "1.4A", ...
    QString revision; // one letter
    QString model; // three characters
    qint64 serial = -1; // -1: keep what the image holds
    int range = 0; // 0: keep what the image holds
    QString varsFile; // layout file
    QString section; // layout section; empty: chosen from the version
    QString imageFile; // meter file; empty: the image lives in memory only
    QString unitsFile; // engineering-units list whose first words the meter prints
    int streamMs = 1000; // run-mode reading line period
    int quietMs = 45; // answers wait until the program has been silent this long
    bool fixedFlow = false; // every reading shows flow (no sine, no noise)
    double flow = 0.0;
    double total = 1234.5678; // totalizer at start
    int tracking = -1; // -1: the image's tracking bit; 0 or 1: forced
    QString logFile; // the logger memory's content at start (as "953" sends it)
    int deafWakes = 0; // wake-ups (eighteen dots) ignored before the first is answered
    int answerWakes = -1; // wake-ups answered before every later one is ignored; -1: all
    int storeWrong = -1; // image offset stored with its lowest bit flipped; -1: none
    bool silent = false; // takes what arrives and never says anything (a meter with a cut line)
    QString memToken; // first word of the "956" answer; empty: "MEM:" and the free bytes in hex
};

// The simulated Kelvane or Quixal meter: its modes (run, menu, command and the data-entry
// states of command mode), the terminal screens, the reading stream, the command vocabulary
// of the datalogger and of the command lists, and its logger. Owns the meter image and the
// logger; talks to the program through the PtyPort given to it. main() drives it: OnInput
// with whatever arrived, OnTime on every wake-up, and sleeps for NextWakeMs in between.
class MeterSim
{
public:
    explicit MeterSim(PtyPort &port);

    // Loads the layout and the meter file (or builds a factory image), applies the command
    // line's serial number and range. 1 on success, else 0 with the reason in error.
    int Init(const MeterSettings &settings, QString *error);

    void OnInput(const QByteArray &bytes, qint64 nowMs);
    void OnTime(qint64 nowMs);
    // Milliseconds until OnTime has something to do (at most 1000).
    int NextWakeMs(qint64 nowMs) const;

    // The identification text of the datalogger dialogue ("v" + firmware ...).
    QByteArray IdentText() const;
    // The terminal's identification line (model, " v", firmware, "Rev.", range).
    QByteArray IdentLine() const;
    const MeterImage &Image() const { return m_image; }
    // One reading as the run-mode line shows its values: every value is followed by at least
    // one blank, whatever its size, so no value runs into its unit.
    static MeterLogger::Reading FormatReading(
        double flow, bool tracking, double total, double high, double low, double fullScale);

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

    int Range() const;
    void SetRange(int range);
    quint32 Serial() const;
    int UnitsCode() const;
    QString FlowUnits() const;
    double FullScale() const;
    QString XSectText() const;
    QString CalDateText() const;
    QString ItemValue(int item) const;
    void SaveImage();

    MeterLogger::Reading CurrentReading(qint64 nowMs);
    QByteArray ReadingLine(const MeterLogger::Reading &r) const;

    PtyPort &m_port;
    MeterSettings m_settings;
    MeterImage m_image;
    QStringList m_unitNames; // by units code, from the units list
    MeterLogger m_logger;
    Mode m_mode = Mode::Run;
    int m_quixalRange = 1;

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

    qint64 m_startMs = -1;
    qint64 m_nextLineMs = 0;
    qint64 m_lastFlowMs = -1;
    qint64 m_nextLoggerMs = 0;
    double m_total = 1234.5678;
    double m_high = 0.0;
    double m_low = -1.0;
    quint32 m_noise = 12345;
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The simulated meter's own datalogger: its 17-value configuration (what "955" writes and
// "954" returns), its run state (stopped, armed by its timer, running) and the log memory
// that "953" transfers, written in the layout of a PC log file from its third line on so the
// program's LOAD reads both alike. Owned by MeterSim, which feeds it the current reading.
class MeterLogger
{
public:
    // One reading, as the run-mode line shows it; flow and total keep their trailing blanks.
    struct Reading
    {
        QString flow;
        QString total;
        QString high;
        QString low;
        QString relay1;
        QString relay2;
    };

    static constexpr int kConfigSize = 17;
    static constexpr int kCapacity = 32000; // bytes of log memory

    MeterLogger();

    // Start month, day, year, stop month, day, year, start h, m, s, stop h, m, s, interval
    // h, m, s, options (Date 128 ... Relay2 1), timer enabled.
    QByteArray Config() const { return m_config; }
    void SetConfig(const QByteArray &config);
    // Puts a stored log in the memory as it is (a meter that logged before the simulation).
    void Preload(const QByteArray &text) { m_text = text; }

    // Clears the memory and starts logging now.
    void StartManual(const QDateTime &now, const QString &serial, const QString &flowUnits);
    // Clears the memory and waits for the configured start date and time; stops at the stop
    // date and time.
    void Arm(const QString &serial, const QString &flowUnits);
    // Ends a run or an armed wait; a run's stop line is stored.
    void Stop(const QDateTime &now);
    // Starts or stops an armed run when its time has come and stores a row when one is due.
    void Tick(const QDateTime &now, const Reading &reading);

    bool IsRunning() const { return m_state == State::Running; }
    bool IsArmed() const { return m_state == State::Armed; }
    int Rows() const { return m_rows; }
    int IntervalSeconds() const;
    QByteArray LogText() const { return m_text; }
    int FreeBytes() const;
    QString StateText() const;

private:
    enum class State { Stopped, Armed, Running };
    void Begin(const QDateTime &now);
    QDateTime ConfigTime(int first) const;

    QByteArray m_config;
    State m_state = State::Stopped;
    QByteArray m_text;
    QString m_serial;
    QString m_units;
    QDateTime m_nextRow;
    int m_rows = 0;
    bool m_full = false;
};

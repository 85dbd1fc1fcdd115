#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

class DatalogCore;

// The datalogger's dialogue with the meter's own logger over the meter link: waking the meter
// into command mode, reading its identification and parameters, checking its firmware, sending
// and reading the logger configuration, starting and stopping the logger, transferring its
// stored log, and LOAD. Every wait polls the non-blocking ReadByte and is bounded by a poll
// count, which the link's timing turns into a deadline. Runs to completion inside the button
// handler that starts it; status words go to the form through the core's sink.
class MeterDialogue
{
public:
    static constexpr unsigned char kAck = 0x1C;

    explicit MeterDialogue(DatalogCore &core);

    void WaitForAck(int rounds);
    bool WaitForPrompt();
    bool ContactMeter();
    bool ReadMeterValue(const QByteArray &number, QString *value);
    void ReturnToRunMode();
    bool RefreshMeterParameters();
    bool CheckMeter();

    // The form's buttons.
    void Update();
    void SendConfiguration();
    void ReadConfiguration();
    void StartMeter();
    void StopMeter();
    void TransferMeterLog();
    void LoadLog();

    // The options as the configuration carries them: Date 128 down to Relay2 1.
    static int OptionsValue(const bool options[8]);

    static const char *const kCommErrorText;
    static const char *const kCommErrorTitle;
    static const char *const kFirmwareTitle;
    static QString FirmwareMessage();

private:
    // A byte from the meter before the deadline; false when none came (or there is no link).
    bool ReadBy(const QDeadlineTimer &deadline, unsigned char *byte);
    QDeadlineTimer Within(qint64 polls) const;
    // Reads until the wanted byte arrives; false when the polls run out first.
    bool WaitForByte(unsigned char wanted, qint64 polls);
    // Collects bytes up to the next blank (not kept); false when the polls ran out.
    bool CollectWord(qint64 polls, QByteArray *word);
    // A pause as long as the given number of input purges.
    void Pause(qint64 purges);
    void Send(const QByteArray &text);
    void SendCommand(const QByteArray &text);
    void Purge();
    void NotResponding();

    DatalogCore &m_core;
};

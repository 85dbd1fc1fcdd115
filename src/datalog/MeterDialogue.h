#pragma once

#include "base/Task.h"
#include "link/SerialPort.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class DatalogModel;
class DialogueRunner;

// The datalogger's dialogue with the meter's own logger over the meter link: waking the meter
// into command mode, reading its identification and parameters, checking its firmware, sending
// and reading the logger configuration, starting and stopping the logger, and transferring its
// stored log. Each dialogue is a coroutine on the core's DialogueRunner: every wait is bounded
// by a poll count, which the link's timing turns into a deadline, and returns to the event loop
// meanwhile. After a Cancel every wait returns at once and the dialogue ends without a message
// or a field change. Status words and progress go to the form through the model's sink.
class MeterDialogue
{
public:
    static constexpr unsigned char kAck = 0x1C;
    static constexpr int kContactAttempts = 5;

    MeterDialogue(DatalogModel &model, DialogueRunner &runner);

    Task<void> WaitForAck(int rounds);
    Task<bool> WaitForPrompt();
    Task<bool> ContactMeter();
    Task<bool> ReadMeterValue(QByteArray number, QString *value);
    Task<void> ReturnToRunMode();
    Task<bool> RefreshMeterParameters();
    Task<bool> CheckMeter();

    // The form's buttons, each holding the meter port for its whole length. A port that is not
    // open, or that another window's dialogue holds, is said at once.
    Task<void> Update();
    Task<void> SendConfiguration();
    Task<void> ReadConfiguration();
    Task<void> StartMeter();
    Task<void> StopMeter();
    // The file written when the whole log arrived (to be loaded), else empty.
    Task<QString> TransferMeterLog();
    // START (PC)'s check of the meter: true when logging may start.
    Task<bool> CheckBeforeLogging();
    // After a Cancel mid-transfer: the rest of the log read and dropped.
    Task<void> DrainLog(int remaining);
    // After a Cancel: the run-mode command, so the meter streams readings again.
    Task<void> BackToRunMode();
    // Whether the meter was woken into command mode and not yet sent back to run mode.
    bool InCommandMode() const { return m_commandMode; }
    // Whether a log transfer runs (from the wake-up to its end), and how many bytes of the
    // log the meter has yet to send: -1 while that is not known.
    bool Transferring() const { return m_transferring; }
    int LogBytesLeft() const { return m_logLeft; }

    // What a dialogue has to tell the user is not shown from inside it: it is kept, in order,
    // for the dialogue's owner to show once the dialogue has ended (ShowMessages).
    void Say(const QString &text, const QString &caption);
    bool HasMessages() const { return !m_messages.isEmpty(); }
    // Shows the kept messages through UserMessage::Show, in order, and forgets them.
    void ShowMessages();

    // The options as the configuration carries them: Date 128 down to Relay2 1.
    static int OptionsValue(const bool options[8]);

    static const char *const kCommErrorText;
    static const char *const kCommErrorTitle;
    static const char *const kFirmwareTitle;
    static const char *const kPortBusyText;
    // The status while the meter finishes a log whose transfer was cancelled.
    static const char *const kDrainingStatus;
    static QString FirmwareMessage();

private:
    // The one wait of the dialogue: bytes from the meter, each handed to done, until done says
    // the wait is over (true) or the polls run out, the link is gone or Cancel came (false).
    Task<bool> ReadUntil(qint64 polls, std::function<bool(unsigned char)> done);
    Task<bool> ReadOne(qint64 polls, unsigned char *byte);
    Task<bool> WaitForByte(unsigned char wanted, qint64 polls);
    // Collects bytes up to the next blank (not kept); false when the polls ran out.
    Task<bool> CollectWord(qint64 polls, QByteArray *word);
    // A pause as long as the given number of input purges.
    Task<void> Pause(qint64 purges);
    // SendStringAsync: the link's result (0 when Cancel stopped it before the last byte).
    Task<int> Send(QByteArray text);
    Task<void> SendCommand(QByteArray text);
    void Purge();
    Task<void> NotResponding();
    // One line of the audit trail for the logger's configuration (action "send logger
    // configuration" or "read logger configuration"): the meter as the datalogger identified
    // it, the configuration sent or read in the message. A trail that cannot be written is said.
    void AuditConfiguration(const QString &action, const QString &result);
    // Takes the port for a dialogue; false (and the user told why) when it cannot be used.
    bool Begin(SerialPort::Claim *claim);
    // The link's presence check: false, with the port and speed said, when the meter sends
    // nothing within seconds, so no dialogue runs into its long time-outs.
    Task<bool> MeterAnswers();
    bool Cancelled() const;

    DatalogModel &m_model;
    DialogueRunner &m_runner;
    bool m_commandMode = false;
    bool m_transferring = false;
    int m_logLeft = -1;
    struct Message
    {
        QString text;
        QString caption;
    };
    QList<Message> m_messages;
};

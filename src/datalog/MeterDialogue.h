#pragma once

#include "base/Task.h"
#include "link/SerialPort.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

class DatalogModel;
class DialogueRunner;

// The datalogger's dialogue with the meter's own logger over the meter link: waking the meter
// into command mode, reading its identification and parameters, checking its firmware, starting
// and stopping the logger, and the steps the configuration and log transfer dialogues share.
// Each dialogue is a coroutine on the core's DialogueRunner: every wait is bounded by a poll
// count, which the link's timing turns into a deadline for the link's byte reads, and returns to
// the event loop meanwhile. After a Cancel every wait returns at once and the dialogue ends
// without a message or a field change. Status words and progress go to the form through the
// model's sink.
class MeterDialogue
{
public:
    static constexpr unsigned char kAck = 0x1C;
    static constexpr int kContactAttempts = 5;
    // Poll counts of a value's answer and of the long waits (apostrophe, memory token,
    // configuration and log bytes).
    static constexpr qint64 kValuePolls = 200000;
    static constexpr qint64 kLongPolls = 500000;

    MeterDialogue(DatalogModel &model, DialogueRunner &runner);

    Task<void> WaitForAck(int rounds);
    Task<bool> WaitForPrompt();
    Task<bool> ContactMeter();
    Task<bool> ReadMeterValue(QByteArray number, QString *value);
    Task<void> ReturnToRunMode();
    Task<bool> RefreshMeterParameters();
    Task<bool> CheckMeter();

    // The form's buttons, each holding the meter port for its whole length. A port that is not
    // open, or that another window's dialogue holds, is said at once. The configuration and the
    // log transfer are dialogues of their own built on these steps (LoggerConfigDialogue,
    // LogTransferDialogue).
    Task<void> Update();
    Task<void> StartMeter();
    Task<void> StopMeter();
    // START (PC)'s check of the meter: true when logging may start.
    Task<bool> CheckBeforeLogging();
    // After a Cancel: the run-mode command, so the meter streams readings again.
    Task<void> BackToRunMode();
    // Whether the meter was woken into command mode and not yet sent back to run mode.
    bool InCommandMode() const { return m_commandMode; }

    // What a dialogue has to tell the user is not shown from inside it: it is kept, in order,
    // for the dialogue's owner to show once the dialogue has ended (ShowMessages).
    void Say(const QString &text, const QString &caption);
    bool HasMessages() const { return !m_messages.isEmpty(); }
    // Shows the kept messages through UserMessage::Show, in order, and forgets them.
    void ShowMessages();

    // The steps the dialogues built on this one share. One byte, or false when the polls ran
    // out, the link is gone or Cancel came.
    Task<bool> ReadOne(qint64 polls, unsigned char *byte);
    // A pause as long as the given number of input purges.
    Task<void> Pause(qint64 purges);
    // SendStringAsync: the link's result (0 when Cancel stopped it before the last byte).
    Task<int> Send(QByteArray text);
    Task<void> SendCommand(QByteArray text);
    void Purge();
    Task<void> NotResponding();
    // Takes the port for a dialogue; false (and the user told why) when it cannot be used.
    bool Begin(SerialPort::Claim *claim);
    // The link's presence check: false, with the port and speed said, when the meter sends
    // nothing within seconds, so no dialogue runs into its long time-outs.
    Task<bool> MeterAnswers();
    bool Cancelled() const;
    DatalogModel &Model() { return m_model; }
    DialogueRunner &Runner() { return m_runner; }
    // A status word as the form shows it.
    static QString Status(const char *text);
    // "attempt 2 of 5": a step's progress.
    static QString OneOf(const char *what, int n, int of);

    static const char *const kCommErrorText;
    static const char *const kCommErrorTitle;
    static const char *const kFirmwareTitle;
    static const char *const kPortBusyText;
    // The status while the meter finishes a log whose transfer was cancelled.
    static const char *const kDrainingStatus;
    static QString FirmwareMessage();

private:
    // The link's reads with a poll count as their deadline; without a link nothing arrives.
    QDeadlineTimer Within(qint64 polls) const;
    Task<bool> WaitForByte(unsigned char wanted, qint64 polls);

    DatalogModel &m_model;
    DialogueRunner &m_runner;
    bool m_commandMode = false;
    struct Message
    {
        QString text;
        QString caption;
    };
    QList<Message> m_messages;
};

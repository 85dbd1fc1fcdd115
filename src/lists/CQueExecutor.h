#pragma once

#include "base/Task.h"
#include "lists/CScript.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class DialogueRunner;
class IFieldAccess;
class IMeterLink;

// Runs a command list one line per step (StepAsync): the commands End, Find, Read, Send, SendCmd,
// Goto and Test, comment lines beginning "//", and any other name as a line that does nothing.
// Owned by a list run (ListRun), which steps it on the beat of the form's list period; the form is
// reached only through SetField/GetField and the meter only through an IMeterLink.
class CQueExecutor
{
public:
    // Step results.
    static constexpr int kContinue = 0;
    static constexpr int kEnded = 1; // "End", or the list has run past its last line
    // A jump to a label no line carries, or a port gone mid-list; the list has said which.
    static constexpr int kBadLabel = -1;
    // Between sending a command and reading its answer: lets the meter start its reply. The read
    // time-outs bound the wait for the reply itself.
    static constexpr int kDefaultPauseMs = 30;
    // Upper bound for a line's read time-outs, so a mistyped number cannot freeze the program.
    static constexpr int kMaxTimeoutMs = 60000;

    CQueExecutor() = default;

    // Loads the list and starts over before its first line.
    void SetLines(const QStringList &lines);
    const QStringList &Lines() const { return m_lines; }
    // Back before the first line with empty buffers, ready to run again.
    void Reset();
    void SetLink(IMeterLink *link) { m_link = link; }
    void SetPauseMs(int ms) { m_pauseMs = qMax(0, ms); }
    // Called while an exchange sends, with the bytes sent so far and the bytes to send (the
    // command and its carriage return), so a long write can show its progress.
    using SendHook = std::function<void(int sent, int total)>;
    void SetSendHook(SendHook hook) { m_sendHook = std::move(hook); }
    // Called with the index and text of each line just before it runs (progress display).
    void SetLineHook(std::function<void(int index, const QString &line)> hook)
    {
        m_lineHook = std::move(hook);
    }

    // Runs the next line against form, as a dialogue on runner whose exchange's waits return to
    // the event loop: kContinue, kEnded or kBadLabel. After "End" or a bad label the list is
    // stopped (Stopped()), and further steps run nothing and give kContinue. Past the last line
    // without "End" every step gives kEnded and runs nothing. A Cancel ends the exchange at its
    // next wait and stops the list (kContinue). What the step has to tell the user (a bad jump,
    // line errors, a port gone) is not shown from inside the dialogue: it is kept in Messages()
    // for the step's owner to show once the dialogue has returned to it (ShowMessages).
    Task<int> StepAsync(IFieldAccess *form, DialogueRunner &runner);

    // A message for the user, as UserMessage::Show takes it.
    struct Message
    {
        QString text;
        QString caption;
    };
    // The messages of the last step, in the order they arose; each step starts with none.
    const QList<Message> &Messages() const { return m_messages; }
    // Shows the last step's messages through UserMessage::Show, in order, and forgets them: for
    // the owner, after the step's dialogue has ended.
    void ShowMessages();

    // The exchange that takes the meter back to run mode, as the list's own last lines send it
    // (the last "Send" of run-mode "r"s, after a carriage return only when the cut left a line
    // half sent: after a whole line it would be an empty line, which ends a meter image), for a
    // run cut short. Empty command when the run has not woken the meter since its start or its
    // last run-mode command, or the list sends none.
    struct WindUp
    {
        QString command;
        int intervalMs = 0;
        int totalMs = 0;
        QString terminator;
    };
    WindUp WindUpExchange() const;
    // Whether text is a run-mode command: one or more "r" and nothing else.
    static bool IsRunModeCommand(const QString &text);

    // Whether the run was cut inside the text of a field it was sending (a meter image): some of
    // its bytes went out, not all; the meter may hold part of it.
    bool FieldCut() const { return m_fieldSending && m_sentBytes > 0 && m_sentBytes < m_sendTotal; }

    int LineIndex() const { return m_index; }
    bool Stopped() const { return m_stopped; }
    const QByteArray &Reply() const { return m_reply; }
    const QString &Value() const { return m_value; }

    // One exchange with the meter, each wait handed back to the event loop: purge, send command
    // and a carriage return, pause, read the reply within the time-outs. 1 when expected is one
    // character and that character occurs in the reply; 0 otherwise (an expected text of any
    // other length never matches).
    static Task<int> MeterExchangeAsync(IMeterLink *link, DialogueRunner &runner, QString command,
        QByteArray &reply, QString expected, int intervalMs, int totalMs,
        int pauseMs = kDefaultPauseMs, SendHook sending = {});
    // Decimal number as the C library's atoi reads it (leading blanks, sign, digits; 0 if none),
    // kept within the int range.
    static int ToInt(const QString &text);

private:
    // After an exchange: when the port's device went away, say so and stop (kBadLabel).
    bool PortWentAway();
    // A line's exchange with the meter: the command, the time-outs in tokens intervalToken and
    // the one after it, the terminator and the label jumped to when no terminator came back.
    struct Exchange
    {
        bool wanted = false;
        bool field = false; // the command is a field's text
        QString command;
        int intervalMs = 0;
        int totalMs = 0;
        QString terminator;
        QString label;
    };
    // Moves to the next line and runs it, except for its exchange, which it leaves in exchange
    // (true) for the caller to carry out and hand to EndExchange.
    bool BeginStep(IFieldAccess *form, Exchange *exchange);
    void Execute(IFieldAccess *form, Exchange *exchange);
    Exchange ExchangeOf(const QString &command, int intervalToken, int terminatorToken) const;
    void EndExchange(const Exchange &exchange, int answered);
    void Find(const QString &text, int offset, int length);
    // Continues at the line carrying label; false (message kept, list stopped) when none does.
    bool GoTo(const QString &label);

    QStringList m_lines;
    CScript m_script;
    IMeterLink *m_link = nullptr;
    std::function<void(int, const QString &)> m_lineHook;
    SendHook m_sendHook;
    int m_pauseMs = kDefaultPauseMs;
    int m_index = -1;
    bool m_stopped = false;
    bool m_meterWoken = false; // a command went out after the start or the last run-mode command
    bool m_lineOpen = false; // the last byte that went out did not end a line
    // The exchange going out: whether it sends a field, its bytes sent so far and in all.
    bool m_fieldSending = false;
    int m_sentBytes = 0;
    int m_sendTotal = 0;
    int m_result = kContinue;
    QByteArray m_reply;
    QString m_value;
    QList<Message> m_messages;
};

#pragma once

#include "link/SerialPort.h"

#include <QDeadlineTimer>

#include <functional>
#include <memory>
#include <vector>

// The meter link: the program's one path to a meter's RS-232 port (8N1, DTR and RTS on, no
// flow control). Owned by CTarvikApp; the terminal, the meter forms, the command lists and the
// datalogger use it from the user-interface thread.
class CSerial : public SerialPort
{
public:
    explicit CSerial(const QString &deviceName, const LinkTiming &timing = {});
    ~CSerial() override;

    void ReopenPort();
    int WriteByte(int byte);

    // The operations of a dialogue run by a DialogueRunner: the pacing and the waits for the
    // reply return to the event loop. ReadAllAsync reads one reply (at most kBufferSize bytes,
    // until the line has been quiet for intervalMs or the total time-out passed) and purges
    // what follows it; SendStringAsync pauses before each byte and ignores the enabled flag,
    // SendCommandAsync pauses after each byte. A Cancel stops a send
    // between two bytes (the result is then 0) and a read at once, with what arrived so far.
    Task<void> ReadAllAsync(
        DialogueRunner &runner, QByteArray &reply, int intervalMs, int totalConstantMs);
    Task<int> SendStringAsync(DialogueRunner &runner, QByteArray text);
    Task<int> SendCommandAsync(
        DialogueRunner &runner, QByteArray text, std::function<void(int sent)> progress = {});

    // A dialogue's reads of single bytes, as they arrive, until the deadline: ReadUntilAsync
    // hands each byte to done until done says the wait is over (true), or the deadline passed,
    // the port went or Cancel came (false); WaitForByteAsync reads until the byte wanted;
    // CollectWordAsync appends to word (at most maxKept bytes kept) up to the next blank, which
    // it does not keep.
    Task<bool> ReadUntilAsync(
        DialogueRunner &runner, QDeadlineTimer deadline, std::function<bool(unsigned char)> done);
    Task<bool> WaitForByteAsync(
        DialogueRunner &runner, unsigned char wanted, QDeadlineTimer deadline);
    Task<bool> CollectWordAsync(
        DialogueRunner &runner, QByteArray *word, int maxKept, QDeadlineTimer deadline);

    // Whether a meter answers on the line: its main screen is asked for (seven "[", as the
    // terminal greets it) and whatever comes within kPresenceMs is read into screen; the meter
    // is then sent back to run mode ("r"), after a Cancel too unless a second one ends that.
    // A check before a long dialogue, so that a silent meter is said in seconds (SilentText).
    Task<bool> AnswersAsync(DialogueRunner &runner, QByteArray *screen = nullptr);
    // "Meter did not answer: nothing came from the meter on PORT at BAUD baud within 3 s ...".
    QString SilentText() const;
    static constexpr int kPresenceMs = 3000;

    // Reads and drops what the meter still sends of a log: its last bytes when their number is
    // known (bytes >= 0), else all that comes. Ends when they are in, when the line has been
    // quiet for quietMs (the meter's idle apostrophes are not counted as output when the number
    // is unknown), after kDrainMaxMs or on Cancel. progress is told how many bytes are left.
    Task<void> DrainAsync(DialogueRunner &runner, int bytes, int quietMs,
        std::function<void(int left)> progress = {});

    // Sends text as SendCommandAsync does, on a runner of the link's own, holding the port
    // meanwhile: for a command that must reach the meter although the window that asked for it
    // is going away (a datalogger closed while the meter is in command mode sends it back to run
    // mode). Nothing is sent when the port is not open, or held by a dialogue, or such a send
    // still runs. drainQuietMs > 0 first lets what the meter still sends (a log it was
    // transferring, drainBytes of it when known) go by, as DrainAsync does, so the command is
    // not lost in the meter's output and the next dialogue does not read its tail as a reply.
    void SendCommandDetached(QByteArray text, int drainQuietMs = 0, int drainBytes = -1);
    // Calls then once no detached send runs: at once when none does, else from the event loop
    // when the send has ended. For what must not happen under a detached send: the port set up
    // anew, the program's end. then must not assume it runs before the caller returns.
    void WhenDetachedEnds(std::function<void()> then);
    // Cuts a detached send's drain short: what is left goes out at once, paced (under 1 s).
    void HurryDetached();
    // WhenDetachedEnds after HurryDetached.
    void AfterDetached(std::function<void()> then);
    // Ends a detached send at once, writing what it has yet to send without pacing: the last
    // resort when the port is closed, opened anew or destroyed under it. Those waiting in
    // WhenDetachedEnds are called from the event loop. Nothing happens when no detached send runs.
    void FinishDetached();
    bool DetachedRunning() const;
    // Whether a detached send still waits for the meter to go quiet (a log it was sending).
    bool DetachedDraining() const { return DetachedRunning() && m_detachedDraining; }

    static constexpr int kSendStringPacingMs = 20;
    static constexpr int kSendCommandPacingMs = 25;
    // The longest drain: a meter's whole log (at most 65,535 bytes) at 9600 baud takes some 68 s.
    static constexpr int kDrainMaxMs = 75000;
    static constexpr int kDetachedMaxBytes = 32;

protected:
    SerialDevice::Format LineFormat() const override;
    void BeforeClose() override { FinishDetached(); }

private:
    int PacingMs(int ms) const;
    // Reads what is pending, at most max bytes when max >= 0; the count read, and whether any
    // byte was other than the meter's idle apostrophe.
    int DropPending(int max, bool *output);

    std::unique_ptr<DialogueRunner> m_detached; // of SendCommandDetached
    QByteArray m_detachedLeft; // the bytes the detached send has yet to send
    bool m_detachedDraining = false; // the detached send waits for the line to go quiet
    std::vector<std::function<void()>> m_afterDetached; // waiting in WhenDetachedEnds
};

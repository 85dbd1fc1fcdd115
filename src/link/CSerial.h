#pragma once

#include "link/SerialPort.h"

#include <functional>
#include <memory>

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

    // Sends text as SendCommandAsync does, on a runner of the link's own, holding the port
    // meanwhile: for a command that must reach the meter although the window that asked for it
    // is going away (a datalogger closed while the meter is in command mode sends it back to run
    // mode). Nothing is sent when the port is not open, or held by a dialogue, or such a send
    // still runs. drainQuietMs > 0 first reads and drops what the meter still sends (a log it
    // was transferring) until the line has been quiet that long, for at most kDrainMaxMs, so
    // the command is not lost in the meter's output and the next dialogue does not read its
    // tail as a reply.
    void SendCommandDetached(QByteArray text, int drainQuietMs = 0);
    // Sends at once, paced, what a detached send has yet to send and ends it: the port is about
    // to be closed, opened anew or destroyed, and the meter must still get its command. Holds
    // the user-interface thread at most kDetachedMaxBytes paced bytes (under 1 s); the drain is
    // skipped. Nothing happens when no detached send runs.
    void FinishDetached();
    bool DetachedRunning() const;

    static constexpr int kSendStringPacingMs = 20;
    static constexpr int kSendCommandPacingMs = 25;
    // The longest drain: a meter's whole log (at most 65,535 bytes) at 9600 baud takes some 68 s.
    static constexpr int kDrainMaxMs = 75000;
    static constexpr int kDetachedMaxBytes = 32;

protected:
    SerialDevice::Format LineFormat() const override;
    void BeforeClose() override { FinishDetached(); }

private:
    // Sends text byte by byte, pausing after each byte and holding the user-interface thread
    // meanwhile: the few bytes a detached send must still get out before the port closes.
    int SendCommandNow(const QByteArray &text);
    void PacingSleep(int ms) const;
    int PacingMs(int ms) const;

    std::unique_ptr<DialogueRunner> m_detached; // of SendCommandDetached
    QByteArray m_detachedLeft; // the bytes the detached send has yet to send
};

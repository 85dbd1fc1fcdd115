#pragma once

#include "base/DialogueRunner.h"
#include "base/Task.h"

#include <QByteArray>
#include <QString>

#include <functional>

class SerialPort;

// The meter-link operations a command-list exchange needs. The meter link is adapted to it by
// CSerialMeterLink; tests put a scripted meter behind it.
class IMeterLink
{
public:
    virtual ~IMeterLink() = default;
    // Discards whatever the meter sent that nobody read.
    virtual void PurgeInput() = 0;

    // The exchange's operations, for a dialogue on a DialogueRunner whose waits return to the
    // event loop. SendCommandAsync sends text byte by byte with the link's command pacing,
    // telling progress (when given) how many bytes have gone out as they go; nonzero when it
    // went out. ReadReplyAsync reads one reply within the time-outs (interval between bytes,
    // total constant), then purges: what arrives until the line has been quiet for the
    // interval, so a meter that sends more after the terminator is read whole (0: none
    // expected). The caller looks for the terminator.
    virtual Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int sent)> &progress)
        = 0;
    virtual Task<void> ReadReplyAsync(DialogueRunner &runner, QByteArray &reply, int intervalMs,
        int totalConstantMs, char terminator)
        = 0;
    // Sends text after the dialogue that needed it is gone (a list cut short winding the meter
    // up), without waiting for an answer.
    virtual void SendDetached(const QByteArray &text) = 0;
    // The serial port behind the link, which a running list holds; null for a link without one.
    virtual SerialPort *Port() const { return nullptr; }
    // The exchange's pause between the command and its reply.
    virtual Task<void> PauseAsync(DialogueRunner &runner, int ms) { co_await runner.Sleep(ms); }
    // Whether an exchange can reach a meter at all; when not, Unreachable says why, naming the
    // port and the system's reason. A link that cannot tell is always reachable.
    virtual bool Reachable() const { return true; }
    virtual QString Unreachable() const { return QString(); }
    // Whether the port's device went away during the dialogue (the adapter pulled out): the
    // exchange then ends at once and Unreachable names the port.
    virtual bool PortGone() const { return false; }
    // The receive errors the line had since the dialogue started, as a sentence for the user
    // (SerialPort::LineErrorText); empty where none came or nothing counts them.
    virtual QString LineErrors() const { return QString(); }
};

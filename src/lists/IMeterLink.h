#pragma once

#include "base/DialogueRunner.h"
#include "base/Task.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <functional>

class SerialPort;

// The three meter-link operations a command-list exchange needs. The meter link is adapted to it
// by CSerialMeterLink; tests put a scripted meter behind it.
class IMeterLink
{
public:
    virtual ~IMeterLink() = default;
    // Discards whatever the meter sent that nobody read.
    virtual void PurgeInput() = 0;
    // Sends text byte by byte with the link's command pacing; nonzero when it went out.
    virtual int SendCommand(const QByteArray &text) = 0;
    // As SendCommand, telling progress how many bytes have gone out as they go. A link that
    // cannot tell sends the whole text and reports it once.
    virtual int SendCommandReporting(
        const QByteArray &text, const std::function<void(int sent)> &progress)
    {
        const int result = SendCommand(text);
        if (progress)
            progress(int(text.size()));
        return result;
    }
    // One reply within the time-outs (interval between bytes, total constant), then purge.
    virtual void ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs) = 0;
    // One reply that should hold terminator. The reply is what arrives until the line has been
    // quiet for the interval, as ReadAll reads it: a terminator does not end it early, so a
    // meter that sends more after it is read whole. The caller looks for the terminator.
    virtual void ReadReply(QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
    {
        (void)terminator;
        ReadAll(reply, intervalMs, totalConstantMs);
    }

    // The exchange's operations for a dialogue on a DialogueRunner, whose waits return to the
    // event loop. A link that cannot wait that way runs the blocking operation (scripted meters
    // in tests answer at once). terminator 0 reads as ReadAll, any other as ReadReply.
    virtual Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int sent)> &progress)
    {
        (void)runner;
        co_return SendCommandReporting(text, progress);
    }
    virtual Task<void> ReadReplyAsync(DialogueRunner &runner, QByteArray &reply, int intervalMs,
        int totalConstantMs, char terminator)
    {
        (void)runner;
        if (terminator)
            ReadReply(reply, intervalMs, totalConstantMs, terminator);
        else
            ReadAll(reply, intervalMs, totalConstantMs);
        co_return;
    }
    // Sends text after the dialogue that needed it is gone (a list cut short winding the meter
    // up), without waiting for an answer. A link that cannot send on its own sends it now.
    virtual void SendDetached(const QByteArray &text) { SendCommand(text); }
    // The serial port behind the link, which a running list holds; null for a link without one.
    virtual SerialPort *Port() const { return nullptr; }
    // The exchange's pause between the command and its reply. A link without a port to wait on
    // sleeps, as its blocking operations do, so that its exchanges still end within one step.
    virtual Task<void> PauseAsync(DialogueRunner &runner, int ms)
    {
        (void)runner;
        if (ms > 0)
            QThread::msleep(unsigned(ms));
        co_return;
    }
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

#pragma once

#include "lists/IMeterLink.h"

#include <QByteArray>

// A scripted meter behind the meter-link interface that answers at once: a subclass says what
// a sent command does and what the next reply is, and the exchange's operations end without a
// wait (no pacing, no pause), so a list line with an exchange ends within the step that ran it.
class ImmediateMeterLink : public IMeterLink
{
public:
    // A command sent (by an exchange or detached); nonzero when it went out.
    virtual int Send(const QByteArray &text) = 0;
    // The reply to the last command, asked for with the exchange's time-outs.
    virtual void Read(QByteArray &reply, int intervalMs, int totalConstantMs) = 0;

    void PurgeInput() override { }
    Task<int> SendCommandAsync(DialogueRunner &, const QByteArray &text,
        const std::function<void(int sent)> &progress) override
    {
        const int result = Send(text);
        if (progress)
            progress(int(text.size()));
        co_return result;
    }
    Task<void> ReadReplyAsync(
        DialogueRunner &, QByteArray &reply, int intervalMs, int totalConstantMs, char) override
    {
        Read(reply, intervalMs, totalConstantMs);
        co_return;
    }
    Task<void> PauseAsync(DialogueRunner &, int) override { co_return; }
    void SendDetached(const QByteArray &text) override { Send(text); }
};

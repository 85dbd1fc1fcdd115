#pragma once

#include "lists/IMeterLink.h"

#include <QElapsedTimer>

#include <vector>

// Passes every operation to the real link and notes what each exchange cost.
class TimedLink : public IMeterLink
{
public:
    explicit TimedLink(IMeterLink *inner)
        : m_inner(inner)
    {
    }
    void PurgeInput() override { m_inner->PurgeInput(); }
    // The dialogue's operations, which the program's forms use: each noted, the waits handed
    // to the runner as the real link hands them.
    Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int sent)> &progress) override
    {
        m_clock.start();
        m_commandBytes += int(text.size());
        m_lastCommandBytes = int(text.size());
        co_return co_await m_inner->SendCommandAsync(runner, text, progress);
    }
    Task<void> ReadReplyAsync(DialogueRunner &runner, QByteArray &reply, int intervalMs,
        int totalConstantMs, char terminator) override
    {
        QElapsedTimer clock;
        clock.start();
        co_await m_inner->ReadReplyAsync(
            runner, reply, intervalMs, totalConstantMs, fullInterval ? '\0' : terminator);
        m_exchanges.push_back({ int(reply.size()), intervalMs, totalConstantMs, clock.elapsed(),
            m_clock.elapsed(), m_lastCommandBytes });
    }
    Task<void> PauseAsync(DialogueRunner &runner, int ms) override
    {
        co_await m_inner->PauseAsync(runner, ms);
    }
    void SendDetached(const QByteArray &text) override { m_inner->SendDetached(text); }
    SerialPort *Port() const override { return m_inner->Port(); }
    bool Reachable() const override { return m_inner->Reachable(); }
    QString Unreachable() const override { return m_inner->Unreachable(); }

    // Every exchange waits out its interval time-out, as a read without a terminator does, instead
    // of ending at the list line's terminator: the earlier exchange, for a before-and-after
    // comparison in one build.
    bool fullInterval = false;

    struct Exchange
    {
        int replyBytes;
        int intervalMs;
        int totalConstantMs;
        qint64 readMs;
        qint64 exchangeMs;
        int commandBytes;
    };
    std::vector<Exchange> m_exchanges;
    int m_commandBytes = 0;
    int m_lastCommandBytes = 0;

private:
    IMeterLink *m_inner;
    QElapsedTimer m_clock;
};

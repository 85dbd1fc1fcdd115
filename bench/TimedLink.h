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
    int SendCommand(const QByteArray &text) override
    {
        m_clock.start();
        m_commandBytes += int(text.size());
        m_lastCommandBytes = int(text.size());
        return m_inner->SendCommand(text);
    }
    void ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs) override
    {
        QElapsedTimer read;
        read.start();
        m_inner->ReadAll(reply, intervalMs, totalConstantMs);
        m_exchanges.push_back({int(reply.size()), intervalMs, totalConstantMs, read.elapsed(),
                               m_clock.elapsed(), m_lastCommandBytes});
    }

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


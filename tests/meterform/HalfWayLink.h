#pragma once

#include "lists/IMeterLink.h"

#include <functional>

// Passes everything to another link and calls back once half of a long send has gone out.
class HalfWayLink : public IMeterLink
{
public:
    HalfWayLink(IMeterLink *inner, std::function<void()> halfWay)
        : m_inner(inner)
        , m_halfWay(std::move(halfWay))
    {
    }
    void PurgeInput() override { m_inner->PurgeInput(); }
    Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int)> &progress) override
    {
        co_return co_await m_inner->SendCommandAsync(runner, text, [&](int sent) {
            if (progress)
                progress(sent);
            if (text.size() > 100 && sent == text.size() / 2)
                m_halfWay();
        });
    }
    Task<void> ReadReplyAsync(DialogueRunner &runner, QByteArray &reply, int interval, int total,
        char terminator) override
    {
        co_await m_inner->ReadReplyAsync(runner, reply, interval, total, terminator);
    }
    void SendDetached(const QByteArray &text) override { m_inner->SendDetached(text); }

private:
    IMeterLink *m_inner;
    std::function<void()> m_halfWay;
};

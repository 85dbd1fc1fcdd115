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
    int SendCommand(const QByteArray &text) override { return m_inner->SendCommand(text); }
    int SendCommandReporting(
        const QByteArray &text, const std::function<void(int)> &progress) override
    {
        return m_inner->SendCommandReporting(text, [&](int sent) {
            progress(sent);
            if (text.size() > 100 && sent == text.size() / 2)
                m_halfWay();
        });
    }
    void ReadAll(QByteArray &reply, int interval, int total) override
    {
        m_inner->ReadAll(reply, interval, total);
    }
    void ReadReply(QByteArray &reply, int interval, int total, char terminator) override
    {
        m_inner->ReadReply(reply, interval, total, terminator);
    }

private:
    IMeterLink *m_inner;
    std::function<void()> m_halfWay;
};

#pragma once

#include <QByteArray>

#include <functional>

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
    // One reply that ends with terminator: as ReadAll, except that once the terminator has
    // arrived the read ends as soon as the line has been quiet for a short guard, instead of
    // waiting out the interval time-out (whatever comes later is purged with the rest). A link
    // that cannot do better reads as ReadAll does.
    virtual void ReadReply(QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
    {
        (void)terminator;
        ReadAll(reply, intervalMs, totalConstantMs);
    }
};

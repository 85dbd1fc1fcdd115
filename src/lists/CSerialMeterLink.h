#pragma once

#include "lists/IMeterLink.h"

class CSerial;

// Puts the meter link (CSerial) behind IMeterLink for the command-list executor. Does not own
// the link; CTarvikApp does. Without a link every exchange fails quietly with an empty reply.
class CSerialMeterLink : public IMeterLink
{
public:
    explicit CSerialMeterLink(CSerial *serial = nullptr)
        : m_serial(serial)
    {
    }
    void SetSerial(CSerial *serial) { m_serial = serial; }
    CSerial *Serial() const { return m_serial; }

    void PurgeInput() override;
    Task<int> SendCommandAsync(DialogueRunner &runner, const QByteArray &text,
        const std::function<void(int sent)> &progress) override;
    Task<void> ReadReplyAsync(DialogueRunner &runner, QByteArray &reply, int intervalMs,
        int totalConstantMs, char terminator) override;
    Task<void> PauseAsync(DialogueRunner &runner, int ms) override;
    void SendDetached(const QByteArray &text) override;
    SerialPort *Port() const override;
    bool Reachable() const override;
    QString Unreachable() const override;
    bool PortGone() const override;
    QString LineErrors() const override;

private:
    CSerial *m_serial = nullptr;
};

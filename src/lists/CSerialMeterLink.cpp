#include "lists/CSerialMeterLink.h"

#include "link/CSerial.h"

void CSerialMeterLink::PurgeInput()
{
    if (m_serial)
        m_serial->PurgeInput();
}

void CSerialMeterLink::SendDetached(const QByteArray &text)
{
    if (m_serial)
        m_serial->SendCommandDetached(text);
}

Task<int> CSerialMeterLink::SendCommandAsync(
    DialogueRunner &runner, const QByteArray &text, const std::function<void(int sent)> &progress)
{
    if (!m_serial)
        co_return 0;
    co_return co_await m_serial->SendCommandAsync(runner, text, progress);
}

Task<void> CSerialMeterLink::ReadReplyAsync(
    DialogueRunner &runner, QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
{
    // A reply is whatever arrives until the line has been quiet for the interval: a meter may
    // print its terminator and then, a few tens of milliseconds later, the rest of its answer.
    // The terminator is looked for by the exchange afterwards, in the whole reply.
    (void)terminator;
    reply.clear();
    if (!m_serial)
        co_return;
    co_await m_serial->ReadAllAsync(runner, reply, intervalMs, totalConstantMs);
}

Task<void> CSerialMeterLink::PauseAsync(DialogueRunner &runner, int ms)
{
    co_await runner.Sleep(ms);
}

SerialPort *CSerialMeterLink::Port() const
{
    return m_serial;
}

bool CSerialMeterLink::Reachable() const
{
    // A port whose adapter came back since it went is opened again here, before a list starts.
    if (m_serial && m_serial->IsEnabled())
        m_serial->Revive();
    return m_serial && m_serial->IsEnabled() && m_serial->IsOpen();
}

bool CSerialMeterLink::PortGone() const
{
    return m_serial && m_serial->IsGone();
}

QString CSerialMeterLink::LineErrors() const
{
    return m_serial ? m_serial->LineErrorText() : QString();
}

QString CSerialMeterLink::Unreachable() const
{
    if (Reachable())
        return QString();
    return m_serial ? m_serial->NotOpenText() : QStringLiteral("No meter port is set up.");
}

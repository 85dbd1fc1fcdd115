#include "lists/CSerialMeterLink.h"

#include "link/CSerial.h"

void CSerialMeterLink::PurgeInput()
{
    if (m_serial)
        m_serial->PurgeInput();
}

int CSerialMeterLink::SendCommand(const QByteArray &text)
{
    return m_serial ? m_serial->SendCommand(text) : 0;
}

void CSerialMeterLink::ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs)
{
    if (m_serial)
        m_serial->ReadAll(reply, intervalMs, totalConstantMs);
    else
        reply.clear();
}

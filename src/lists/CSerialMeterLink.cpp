#include "lists/CSerialMeterLink.h"

#include "link/CSerial.h"
#include "link/SerialDevice.h"

#include <QElapsedTimer>

#include <algorithm>

void CSerialMeterLink::PurgeInput()
{
    if (m_serial)
        m_serial->PurgeInput();
}

int CSerialMeterLink::SendCommand(const QByteArray &text)
{
    return m_serial ? m_serial->SendCommand(text) : 0;
}

int CSerialMeterLink::SendCommandReporting(
    const QByteArray &text, const std::function<void(int sent)> &progress)
{
    return m_serial ? m_serial->SendCommand(text, progress) : 0;
}

void CSerialMeterLink::ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs)
{
    if (m_serial)
        m_serial->ReadAll(reply, intervalMs, totalConstantMs);
    else
        reply.clear();
}

int CSerialMeterLink::GuardMs(int baud)
{
    if (baud <= 0)
        return 10;
    return std::max(2, (4 * 10 * 1000 + baud - 1) / baud);
}

void CSerialMeterLink::ReadReply(
    QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
{
    reply.clear();
    if (!m_serial)
        return;
    // The same bounds as ReadAll: the interval between bytes, and a total of so many ms per
    // byte of the buffer plus the caller's constant.
    const qint64 totalMs
        = qint64(m_serial->Timing().readMsPerByte) * CSerial::kBufferSize + totalConstantMs;
    const int guardMs = GuardMs(SerialDevice::SpeedFromText(m_serial->BaudText().toStdString()));
    QElapsedTimer clock;
    clock.start();
    qint64 lastByteAt = -1;
    bool terminated = false;
    while (reply.size() < CSerial::kBufferSize) {
        const qint64 now = clock.elapsed();
        qint64 wait = totalMs - now;
        if (lastByteAt >= 0 && intervalMs > 0)
            wait = std::min(wait, lastByteAt + intervalMs - now);
        if (terminated)
            wait = std::min(wait, lastByteAt + guardMs - now);
        if (wait <= 0)
            break;
        if (!m_serial->WaitForInput(int(std::min<qint64>(wait, 1000))))
            continue;
        unsigned char byte = 0;
        bool got = false;
        while (reply.size() < CSerial::kBufferSize && m_serial->ReadByte(&byte)) {
            reply.append(char(byte));
            got = true;
            if (char(byte) == terminator)
                terminated = true;
        }
        if (got)
            lastByteAt = clock.elapsed();
        else if (!m_serial->IsEnabled() || !m_serial->IsOpen())
            break; // nothing can come
    }
    // Whatever follows the reply (echoes, a late second answer) would spoil the next exchange.
    if (!reply.isEmpty())
        m_serial->PurgeInput();
}

#include "link/CSerial.h"

#include <cmath>

CSerial::CSerial(const QString &deviceName, const LinkTiming &timing)
    : SerialPort(deviceName, timing)
{
}

SerialDevice::Format CSerial::LineFormat() const
{
    SerialDevice::Format format;
    format.parity = SerialDevice::Parity::None;
    format.stopBits = 1;
    format.setModemLines = true;
    return format;
}

void CSerial::ReopenPort()
{
    Reopen(QStringLiteral("Can't Open RS232 Communication port"));
}

void CSerial::ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs)
{
    m_device.SetWriteTimeouts(10, 10);
    reply.clear();
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return;
    const int totalMs = m_timing.readMsPerByte * kBufferSize + totalConstantMs;
    const int count = m_device.ReadTimed(m_receiveBuffer.data(), kBufferSize, intervalMs, totalMs);
    if (count <= 0)
        return; // nothing came: the queue is left alone
    reply = QByteArray(m_receiveBuffer.constData(), count);
    // Whatever follows the reply (echoes, a late second answer) would spoil the next exchange.
    PurgeInput();
}

int CSerial::SendString(const QByteArray &text)
{
    if (text.isEmpty())
        return 0;
    PendingCount(0);
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    int result = 0;
    for (const char c : text) {
        PacingSleep(kSendStringPacingMs);
        result = m_device.Write(&c, 1) ? 1 : 0;
    }
    return result;
}

int CSerial::SendCommand(QByteArray text, const std::function<void(int sent)> &progress)
{
    if (!m_enabled || text.isEmpty())
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    int result = 0;
    int sent = 0;
    for (const char c : text) {
        result = WriteByte(static_cast<unsigned char>(c));
        PacingSleep(kSendCommandPacingMs);
        if (progress)
            progress(++sent);
    }
    return result;
}

int CSerial::WriteByte(int byte)
{
    if (!m_enabled)
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    const char c = static_cast<char>(byte & 0xFF);
    return m_device.Write(&c, 1) ? 1 : 0;
}

void CSerial::PacingSleep(int ms) const
{
    SerialDevice::SleepMs(int(std::lround(ms * m_timing.pacingScale)));
}

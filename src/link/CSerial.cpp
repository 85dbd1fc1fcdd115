#include "link/CSerial.h"

#include "app/Globals.h"
#include "app/UserMessage.h"

#include <cmath>

// Lock policy: every operation takes the port lock (named after the constructor's device name)
// for as long as it touches the device, waiting at most Timing().lockWaitMs. When the wait runs
// out the operation gives up without touching the device and reports failure the only way it
// can: 0 from the counting and writing operations, an empty reply from ReadAll, nothing done by
// PurgeInput. The lock is not held while the port merely stays open; a second program is kept
// off an open port by SerialDevice's exclusive open, so its OpenPort fails with a clear reason.

CSerial::CSerial(const QString &deviceName, const LinkTiming &timing)
    : m_timing(timing)
    , m_lock(deviceName)
    , m_portText(deviceName)
{
    m_receiveBuffer.resize(kBufferSize);
}

CSerial::~CSerial()
{
    if (m_device.IsOpen()) {
        m_device.PurgeBoth();
        m_device.Close();
    }
}

int CSerial::OpenPort(int /*unusedSpeed*/)
{
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held()) {
        m_lastError
            = QStringLiteral("%1: the port lock %2 stayed busy (another program is using it)")
                  .arg(m_portText, m_lock.LockFilePath());
        return 0;
    }
    m_device.PurgeBoth();
    m_device.Close();
    if (!m_device.Open(m_portText)) {
        m_lastError = m_device.LastError();
        return 0;
    }
    SerialDevice::Format format;
    format.speed = SerialDevice::SpeedFromText(m_baudText);
    format.parity = SerialDevice::Parity::None;
    format.stopBits = 1;
    format.setModemLines = true;
    if (format.speed <= 0 || !m_device.Configure(format)) {
        // A port left open with the wrong settings would still take SendString and ReadAll
        // (they ignore the enabled flag) and keep other programs out: close it.
        m_lastError = format.speed <= 0
            ? QStringLiteral("%1: \"%2\" is not a baud rate").arg(m_device.Path(), m_baudText)
            : m_device.LastError();
        m_device.Close();
        return 0;
    }
    // Write time-out 1 ms per byte + 1 ms until the first ReadAll. Read time-outs are given by
    // each ReadAll; ReadByte never waits. The kernel fixes the queue sizes (4 KB each way), so
    // kBufferSize and kTransmitQueue have nothing to set here.
    m_device.SetWriteTimeouts(1, 1);
    m_lastError.clear();
    return 1;
}

void CSerial::ClosePort()
{
    // Only this object's own descriptor is involved (nobody else can have the device open), so
    // closing needs no lock and cannot be refused.
    if (m_device.IsOpen()) {
        m_device.PurgeBoth();
        m_device.Close();
        m_enabled = 0;
    }
}

void CSerial::ReopenPort()
{
    m_enabled = 1;
    if (!OpenPort()) {
        UserMessage::Show(QStringLiteral("Can't Open RS232 Communication port\n") + m_lastError,
            QString::fromLatin1(kAppTitle));
        m_enabled = 0;
    }
}

void CSerial::PurgeInput()
{
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (hold.Held())
        m_device.PurgeInput();
}

int CSerial::PendingCount(int receiveQueue)
{
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    return receiveQueue ? m_device.PendingInput() : m_device.PendingOutput();
}

int CSerial::ReadByte(unsigned char *byte)
{
    if (!m_enabled || PendingCount(1) == 0)
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    return m_device.ReadNow(byte);
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

int CSerial::SendCommand(QByteArray text)
{
    if (!m_enabled || text.isEmpty())
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    int result = 0;
    for (const char c : text) {
        result = WriteByte(static_cast<unsigned char>(c));
        PacingSleep(kSendCommandPacingMs);
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

int CSerial::WaitForInput(int timeoutMs)
{
    if (!m_enabled) {
        SerialDevice::SleepMs(timeoutMs); // a caller's wait loop must not spin on a dead link
        return 0;
    }
    return m_device.WaitReadable(timeoutMs) ? 1 : 0;
}

void CSerial::PacingSleep(int ms) const
{
    SerialDevice::SleepMs(int(std::lround(ms * m_timing.pacingScale)));
}

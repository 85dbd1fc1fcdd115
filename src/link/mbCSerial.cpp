#include "link/mbCSerial.h"

#include "app/Globals.h"
#include "app/UserMessage.h"

// Lock policy as CSerial's: each operation holds the port lock while it touches the device and,
// when the lock stays busy for Timing().lockWaitMs, gives up without touching it (0 / nothing
// done). A second program is kept off an open port by SerialDevice's exclusive open.

mbCSerial::mbCSerial(const QString &deviceName, const LinkTiming &timing)
    : m_timing(timing)
    , m_lock(deviceName)
    , m_portText(deviceName)
{
    m_receiveBuffer.resize(kBufferSize);
}

mbCSerial::~mbCSerial()
{
    if (m_device.IsOpen()) {
        m_device.PurgeBoth();
        m_device.Close();
    }
}

SerialDevice::Format mbCSerial::FormatFromParityText(const QString &text)
{
    SerialDevice::Format format;
    format.setModemLines = false; // direction switching is left to the adapter
    if (text == QLatin1String("1 8 NONE 1")) {
        format.parity = SerialDevice::Parity::None;
        format.stopBits = 1;
    } else if (text == QLatin1String("1 8 EVEN 1")) {
        format.parity = SerialDevice::Parity::Even;
        format.stopBits = 1;
    } else if (text == QLatin1String("1 8 ODD 1")) {
        format.parity = SerialDevice::Parity::Odd;
        format.stopBits = 1;
    } else if (text == QLatin1String("1 8 NONE 2")) {
        format.parity = SerialDevice::Parity::None;
        format.stopBits = 2;
    } else {
        format.parity = SerialDevice::Parity::Keep;
        format.stopBits = 0;
    }
    return format;
}

int mbCSerial::OpenPort(int /*unusedSpeed*/)
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
    SerialDevice::Format format = FormatFromParityText(m_parityText);
    format.speed = SerialDevice::SpeedFromText(m_baudText);
    if (format.speed <= 0 || !m_device.Configure(format)) {
        // Closed again: a half-configured port would only keep other programs out.
        m_lastError = format.speed <= 0
            ? QStringLiteral("%1: \"%2\" is not a baud rate").arg(m_device.Path(), m_baudText)
            : m_device.LastError();
        m_device.Close();
        return 0;
    }
    m_device.SetWriteTimeouts(1, 1);
    m_lastError.clear();
    return 1;
}

void mbCSerial::ClosePort()
{
    // Only this object's own descriptor is involved: no lock needed, never refused.
    if (m_device.IsOpen()) {
        m_device.PurgeBoth();
        m_device.Close();
        m_enabled = 0;
    }
}

void mbCSerial::ReopenPort()
{
    m_enabled = 1;
    if (!OpenPort()) {
        UserMessage::Show(QStringLiteral("***** Can't Open Modbus Communication port *****\n\n"
                                         "Click View found above the Toolbar\n\n"
                                         "Click Settings and Configure Modbus Comm Port\n")
                + m_lastError,
            QString::fromLatin1(kAppTitle));
        m_enabled = 0;
    }
}

void mbCSerial::PurgeInput()
{
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (hold.Held())
        m_device.PurgeInput();
}

int mbCSerial::PendingCount(int receiveQueue)
{
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    return receiveQueue ? m_device.PendingInput() : m_device.PendingOutput();
}

int mbCSerial::ReadByte(unsigned char *byte)
{
    if (!m_enabled || PendingCount(1) == 0)
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    return m_device.ReadNow(byte);
}

int mbCSerial::WriteBytes(const unsigned char *bytes, int count)
{
    if (!m_enabled || bytes == nullptr || count <= 0)
        return 0;
    PortLock::Hold hold(m_lock, m_timing.lockWaitMs);
    if (!hold.Held())
        return 0;
    // One write request: a Modbus frame must leave the port without gaps.
    return m_device.Write(reinterpret_cast<const char *>(bytes), count) ? 1 : 0;
}

int mbCSerial::WaitForInput(int timeoutMs)
{
    if (!m_enabled) {
        SerialDevice::SleepMs(timeoutMs); // a caller's wait loop must not spin on a dead port
        return 0;
    }
    return m_device.WaitReadable(timeoutMs) ? 1 : 0;
}

#include "link/mbCSerial.h"

#include "link/NetPortText.h"

mbCSerial::mbCSerial(const QString &deviceName, const LinkTiming &timing)
    : SerialPort(deviceName, timing)
{
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

bool mbCSerial::IsModbusTcp() const
{
    return NetPortText::Parse(m_portText.toStdString()).kind == NetPortText::Kind::ModbusTcp;
}

SerialDevice::Format mbCSerial::LineFormat() const
{
    return FormatFromParityText(m_parityText);
}

void mbCSerial::ReopenPort()
{
    Reopen(QStringLiteral("***** Can't Open Modbus Communication port *****\n\n"
                          "Click View found above the Toolbar\n\n"
                          "Click Settings and Configure Modbus Comm Port"));
}

int mbCSerial::WriteBytes(const unsigned char *bytes, int count)
{
    if (!m_enabled || bytes == nullptr || count <= 0 || !ReviveIfGone() || !m_device.IsOpen())
        return 0;
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    // One write request: a Modbus frame must leave the port without gaps.
    if (m_device.Write(reinterpret_cast<const char *>(bytes), count))
        return 1;
    NoteGone();
    return 0;
}

QStringList mbCSerial::ParityTexts()
{
    return { QStringLiteral("1 8 NONE 1"), QStringLiteral("1 8 EVEN 1"),
        QStringLiteral("1 8 ODD 1"), QStringLiteral("1 8 NONE 2") };
}

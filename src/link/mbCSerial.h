#pragma once

#include "link/SerialPort.h"

// The RS-485 Modbus port: a sibling of the meter link with a configurable character format,
// writing a whole frame in one request. Exists only when the Modbus port preference is not
// "OFF"; owned by CTarvikApp, used by the Modbus RTU master.
class mbCSerial : public SerialPort
{
public:
    explicit mbCSerial(const QString &deviceName, const LinkTiming &timing = {});

    void ReopenPort();
    int WriteBytes(const unsigned char *bytes, int count);

    // Whether the port text names a Modbus TCP gateway (modbus-tcp://): the master then frames
    // its requests with the MBAP header; tcp:// carries RTU frames as a local line does.
    bool IsModbusTcp() const;

    QString ParityText() const { return m_parityText; }
    void SetParityText(const QString &text) { m_parityText = text; }

    // Parity and stop bits of a parity text ("1 8 NONE 1", "1 8 EVEN 1", "1 8 ODD 1",
    // "1 8 NONE 2", compared exactly); any other text keeps what the device has.
    static SerialDevice::Format FormatFromParityText(const QString &text);
    // The character formats the program offers for a Modbus network, as the settings list them.
    static QStringList ParityTexts();

protected:
    SerialDevice::Format LineFormat() const override;
    bool TakesModbusTcp() const override { return true; }

private:
    QString m_parityText;
};

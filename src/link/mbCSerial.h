#pragma once

#include "link/LinkTiming.h"
#include "link/PortLock.h"
#include "link/SerialDevice.h"

#include <QByteArray>
#include <QString>

// The RS-485 Modbus port: a sibling of the meter link with a configurable character format,
// writing a whole frame in one request. Exists only when the Modbus port preference is not
// "OFF"; owned by CTarvikApp, used by the Modbus RTU master.
class mbCSerial
{
public:
    explicit mbCSerial(const QString &deviceName, const LinkTiming &timing = {});
    ~mbCSerial();
    mbCSerial(const mbCSerial &) = delete;
    mbCSerial &operator=(const mbCSerial &) = delete;

    int OpenPort(int unusedSpeed = 0);
    void ClosePort();
    void ReopenPort();
    void PurgeInput();
    int PendingCount(int receiveQueue);
    int ReadByte(unsigned char *byte);
    int WriteBytes(const unsigned char *bytes, int count);
    // Sleeps in poll(2) until a byte is pending or timeoutMs passes; 1 if a byte is pending.
    // Lets the master wait for a reply without spinning on ReadByte.
    int WaitForInput(int timeoutMs);

    QString PortText() const { return m_portText; }
    void SetPortText(const QString &text) { m_portText = text; }
    QString BaudText() const { return m_baudText; }
    void SetBaudText(const QString &text) { m_baudText = text; }
    QString ParityText() const { return m_parityText; }
    void SetParityText(const QString &text) { m_parityText = text; }
    int IsEnabled() const { return m_enabled; }
    // Whether a device is open now (the enabled flag is the callers' view; this is the device's).
    bool IsOpen() const { return m_device.IsOpen(); }
    void SetEnabled(int enabled) { m_enabled = enabled ? 1 : 0; }
    // Why the last OpenPort failed, one line (the operating system's reason), empty if it worked.
    QString LastError() const { return m_lastError; }
    const LinkTiming &Timing() const { return m_timing; }

    // Parity and stop bits of a parity text ("1 8 NONE 1", "1 8 EVEN 1", "1 8 ODD 1",
    // "1 8 NONE 2", compared exactly); any other text keeps what the device has.
    static SerialDevice::Format FormatFromParityText(const QString &text);

    static constexpr int kBufferSize = 4096;

private:
    LinkTiming m_timing;
    PortLock m_lock;
    SerialDevice m_device;
    QString m_portText;
    QString m_baudText;
    QString m_parityText;
    QString m_lastError;
    int m_enabled = 1;
    QByteArray m_receiveBuffer;
};

#pragma once

#include "link/LinkTiming.h"
#include "link/PortLock.h"
#include "link/SerialDevice.h"

#include <QByteArray>
#include <QString>

// What the meter link and the Modbus port share: the port and baud texts, the enabled flag, the
// lock named after the device given to the constructor, the open device, and the operations
// that do not depend on the line's use. Each subclass gives its character format.
//
// Lock policy: every operation takes the port lock for as long as it touches the device,
// waiting at most Timing().lockWaitMs. When the wait runs out the operation gives up without
// touching the device and reports failure the only way it can: 0 from the counting, reading and
// writing operations, an empty reply, nothing done by PurgeInput. The lock is not held while the
// port merely stays open; a second program is kept off an open port by SerialDevice's exclusive
// open, so its OpenPort fails with a clear reason.
class SerialPort
{
public:
    virtual ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    int OpenPort(int unusedSpeed = 0);
    void ClosePort();
    void PurgeInput();
    int PendingCount(int receiveQueue);
    int ReadByte(unsigned char *byte);
    // Sleeps in poll(2) until a byte is pending or timeoutMs passes; 1 if a byte is pending.
    // Lets polling loops wait without spinning on ReadByte.
    int WaitForInput(int timeoutMs);

    QString PortText() const { return m_portText; }
    void SetPortText(const QString &text) { m_portText = text; }
    QString BaudText() const { return m_baudText; }
    void SetBaudText(const QString &text) { m_baudText = text; }
    int IsEnabled() const { return m_enabled; }
    // Whether a device is open now (the enabled flag is the callers' view; this is the device's).
    bool IsOpen() const { return m_device.IsOpen(); }
    void SetEnabled(int enabled) { m_enabled = enabled ? 1 : 0; }
    // Why the last OpenPort failed, one line (the operating system's reason), empty if it worked.
    QString LastError() const { return m_lastError; }
    const LinkTiming &Timing() const { return m_timing; }

    static constexpr int kBufferSize = 4096;
    static constexpr int kTransmitQueue = 256;

protected:
    SerialPort(const QString &deviceName, const LinkTiming &timing);
    // The character format OpenPort sets (the speed is filled in from the baud text).
    virtual SerialDevice::Format LineFormat() const = 0;
    // Enabled := 1, OpenPort, and on failure the message (with the reason on its own line)
    // and enabled := 0.
    void Reopen(const QString &message);

    LinkTiming m_timing;
    PortLock m_lock;
    SerialDevice m_device;
    QString m_portText;
    QString m_baudText;
    QString m_lastError;
    int m_enabled = 1;
    QByteArray m_receiveBuffer;
};

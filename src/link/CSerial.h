#pragma once

#include "link/LinkTiming.h"
#include "link/PortLock.h"
#include "link/SerialDevice.h"

#include <QByteArray>
#include <QString>

// The meter link: the program's one path to a meter's RS-232 port (8N1, DTR and RTS on, no
// flow control). Owned by CTarvikApp; the terminal, the meter forms, the command lists and the
// datalogger use it from the user-interface thread. Every operation runs under a lock named
// after the device given to the constructor, so a second program on that port is kept out.
class CSerial
{
public:
    explicit CSerial(const QString &deviceName, const LinkTiming &timing = {});
    ~CSerial();
    CSerial(const CSerial &) = delete;
    CSerial &operator=(const CSerial &) = delete;

    int OpenPort(int unusedSpeed = 0);
    void ClosePort();
    void ReopenPort();
    void PurgeInput();
    int PendingCount(int receiveQueue);
    int ReadByte(unsigned char *byte);
    void ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs);
    int SendString(const QByteArray &text);
    int SendCommand(QByteArray text);
    int WriteByte(int byte);
    // Sleeps in poll(2) until a byte is pending or timeoutMs passes; 1 if a byte is pending.
    // Lets polling loops wait for the meter without spinning on ReadByte.
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
    static constexpr int kSendStringPacingMs = 20;
    static constexpr int kSendCommandPacingMs = 25;

private:
    void PacingSleep(int ms) const;

    LinkTiming m_timing;
    PortLock m_lock;
    SerialDevice m_device;
    QString m_portText;
    QString m_baudText;
    QString m_lastError;
    int m_enabled = 1;
    QByteArray m_receiveBuffer;
};

#pragma once

#include <QByteArray>
#include <QString>

// The platform serial device (POSIX termios here; a Win32 twin would keep this interface).
// Knows nothing of meters or locks: it opens, configures, counts, reads and writes.
class SerialDevice
{
public:
    enum class Parity { None, Even, Odd, Keep };
    struct Format
    {
        int speed = 9600;
        Parity parity = Parity::None;
        int stopBits = 1;     // 0 keeps what the device has
        bool setModemLines = false; // raise DTR and RTS where the device has them
    };

    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // "COM1".."COM49" name /dev/ttyS0../dev/ttyS48; a text starting with "/" is a path.
    static QString DevicePath(const QString &portText);

    bool Open(const QString &portText);
    bool Configure(const Format &format);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    void PurgeBoth();
    void PurgeInput();
    int PendingInput() const;
    int PendingOutput() const;
    // Reads up to maxBytes: returns when maxBytes arrived, when intervalMs passed after a byte
    // without another, or when totalMs passed since the call. -1 on a device error.
    int ReadTimed(char *buffer, int maxBytes, int intervalMs, int totalMs);
    int ReadNow(unsigned char *byte);
    bool Write(const char *bytes, int count);
    bool WaitReadable(int timeoutMs) const;
    // One line: what the operating system said about the last failure.
    QString LastError() const { return m_lastError; }

private:
    int m_fd = -1;
    QString m_lastError;
};

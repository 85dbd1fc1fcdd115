#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// The platform serial device (POSIX termios here; a Win32 twin would keep this interface).
// Knows nothing of meters or port-name locks: it opens, configures, counts, reads and writes.
// Owned by CSerial and mbCSerial. Every wait sleeps in poll(2); a device whose far end has gone
// (hang-up, unplugged adapter) behaves as one that receives nothing.
class SerialDevice
{
public:
    enum class Parity { None, Even, Odd, Keep };
    struct Format
    {
        int speed = 9600;
        Parity parity = Parity::None;
        int stopBits = 1; // 0 keeps what the device has
        bool setModemLines = false; // raise DTR and RTS where the device has them
    };

    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // "COM1".."COM49" name /dev/ttyS0../dev/ttyS48; a text starting with "/" is a path.
    // Any other text gives an empty path (Open then fails with a reason).
    static QString DevicePath(const QString &portText);
    // The serial devices present now (/dev/serial/by-id/*, /dev/ttyUSB*, /dev/ttyACM*), as
    // paths, for the port lists of the settings pages. devRoot stands in for /dev in tests.
    static QStringList ExistingDevices(const QString &devRoot = QStringLiteral("/dev"));
    // A baud text as a plain decimal conversion: leading digits count, anything else gives 0.
    static int SpeedFromText(const QString &text);
    // The control flags `cflag` with 8 data bits and the given parity and stop bits applied;
    // Parity::Keep and stopBits 0 leave those bits as they are.
    static unsigned CharacterFlags(unsigned cflag, Parity parity, int stopBits);
    // Sleeps in poll(2) for ms milliseconds (nothing for ms <= 0), resuming after signals.
    static void SleepMs(int ms);

    bool Open(const QString &portText);
    bool Configure(const Format &format);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    void PurgeBoth();
    void PurgeInput();
    int PendingInput() const;
    int PendingOutput() const;
    // Reads up to maxBytes: returns when maxBytes arrived, when intervalMs passed after a byte
    // without another (intervalMs <= 0: no interval limit), or when totalMs passed since the call.
    // -1 when the device is not open.
    int ReadTimed(char *buffer, int maxBytes, int intervalMs, int totalMs);
    // One byte if one is waiting, without waiting: 1 read, 0 not.
    int ReadNow(unsigned char *byte);
    // Writes all bytes, in one write request when the device takes them (it normally does);
    // gives up after the write time-out: msPerByte * count + constantMs.
    bool Write(const char *bytes, int count);
    void SetWriteTimeouts(int msPerByte, int constantMs);
    // Sleeps until a byte is pending or timeoutMs passes; true if a byte is pending. A closed or
    // hung-up device sleeps the whole time-out and gives false.
    bool WaitReadable(int timeoutMs) const;
    // One line: what the operating system said about the last failure.
    QString LastError() const { return m_lastError; }
    QString Path() const { return m_path; }
    // What an event loop watches to learn that input is pending: the file descriptor here (-1
    // when closed), for a QSocketNotifier.
    std::intptr_t WaitHandle() const { return m_fd; }

private:
    bool Fail(const QString &reason);
    bool IsPseudoTerminal() const;

    int m_fd = -1;
    QString m_path;
    QString m_lastError;
    int m_writeMsPerByte = 1;
    int m_writeConstantMs = 1;
};

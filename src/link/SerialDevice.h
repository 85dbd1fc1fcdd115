#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include "link/UucpLock.h"
#endif

class NetDevice;

// The platform serial device: termios and poll(2) on POSIX (SerialDevicePosix.cpp), the Win32
// communications functions on Windows (SerialDeviceWin32.cpp), one chosen at build time behind
// this one interface. Knows nothing of meters or of the program's port-name locks: it opens,
// configures, counts, reads and writes, and on POSIX holds the UUCP lock file other serial
// tools look for while the port is open. Owned by SerialPort (CSerial, mbCSerial), which
// converts to and from Qt's types: texts here are UTF-8 std::string, so the layer and its meter
// test build without Qt
// (the Windows half is cross-built with mingw-w64 and run under wine). A device whose far end
// has gone (hang-up, unplugged adapter, a failing write) reports it through Gone(): its reads
// end at once and receive nothing, and its owner closes it.
class SerialDevice
{
public:
    // Receive errors the driver counted since the device was opened.
    struct LineErrors
    {
        long framing = 0;
        long parity = 0;
        long overrun = 0; // the UART's and the driver's buffers together
        long breaks = 0;
        bool operator==(const LineErrors &) const = default;
    };
    // Where the POSIX half gets its counts (TIOCGICOUNT); tests put a fake one in. False when
    // the driver cannot count (a pseudo-terminal).
    using ErrorCounter = std::function<bool(int fd, LineErrors *counts)>;
    static ErrorCounter SetErrorCounter(ErrorCounter counter);

    enum class Parity { None, Even, Odd, Keep };
    struct Format
    {
        int speed = 9600;
        Parity parity = Parity::None;
        int stopBits = 1; // 0 keeps what the device has
        bool setModemLines = false; // raise DTR and RTS where the device has them
    };

    SerialDevice();
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    // Whether a port text names a network port (tcp://, rfc2217://, modbus-tcp://): the network
    // half (NetDevice) then does every operation instead of the platform's.
    static bool IsNetworkText(const std::string &portText);
    // "COM1".."COM49" name /dev/ttyS0../dev/ttyS48 on POSIX and \\.\COM1..\\.\COM49 on Windows;
    // a device path as it stands (a text starting with "/" on POSIX, with "\\.\" on Windows).
    // Any other text gives an empty path (Open then fails with a reason).
    static std::string DevicePath(const std::string &portText);
    // The serial devices present now, for the port lists of the settings pages. POSIX: paths
    // under /dev/serial/by-id, /dev/ttyUSB*, /dev/ttyACM* (devRoot stands in for /dev in tests).
    // Windows: the ports the system lists (HARDWARE\DEVICEMAP\SERIALCOMM) that COM1..COM49 do
    // not already name, as \\.\ paths (devRoot is not used).
    static std::vector<std::string> ExistingDevices(const std::string &devRoot = "/dev");
    // A baud text as a plain decimal conversion: leading digits count, anything else gives 0.
    static int SpeedFromText(const std::string &text);
    // Sleeps for ms milliseconds (nothing for ms <= 0), resuming after signals.
    static void SleepMs(int ms);
#ifndef _WIN32
    // The control flags `cflag` with 8 data bits and the given parity and stop bits applied;
    // Parity::Keep and stopBits 0 leave those bits as they are.
    static unsigned CharacterFlags(unsigned cflag, Parity parity, int stopBits);
#endif

    bool Open(const std::string &portText);
    bool Configure(const Format &format);
    void Close();
    bool IsOpen() const;
    void PurgeBoth();
    void PurgeInput();
    int PendingInput() const;
    int PendingOutput() const;
    // One byte if one is waiting, without waiting: 1 read, 0 not.
    int ReadNow(unsigned char *byte);
    // Writes all bytes, in one write request when the device takes them (it normally does);
    // gives up after the write time-out: msPerByte * count + constantMs.
    bool Write(const char *bytes, int count);
    void SetWriteTimeouts(int msPerByte, int constantMs);
    // Sleeps until a byte is pending or timeoutMs passes; true if a byte is pending. A closed or
    // hung-up device sleeps the whole time-out and gives false.
    bool WaitReadable(int timeoutMs) const;

    // What an event loop watches to learn that input is pending, without blocking:
    // - POSIX: the file descriptor (watch it for reading, e.g. with QSocketNotifier); -1 closed.
    // - Windows: a manual-reset event (a HANDLE as intptr_t, e.g. for QWinEventNotifier) that an
    //   overlapped one-byte read signals when it completes; -1 closed. The byte it took is kept
    //   and given out first by the next read, and counted by PendingInput.
    // Call ArmWait() before each watch and again after each signal: on Windows it resets the
    // event and starts the read, or signals the event at once when bytes are already there.
    // Every other operation ends an armed read first, so arm again after it. On POSIX ArmWait
    // does nothing, so callers write one loop for both.
    std::intptr_t WaitHandle() const;
    void ArmWait();

    // Whether the device went away while open: a hang-up, an end of file, or a read or write
    // the driver refused (EIO, ENODEV; on Windows ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND ...).
    // Cleared by Open.
    bool Gone() const;
    // Whether the name the device was opened by can come back as the same device after it
    // went away: a USB adapter returns under its name, but a pseudo-terminal opened by its own
    // /dev/pts/N is gone for good, as the number goes to whichever program asks for a
    // pseudo-terminal next. Known from the last Open.
    bool NameComesBack() const
    {
        return m_nameComesBack;
    }
    // Looks, without waiting, whether the far end has hung up; true (and Gone) when it has.
    bool CheckHangUp();
    // A network port: whether it is connected to its server, and the connection still being
    // made (PollConnect looks without waiting whether it is made now; false also when it failed:
    // Gone, LastError says why). A local device is never connecting.
    bool IsNetwork() const;
    bool Connecting() const;
    bool PollConnect();
    // Said once connected when the line is not set as asked: a telnet server that refused the
    // serial-port option keeps its own speed. Empty otherwise.
    std::string LineNotice() const;
    // The driver's receive error counts; false when it keeps none.
    bool LineErrorCounts(LineErrors *counts) const;

    // One line: what the operating system said about the last failure.
    std::string LastError() const;
    std::string Path() const
    {
        return m_path;
    }

private:
    bool Fail(const std::string &reason);
    // Open hands a network port text to the network half, and any other to the platform's.
    bool OpenNetwork(const std::string &portText);
    bool OpenLocal(const std::string &portText);
    // Configure of a local device, the platform's own.
    bool ConfigureLocal(const Format &format);
    bool m_nameComesBack = true;

    std::string m_path;
    std::string m_lastError;
    mutable bool m_gone = false;
    int m_writeMsPerByte = 1;
    int m_writeConstantMs = 1;
#ifdef _WIN32
    // Puts the read time-outs (and the write time-outs of SetWriteTimeouts) in force, unless
    // they already are.
    bool ApplyTimeouts(
        unsigned long interval, unsigned long multiplier, unsigned long constant) const;
    // The armed read: Arm starts it; Harvest keeps the byte of one that has completed; Disarm
    // ends one still waiting (keeping a byte it took); TakeHeld gives out the kept byte.
    void Arm() const;
    void Harvest() const;
    void Disarm() const;
    int TakeHeld(char *out) const;
    // Gives out up to maxBytes of what an earlier read took beyond the byte it was asked for.
    int TakeBuffered(char *out, int maxBytes) const;
    // ClearCommError, its flags counted as line errors; false (and Gone when the driver says
    // the device went) when the call fails. status is a COMSTAT.
    bool ClearErrors(struct _COMSTAT *status) const;
    // Reads what the driver has queued, up to maxBytes, without waiting.
    int ReadQueued(char *buffer, int maxBytes);

    void *m_handle = nullptr; // HANDLE of the port; null when closed
    void *m_ioEvent = nullptr; // event of the blocking reads and writes (overlapped, awaited)
    void *m_waitEvent = nullptr; // event of the armed read, given out by WaitHandle
    void *m_owner = nullptr; // named mutex that marks the port as ours while it is open
    struct WaitState;
    WaitState *m_wait = nullptr; // the armed read's OVERLAPPED and byte
    mutable unsigned long m_timeouts[5] = {}; // the COMMTIMEOUTS in force
#else
    bool IsPseudoTerminal() const;

    int m_fd = -1;
    std::unique_ptr<UucpLock> m_uucp; // the LCK.. file held while open
#endif
    std::unique_ptr<NetDevice> m_net; // the network half, while a network port text is open
};

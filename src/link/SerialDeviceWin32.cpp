#include "link/SerialDevice.h"

#include "link/Deadline.h"
#include "link/NetDevice.h"

#include <algorithm>
#include <chrono>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, whose types it uses: timeBeginPeriod, timeEndPeriod.
#include <mmsystem.h>

// The Windows half of the serial device. The port is opened overlapped so that an event can
// tell an event loop that input is pending (WaitHandle); every read and write still completes
// before it returns, bounded by the COMMTIMEOUTS in force, so the blocking operations keep the
// POSIX half's meaning exactly.
//
// The event is that of a one-byte read left waiting (armed). An overlapped WaitCommEvent for
// EV_RXCHAR would need no kept byte, but wine ends it at once on a pseudo-terminal (it asks
// for modem lines a pty does not have), and a read works on every driver.

// The armed read: its OVERLAPPED and byte must stay put while the system may write to them.
struct SerialDevice::WaitState
{
    OVERLAPPED overlapped = {};
    unsigned char byte = 0;
    bool pending = false; // the read waits
    bool held = false; // it completed: `byte` is the first byte of the input
    // What one read took from the queue beyond the byte asked for: ReadNow serves from here,
    // so a byte-wise reader costs one system call per queueful, not four per byte.
    char buffered[4096] = {};
    int bufferedAt = 0;
    int bufferedCount = 0;
    SerialDevice::LineErrors errors; // the ClearCommError flags seen since the port opened
    bool timerRaised = false; // timeBeginPeriod(1) in force for this port
};

namespace {

using Clock = std::chrono::steady_clock;

// The system's limit on a device path ("\\.\" and the name), in characters.
constexpr std::size_t kMaxPathChars = MAX_PATH - 1;

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(std::size_t(std::max(count, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), count);
    return wide;
}

std::string Utf8(const wchar_t *wide, int length)
{
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(std::max(count, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), count, nullptr, nullptr);
    return text;
}

// What the system says about an error code, in one line, with the code.
std::string SystemReason(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string reason = length > 0 ? Utf8(text, int(length)) : std::string();
    LocalFree(text);
    while (!reason.empty() && std::string("\r\n .").find(reason.back()) != std::string::npos)
        reason.pop_back();
    std::replace(reason.begin(), reason.end(), '\r', ' ');
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    if (reason.empty())
        reason = "system error";
    return reason + " (error " + std::to_string(error) + ")";
}

// Names in messages are cut to a readable length.
std::string Shown(const std::string &path)
{
    return path.size() <= 80 ? path : path.substr(0, 60) + "...";
}

// Errors with which a driver refuses every operation on a port whose device went away (a USB
// adapter pulled out), as opposed to a read that merely ran out of time.
bool DeviceGoneError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

SerialDevice::ErrorCounter &ErrorCounterInUse()
{
    static SerialDevice::ErrorCounter counter;
    return counter;
}

// Waits for an overlapped read or write that `started` (ReadFile's or WriteFile's result)
// began; true when it completed, with the byte count in `done`. A read that ran out of time
// completed too: Windows says so with success, wine with ERROR_TIMEOUT.
bool Finish(HANDLE handle, OVERLAPPED &overlapped, BOOL started, DWORD &done)
{
    done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    return GetOverlappedResult(handle, &overlapped, &done, TRUE) != 0
        || GetLastError() == ERROR_TIMEOUT;
}

const char *ParityName(BYTE parity)
{
    switch (parity) {
    case NOPARITY:
        return "no parity";
    case EVENPARITY:
        return "even parity";
    case ODDPARITY:
        return "odd parity";
    default:
        return "mark or space parity";
    }
}

} // namespace

SerialDevice::ErrorCounter SerialDevice::SetErrorCounter(ErrorCounter counter)
{
    // The Windows half counts from ClearCommError's flags; the seam is the POSIX half's.
    ErrorCounter old = ErrorCounterInUse();
    ErrorCounterInUse() = std::move(counter);
    return old;
}

bool SerialDevice::LineErrorCounts(LineErrors *counts) const
{
    *counts = LineErrors();
    if (m_net || m_wait == nullptr)
        return false; // a server counts its line's errors, if at all
    *counts = m_wait->errors;
    return true;
}

// ClearCommError reads and clears the line's error flags: keep them as counts, one per flag
// seen, and note a device that refuses the call altogether.
bool SerialDevice::ClearErrors(COMSTAT *status) const
{
    DWORD errors = 0;
    if (m_handle == nullptr)
        return false;
    if (!ClearCommError(static_cast<HANDLE>(m_handle), &errors, status)) {
        if (DeviceGoneError(GetLastError()))
            m_gone = true;
        return false;
    }
    if (m_wait != nullptr) {
        LineErrors &counts = m_wait->errors;
        counts.framing += (errors & CE_FRAME) ? 1 : 0;
        counts.parity += (errors & CE_RXPARITY) ? 1 : 0;
        counts.overrun += (errors & (CE_OVERRUN | CE_RXOVER)) ? 1 : 0;
        counts.breaks += (errors & CE_BREAK) ? 1 : 0;
    }
    return true;
}

bool SerialDevice::CheckHangUp()
{
    if (m_net)
        return m_net->CheckHangUp();
    COMSTAT status = {};
    if (m_handle != nullptr)
        ClearErrors(&status);
    return m_gone;
}

std::vector<std::string> SerialDevice::ExistingDevices(const std::string & /*devRoot*/)
{
    std::vector<std::string> found;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return found;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[256] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t); // room for a terminator it may lack
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
            reinterpret_cast<BYTE *>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const std::string port = Utf8(data, int(wcsnlen(data, 255)));
        // COM1..COM49 are in the lists already under their own names.
        if (!port.empty() && DevicePath(port).empty())
            found.push_back("\\\\.\\" + port);
    }
    RegCloseKey(key);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

void SerialDevice::SleepMs(int ms)
{
    // While a port is open the system timer runs at 1 ms (timeBeginPeriod in Open), so a
    // pacing Sleep(25) takes 25 ms and not two 15.6 ms ticks.
    if (ms > 0)
        Sleep(DWORD(ms));
}

bool SerialDevice::OpenLocal(const std::string &portText)
{
    m_path = DevicePath(portText);
    if (m_path.empty())
        return Fail('"' + Shown(portText)
            + "\" is not a port name (COM1 to COM49, or a device path such as \\\\.\\COM50)");
    const std::string name = Shown(m_path);
    const std::wstring wide = Wide(m_path);
    if (wide.size() > kMaxPathChars)
        return Fail(name + ": the name is too long (the system allows "
            + std::to_string(kMaxPathChars)
            + " characters): " + SystemReason(ERROR_FILENAME_EXCED_RANGE));

    // A named mutex marks the port as held by this layer, in this process or another: wine's
    // ports do not refuse a second open of their own, and the mark goes with its holder.
    std::wstring markName = L"Global\\tarvik-port-";
    for (wchar_t c : wide)
        markName += c == L'\\' ? L'/' : wchar_t(towupper(c));
    HANDLE mark = CreateMutexW(nullptr, FALSE, markName.c_str());
    if (mark == nullptr)
        return Fail(name + ": " + SystemReason(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mark);
        return Fail(name + ": port in use by another program (Tarvik holds it elsewhere)");
    }
    // No sharing: the system itself refuses a second open, by this or any other program.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(mark);
        switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return Fail(name + ": no such device: " + SystemReason(error));
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return Fail(name + ": port in use by another program: " + SystemReason(error));
        case ERROR_FILENAME_EXCED_RANGE:
            return Fail(name + ": the name is too long: " + SystemReason(error));
        default:
            return Fail(name + ": " + SystemReason(error));
        }
    }
    DCB settings = {};
    settings.DCBlength = sizeof settings;
    // GetFileType succeeds on a disk file or a pipe: its answer is the reason, not the last
    // error (which would be "Success").
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_CHAR) {
        CloseHandle(handle);
        CloseHandle(mark);
        return Fail(name + ": not a serial device (a "
            + (type == FILE_TYPE_DISK        ? std::string("file")
                    : type == FILE_TYPE_PIPE ? std::string("pipe")
                                             : "device of type " + std::to_string(type))
            + ")");
    }
    if (!GetCommState(handle, &settings)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        CloseHandle(mark);
        return Fail(name + ": not a serial device: " + SystemReason(error));
    }
    m_handle = handle;
    m_owner = mark;
    m_ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_waitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_wait = new WaitState;
    // The default 15.6 ms tick would stretch every pacing sleep and turn the 1 ms pause of a
    // wait loop into 16 ms; raised while the port is open, restored by Close.
    m_wait->timerRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
    if (m_ioEvent == nullptr || m_waitEvent == nullptr) {
        const DWORD error = GetLastError();
        Close();
        return Fail(name + ": " + SystemReason(error));
    }
    // Queue sizes are a request the driver may round or ignore.
    SetupComm(handle, 4096, 256);
    const COMMTIMEOUTS nonBlocking
        = { MAXDWORD, 0, 0, DWORD(m_writeMsPerByte), DWORD(m_writeConstantMs) };
    SetCommTimeouts(handle, const_cast<COMMTIMEOUTS *>(&nonBlocking));
    m_timeouts[0] = nonBlocking.ReadIntervalTimeout;
    m_timeouts[1] = 0;
    m_timeouts[2] = 0;
    m_timeouts[3] = nonBlocking.WriteTotalTimeoutMultiplier;
    m_timeouts[4] = nonBlocking.WriteTotalTimeoutConstant;
    m_lastError.clear();
    return true;
}

bool SerialDevice::ConfigureLocal(const Format &format)
{
    if (m_handle == nullptr)
        return Fail("port not open");
    if (format.speed <= 0)
        return Fail(m_path + ": " + std::to_string(format.speed) + " is not a valid speed");
    HANDLE handle = m_handle;
    DCB before = {};
    before.DCBlength = sizeof before;
    if (!GetCommState(handle, &before))
        return Fail(m_path + ": cannot read the line settings: " + SystemReason(GetLastError()));

    DCB settings = before;
    settings.BaudRate = DWORD(format.speed);
    settings.ByteSize = 8;
    switch (format.parity) {
    case Parity::None:
        settings.Parity = NOPARITY;
        settings.fParity = FALSE;
        break;
    case Parity::Even:
        settings.Parity = EVENPARITY;
        settings.fParity = TRUE;
        break;
    case Parity::Odd:
        settings.Parity = ODDPARITY;
        settings.fParity = TRUE;
        break;
    case Parity::Keep:
        break;
    }
    if (format.stopBits == 1)
        settings.StopBits = ONESTOPBIT;
    else if (format.stopBits == 2)
        settings.StopBits = TWOSTOPBITS;
    // Raw bytes, no handshakes: XON/XOFF would swallow bytes 0x11 and 0x13 of meter images and
    // Modbus frames, and a CTS or DSR wait would stall a write on a cable without those lines.
    settings.fBinary = TRUE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fAbortOnError = FALSE;
    if (format.setModemLines) {
        settings.fDtrControl = DTR_CONTROL_ENABLE;
        settings.fRtsControl = RTS_CONTROL_ENABLE;
    }

    if (!SetCommState(handle, &settings)) {
        const DWORD error = GetLastError();
        // A device without modem lines (wine's pseudo-terminals, some adapters) may refuse
        // DTR and RTS: take the rest without them, as the POSIX half does.
        DCB withoutLines = settings;
        withoutLines.fDtrControl = before.fDtrControl;
        withoutLines.fRtsControl = before.fRtsControl;
        if (!format.setModemLines || !SetCommState(handle, &withoutLines)) {
            // Tell the speed from the character format: try the speed alone.
            DCB speedOnly = before;
            speedOnly.BaudRate = DWORD(format.speed);
            const bool speedTaken = SetCommState(handle, &speedOnly) != 0;
            const DWORD speedError = GetLastError();
            SetCommState(handle, &before);
            if (!speedTaken)
                return Fail(m_path + ": the device refused speed " + std::to_string(format.speed)
                    + ": " + SystemReason(speedError));
            return Fail(
                m_path + ": the device refused the character format: " + SystemReason(error));
        }
    }

    DCB actual = {};
    actual.DCBlength = sizeof actual;
    if (!GetCommState(handle, &actual))
        return Fail(m_path + ": cannot read the line settings: " + SystemReason(GetLastError()));
    // Drivers round a speed to what their clock can make; more than 3 % off is a refusal.
    const long long speed = actual.BaudRate;
    if (std::llabs(speed - format.speed) * 100 > static_cast<long long>(format.speed) * 3)
        return Fail(m_path + ": the device refused speed " + std::to_string(format.speed)
            + " (it runs at " + std::to_string(speed) + ")");
    if (actual.ByteSize != 8 || (format.parity != Parity::Keep && actual.Parity != settings.Parity)
        || (format.stopBits != 0 && actual.StopBits != settings.StopBits))
        return Fail(m_path + ": the device refused the character format (it keeps "
            + std::to_string(actual.ByteSize) + " data bits, " + ParityName(actual.Parity) + ", "
            + (actual.StopBits == TWOSTOPBITS ? "2" : "1") + " stop bits)");

    if (format.setModemLines) {
        // Where the device has no modem lines these fail: go on.
        EscapeCommFunction(handle, SETDTR);
        EscapeCommFunction(handle, SETRTS);
    }
    m_lastError.clear();
    return true;
}

void SerialDevice::Close()
{
    m_net.reset();
    if (m_handle != nullptr) {
        Disarm();
        CloseHandle(static_cast<HANDLE>(m_handle));
        m_handle = nullptr;
    }
    if (m_wait != nullptr && m_wait->timerRaised)
        timeEndPeriod(1);
    delete m_wait;
    m_wait = nullptr;
    for (void **object : { &m_ioEvent, &m_waitEvent, &m_owner }) {
        if (*object != nullptr)
            CloseHandle(static_cast<HANDLE>(*object));
        *object = nullptr;
    }
}

bool SerialDevice::IsOpen() const
{
    return m_net ? m_net->IsOpen() : m_handle != nullptr;
}

void SerialDevice::PurgeBoth()
{
    if (m_net)
        return m_net->PurgeBoth();
    if (m_handle == nullptr)
        return;
    Disarm();
    m_wait->held = false;
    m_wait->bufferedCount = 0;
    PurgeComm(static_cast<HANDLE>(m_handle),
        PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}

void SerialDevice::PurgeInput()
{
    if (m_net)
        return m_net->PurgeInput();
    if (m_handle == nullptr)
        return;
    Disarm();
    m_wait->held = false;
    m_wait->bufferedCount = 0;
    PurgeComm(static_cast<HANDLE>(m_handle), PURGE_RXABORT | PURGE_RXCLEAR);
}

int SerialDevice::PendingInput() const
{
    if (m_net)
        return m_net->PendingInput();
    if (m_handle == nullptr)
        return 0;
    // Bytes already taken from the driver answer without a system call (the byte-wise readers
    // ask before every byte); the driver's queue is counted once they are served.
    if (m_wait->bufferedCount > 0)
        return m_wait->bufferedCount + (m_wait->held ? 1 : 0);
    COMSTAT status = {};
    if (!ClearErrors(&status))
        return 0;
    Harvest();
    return int(std::min<DWORD>(status.cbInQue, 1 << 29)) + (m_wait->held ? 1 : 0);
}

int SerialDevice::PendingOutput() const
{
    if (m_net)
        return m_net->PendingOutput();
    COMSTAT status = {};
    if (m_handle == nullptr || !ClearErrors(&status))
        return 0;
    return int(std::min<DWORD>(status.cbOutQue, 1 << 30));
}

bool SerialDevice::ApplyTimeouts(
    unsigned long interval, unsigned long multiplier, unsigned long constant) const
{
    const unsigned long wanted[5]
        = { interval, multiplier, constant, static_cast<unsigned long>(m_writeMsPerByte),
              static_cast<unsigned long>(m_writeConstantMs) };
    if (std::equal(wanted, wanted + 5, m_timeouts))
        return true;
    COMMTIMEOUTS timeouts = { wanted[0], wanted[1], wanted[2], wanted[3], wanted[4] };
    if (!SetCommTimeouts(static_cast<HANDLE>(m_handle), &timeouts))
        return false;
    std::copy(wanted, wanted + 5, m_timeouts);
    return true;
}

int SerialDevice::TakeBuffered(char *out, int maxBytes) const
{
    WaitState &wait = *m_wait;
    const int count = std::min(wait.bufferedCount, std::max(maxBytes, 0));
    std::copy(wait.buffered + wait.bufferedAt, wait.buffered + wait.bufferedAt + count, out);
    wait.bufferedAt += count;
    wait.bufferedCount -= count;
    return count;
}

// Each read is sized by the queue count, so no read relies on the "return at once" time-out
// combinations (wine keeps an overlapped read with them waiting for ever).
int SerialDevice::ReadQueued(char *buffer, int maxBytes)
{
    HANDLE handle = static_cast<HANDLE>(m_handle);
    int got = 0;
    while (got < maxBytes) {
        COMSTAT status = {};
        if (!ClearErrors(&status))
            break;
        const DWORD queued = std::min<DWORD>(status.cbInQue, DWORD(maxBytes - got));
        if (queued == 0)
            break;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = static_cast<HANDLE>(m_ioEvent);
        DWORD done = 0;
        if (!ApplyTimeouts(0, 0, 1)
            || !Finish(handle, overlapped,
                ReadFile(handle, buffer + got, queued, nullptr, &overlapped), done)) {
            // A device that is gone (an adapter pulled out) says so through Gone.
            if (DeviceGoneError(GetLastError()))
                m_gone = true;
            break;
        }
        got += int(done);
        if (done == 0)
            break;
    }
    return got;
}

int SerialDevice::ReadNow(unsigned char *out)
{
    if (m_net)
        return m_net->ReadNow(out);
    if (m_handle == nullptr || out == nullptr)
        return 0;
    char *first = reinterpret_cast<char *>(out);
    if (TakeBuffered(first, 1) == 1)
        return 1;
    Disarm();
    if (TakeHeld(first) == 1)
        return 1;
    // Everything queued in one read; the first byte goes out, the rest waits in the buffer.
    WaitState &wait = *m_wait;
    const int got = ReadQueued(wait.buffered, int(sizeof wait.buffered));
    if (got <= 0)
        return 0;
    wait.bufferedAt = 0;
    wait.bufferedCount = got;
    return TakeBuffered(first, 1);
}

bool SerialDevice::Write(const char *bytes, int count)
{
    if (m_net && count > 0)
        return m_net->Write(bytes, count, m_writeMsPerByte * count + m_writeConstantMs + 1000);
    if (m_handle == nullptr || bytes == nullptr || count <= 0)
        return false;
    // The read fields stay as they are; the write fields follow SetWriteTimeouts.
    if (!ApplyTimeouts(m_timeouts[0], m_timeouts[1], m_timeouts[2]))
        return false;
    HANDLE handle = static_cast<HANDLE>(m_handle);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = static_cast<HANDLE>(m_ioEvent);
    DWORD done = 0;
    if (Finish(
            handle, overlapped, WriteFile(handle, bytes, DWORD(count), nullptr, &overlapped), done))
        return done == DWORD(count);
    if (DeviceGoneError(GetLastError()))
        m_gone = true;
    return false;
}

std::intptr_t SerialDevice::WaitHandle() const
{
    if (m_net)
        return m_net->WaitHandle();
    return m_handle != nullptr ? reinterpret_cast<std::intptr_t>(m_waitEvent) : -1;
}

void SerialDevice::ArmWait()
{
    if (m_net)
        return m_net->ArmWait();
    Arm();
}

void SerialDevice::Harvest() const
{
    WaitState &wait = *m_wait;
    if (!wait.pending || !HasOverlappedIoCompleted(&wait.overlapped))
        return;
    DWORD done = 0;
    const bool ok
        = GetOverlappedResult(static_cast<HANDLE>(m_handle), &wait.overlapped, &done, FALSE) != 0;
    wait.pending = false;
    wait.held = ok && done == 1;
}

void SerialDevice::Disarm() const
{
    if (m_wait == nullptr || !m_wait->pending)
        return;
    HANDLE handle = static_cast<HANDLE>(m_handle);
    CancelIoEx(handle, &m_wait->overlapped);
    DWORD done = 0;
    // Waits for the cancel to land; a read that completed first keeps its byte.
    const bool ok = GetOverlappedResult(handle, &m_wait->overlapped, &done, TRUE) != 0;
    m_wait->pending = false;
    m_wait->held = m_wait->held || (ok && done == 1);
}

int SerialDevice::TakeHeld(char *out) const
{
    if (m_wait == nullptr || !m_wait->held)
        return 0;
    *out = char(m_wait->byte);
    m_wait->held = false;
    return 1;
}

void SerialDevice::Arm() const
{
    if (m_handle == nullptr)
        return;
    HANDLE handle = static_cast<HANDLE>(m_handle);
    HANDLE event = static_cast<HANDLE>(m_waitEvent);
    WaitState &wait = *m_wait;
    // Reset first, look last: a read that completes in between sets the event again.
    ResetEvent(event);
    if (PendingInput() > 0) { // harvests a completed read
        SetEvent(event);
        return;
    }
    if (wait.pending)
        return;
    // No time-outs: the read waits for its byte however long it takes.
    if (!ApplyTimeouts(0, 0, 0))
        return;
    wait.overlapped = {};
    wait.overlapped.hEvent = event;
    if (ReadFile(handle, &wait.byte, 1, nullptr, &wait.overlapped)) {
        DWORD done = 0; // a byte was there after all
        wait.held = GetOverlappedResult(handle, &wait.overlapped, &done, FALSE) && done == 1;
        SetEvent(event);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        wait.pending = true;
    } else {
        // The device takes no waiting read (or has gone): signal at once, so that the caller
        // looks (PendingInput, Gone) and polls on its short sleeps instead of sleeping to its
        // deadline with bytes queued.
        if (DeviceGoneError(GetLastError()))
            m_gone = true;
        SetEvent(event);
    }
}

bool SerialDevice::WaitReadable(int timeoutMs) const
{
    if (m_net)
        return m_net->WaitReadable(timeoutMs);
    const auto end = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (m_handle == nullptr) {
        SleepMs(timeoutMs);
        return false;
    }
    for (;;) {
        Arm();
        WaitForSingleObject(static_cast<HANDLE>(m_waitEvent), DWORD(MsUntil(end)));
        if (PendingInput() > 0)
            return true;
        if (m_gone)
            return false;
        const int left = MsUntil(end);
        if (left <= 0)
            return false;
        // Signalled with nothing pending (a purged byte, another line event): do not spin.
        SleepMs(std::min(left, 1));
    }
}

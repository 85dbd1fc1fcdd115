// The serial device against the simulated meter, one source for both systems: built natively
// it checks the POSIX half (CTest runs it through with-metersim.sh); cross-built with mingw-w64
// it checks the Win32 half under wine, on a COM port that wine maps to the simulator's
// pseudo-terminal (scripts/wine-test). Plain C++ with its own checks, as the cross build has
// no GoogleTest and no Qt.
//
// Usage: serial_device_meter PORT IMAGE_FILE
//   PORT        the port the simulator answers on (a path, or COMn under wine), or its raw TCP
//               port (tcp://127.0.0.1:N, the simulator's --tcp): the network half, then
//   IMAGE_FILE  the simulator's meter file (--image), which the 110 read must reproduce
#include "link/SerialDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

int g_checks = 0;
int g_failures = 0;

void Check(bool ok, const char *what, int line, const std::string &detail = {})
{
    ++g_checks;
    if (!ok) {
        ++g_failures;
        std::printf(
            "FAILED (line %d): %s%s%s\n", line, what, detail.empty() ? "" : ": ", detail.c_str());
    }
}

#define CHECK(condition) Check((condition), #condition, __LINE__)
#define CHECK_SAYS(condition, detail) Check((condition), #condition, __LINE__, (detail))

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// Waits on the device's wait handle as an event loop would (a QSocketNotifier on the
// descriptor, a QWinEventNotifier on the event): true when it signalled within ms.
bool HandleSignals(SerialDevice &device, int ms)
{
    device.ArmWait();
    const std::intptr_t handle = device.WaitHandle();
#ifdef _WIN32
    return WaitForSingleObject(reinterpret_cast<HANDLE>(handle), DWORD(ms)) == WAIT_OBJECT_0;
#else
    struct pollfd watch = { int(handle), POLLIN, 0 };
    return ::poll(&watch, 1, ms) == 1 && (watch.revents & POLLIN);
#endif
}

// Sends text a byte at a time with the link's pacing: `beforeMs` before each byte (the
// terminal's keys), `afterMs` after each (a command). Gives the time it took.
long long SendPaced(SerialDevice &device, const std::string &text, int beforeMs, int afterMs)
{
    const auto start = Clock::now();
    for (const char c : text) {
        SerialDevice::SleepMs(beforeMs);
        CHECK(device.Write(&c, 1));
        SerialDevice::SleepMs(afterMs);
    }
    return MsSince(start);
}

// Reads one reply as the program's dialogues do (CSerial::ReadAllAsync): wakes on the wait
// handle, takes what is pending a byte at a time, and ends when maxBytes came, when intervalMs
// passed after a byte without another, or when totalMs passed.
std::string ReadReply(SerialDevice &device, std::size_t maxBytes, int intervalMs, int totalMs)
{
    std::string reply;
    const auto start = Clock::now();
    auto last = start;
    while (reply.size() < maxBytes) {
        long long left = totalMs - MsSince(start);
        if (!reply.empty() && intervalMs > 0)
            left = std::min<long long>(left, intervalMs - MsSince(last));
        if (left <= 0)
            break;
        if (!HandleSignals(device, int(left)))
            continue;
        const std::size_t before = reply.size();
        unsigned char byte = 0;
        while (reply.size() < maxBytes && device.PendingInput() > 0 && device.ReadNow(&byte) == 1)
            reply += char(byte);
        if (reply.size() > before)
            last = Clock::now();
        else if (device.CheckHangUp())
            break;
        else
            SerialDevice::SleepMs(1); // signalled with nothing to read: do not spin on it
    }
    return reply;
}

// Gathers the meter's answer until `end` is in it or totalMs pass, a reply at a time.
std::string Collect(SerialDevice &device, const std::string &end, int totalMs)
{
    std::string reply;
    const auto start = Clock::now();
    while (!Has(reply, end) && MsSince(start) < totalMs)
        reply += ReadReply(
            device, 4096, 100, int(std::min<long long>(1000, totalMs - MsSince(start))));
    return reply;
}

// The hex bytes of an image text ("%02X " per byte), or "" when a token is no hex byte.
std::string HexBytes(const std::string &text)
{
    std::istringstream words(text);
    std::string word;
    std::string bytes;
    while (words >> word) {
        if (word.size() != 2 || word.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            return {};
        bytes += word;
    }
    return bytes;
}

void BadInput(const std::string &port)
{
#ifdef _WIN32
    const std::string missing = "COM48";
    const std::string tooLong = "\\\\.\\" + std::string(300, 'X');
#else
    const std::string missing = "/dev/tarvik-no-such-port";
    const std::string tooLong = "/dev/" + std::string(5000, 'x');
#endif
#ifdef _WIN32
    const std::string notSerial = "\\\\.\\C:\\windows\\win.ini"; // a disk file
#else
    const std::string notSerial = "/dev/null";
#endif
    struct Row
    {
        std::string port;
        const char *says;
    };
    const Row rows[] = {
        { "COM0", "not a port name" },
        { "OFF", "not a port name" },
        { missing, "no such device" },
        { tooLong, "too long" },
        { notSerial, "not a serial device" },
    };
    for (const Row &row : rows) {
        SerialDevice device;
        CHECK_SAYS(!device.Open(row.port), row.port.substr(0, 20));
        CHECK_SAYS(Has(device.LastError(), row.says), device.LastError());
        // A reason taken after a call that succeeded reads "Success (error 0)".
        CHECK_SAYS(!Has(device.LastError(), "error 0)"), device.LastError());
        CHECK_SAYS(device.LastError().size() < 200, device.LastError());
        CHECK(!device.IsOpen() && device.WaitHandle() == -1);
    }

    // Held by one owner, the port is refused to a second, with the system's reason.
    SerialDevice holder;
    CHECK_SAYS(holder.Open(port), holder.LastError());
    SerialDevice second;
    CHECK(!second.Open(port));
    CHECK_SAYS(Has(second.LastError(), "in use by another program"), second.LastError());
    holder.Close();
    CHECK_SAYS(second.Open(port), second.LastError()); // free again once closed

    // Speeds the device refuses.
    SerialDevice::Format format;
    format.speed = 0;
    CHECK(!second.Configure(format));
    CHECK_SAYS(Has(second.LastError(), "not a valid speed"), second.LastError());
#ifdef _WIN32
    // A pseudo-terminal under wine takes only the standard speeds (a pty on Linux takes any):
    // refused by the system, or taken and read back as another speed.
    format.speed = 1234567;
    CHECK(!second.Configure(format));
    CHECK_SAYS(Has(second.LastError(), "refused speed 1234567"), second.LastError());
#endif
}

#ifdef _WIN32
// The settings lists offer the ports the system lists beyond COM1..COM49 (wine-test maps COM57
// besides COM5), as device paths, and not COM1..COM49 a second time.
void PortList()
{
    const std::vector<std::string> ports = SerialDevice::ExistingDevices();
    std::string listed;
    for (const std::string &port : ports)
        listed += port + ' ';
    CHECK_SAYS(std::find(ports.begin(), ports.end(), "\\\\.\\COM57") != ports.end(), listed);
    CHECK_SAYS(!Has(listed, "COM5 ") && !Has(listed, "COM1 "), listed);
}
#endif

void Silence(SerialDevice &device)
{
    device.PurgeBoth();
    CHECK_SAYS(!HandleSignals(device, 300), "the wait handle signals with nothing to read");
    unsigned char byte = 0;
    auto start = Clock::now();
    CHECK(device.ReadNow(&byte) == 0);
    CHECK(device.PendingInput() == 0);
    CHECK(MsSince(start) < 100);

    start = Clock::now();
    CHECK(ReadReply(device, 64, 50, 400).empty());
    const long long readMs = MsSince(start);
    CHECK_SAYS(readMs >= 390 && readMs < 1500, std::to_string(readMs) + " ms");

    start = Clock::now();
    CHECK(!device.WaitReadable(200));
    const long long waitMs = MsSince(start);
    CHECK_SAYS(waitMs >= 190 && waitMs < 1200, std::to_string(waitMs) + " ms");
}

void Identification(SerialDevice &device)
{
    device.PurgeInput();
    SendPaced(device, "......", 20, 0);
    const std::string reply = Collect(device, "units", 3000);
    CHECK_SAYS(Has(reply, "ID:v4.1A #12345678 #1 ,620,A,"), reply);
}

// 18 dots into command mode, then "100" paced as SendCommand paces it: the meter answers only
// once the line has been quiet, so an answer to a lone "1" (an ERR) means the pacing broke.
void CommandExchange(SerialDevice &device)
{
    device.PurgeInput();
    SendPaced(device, std::string(18, '.'), 20, 0);
    CHECK_SAYS(Has(Collect(device, ">", 3000), ">"), "no prompt after 18 dots");
    device.PurgeInput();
    const long long sendMs = SendPaced(device, "100\r", 0, 25);
    CHECK_SAYS(sendMs >= 100, std::to_string(sendMs) + " ms for 4 bytes");
    const std::string reply = Collect(device, ">", 3000);
    CHECK_SAYS(Has(reply, "VER=4.1A REV=A SN=12345678 RNG=1 MOD=620"), reply);
    CHECK_SAYS(!Has(reply, "ERR"), reply);
}

// "110" and one read as the program's ReadAllAsync does it (4096 bytes, total 3 ms a byte + 100
// ms), while the meter sends some 750 bytes at 9600 baud (0.8 s): the interval must not end the
// read mid-stream, and the bytes must be the meter file's. The interval is 400 ms, not the
// program's 100, so that a busy machine pausing the simulator does not end the read early.
void ImageRead(SerialDevice &device, const std::string &imageFile)
{
    std::ifstream file(imageFile, std::ios::binary);
    const std::string fileText((std::istreambuf_iterator<char>(file)), {});
    const std::string fileBytes = HexBytes(fileText);
    CHECK_SAYS(fileBytes.size() > 200, "meter file " + imageFile + " unreadable");

    device.PurgeInput();
    SendPaced(device, "110\r", 0, 25);
    CHECK(device.WaitReadable(3000));
    const auto start = Clock::now();
    const std::string reply = ReadReply(device, 4096, 400, 3 * 4096 + 100);
    const long long readMs = MsSince(start);
    const std::size_t begin = reply.find("IMG=");
    const std::size_t end = reply.find("\r\nEND");
    CHECK_SAYS(begin < 8 && end != std::string::npos && Has(reply, "END\r\n>"),
        reply.substr(0, 40) + " ... " + (reply.size() > 40 ? reply.substr(reply.size() - 40) : ""));
    if (begin < 8 && end != std::string::npos) {
        const std::string bytes = HexBytes(reply.substr(begin + 4, end - begin - 4));
        CHECK_SAYS(bytes == fileBytes,
            std::to_string(bytes.size() / 2) + " bytes read, the file has "
                + std::to_string(fileBytes.size() / 2));
    }
    CHECK_SAYS(readMs > 600 && readMs < 3 * 4096, std::to_string(readMs) + " ms");
}

// A whole answer waits in the queue, the count sees it, and a purge throws it away.
void Purge(SerialDevice &device)
{
    SendPaced(device, "100\r", 0, 25);
    CHECK(device.WaitReadable(2000));
    // The answer comes paced at the line speed: wait until it is queued whole (the count has
    // stopped growing), so that nothing of it arrives after the purge.
    int last = -1;
    for (int waited = 0, still = 0; still < 150 && waited < 5000; waited += 10) {
        SerialDevice::SleepMs(10);
        const int now = device.PendingInput();
        still = now == last && now >= 40 ? still + 10 : 0;
        last = now;
    }
    const int pending = device.PendingInput();
    CHECK_SAYS(pending >= 40, std::to_string(pending) + " bytes pending");
    device.PurgeInput();
    CHECK(device.PendingInput() == 0);
    CHECK(ReadReply(device, 64, 50, 300).empty());
}

// The Modbus port's even parity. A Linux pty has no character format and takes it as it
// comes; under wine the pty may refuse it, which must then be said with its reason.
void EvenParity(SerialDevice &device)
{
    SerialDevice::Format format;
    format.parity = SerialDevice::Parity::Even;
    const bool taken = device.Configure(format);
#ifdef _WIN32
    if (!taken) {
        std::printf("even parity refused here: %s\n", device.LastError().c_str());
        CHECK_SAYS(Has(device.LastError(), "refused the character format"), device.LastError());
        CHECK(device.Configure({}));
        return;
    }
#endif
    CHECK_SAYS(taken, device.LastError());
    device.PurgeInput();
    SendPaced(device, "100\r", 0, 25);
    CHECK_SAYS(Has(Collect(device, ">", 3000), "VER=4.1A"), "no answer with even parity");
    CHECK(device.Configure({}));
}

// The pacing sleeps: twenty 25 ms sleeps take at least 500 ms, and not grossly more. The time is
// printed: on Windows with the timer raised while a port is open it is about 500 ms, where the
// default 15.6 ms tick made it 624 ms; under wine and on a busy machine it follows the host.
void Pacing()
{
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i)
        SerialDevice::SleepMs(25);
    const long long ms = MsSince(start);
    std::printf("twenty 25 ms pacing sleeps: %lld ms\n", ms);
    CHECK_SAYS(ms >= 495 && ms < 1500, std::to_string(ms) + " ms");
}

// A command written in one request (as a Modbus frame is) and its answer read a byte at a time,
// as the terminal and the datalogger read: the same bytes as one timed read gives, each byte
// served without a system call of its own once the queue has been taken.
void WholeWriteAndByteWiseRead(SerialDevice &device)
{
    device.PurgeInput();
    const char frame[] = "100\r";
    const auto writeStart = Clock::now();
    CHECK(device.Write(frame, 4));
    CHECK_SAYS(MsSince(writeStart) < 200, std::to_string(MsSince(writeStart)) + " ms");
    CHECK(device.WaitReadable(3000));
    // The whole answer (some 50 bytes at 9600 baud) queued: the count has stopped growing.
    int queued = -1;
    for (int settled = 0; settled < 20 && device.PendingInput() != queued; ++settled) {
        queued = device.PendingInput();
        SerialDevice::SleepMs(100);
    }
    std::string reply;
    unsigned char byte = 0;
    const auto start = Clock::now();
    while (int(reply.size()) < queued && device.PendingInput() > 0 && device.ReadNow(&byte) == 1)
        reply += char(byte);
    const long long us
        = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    std::printf("byte-wise read: %zu bytes in %lld us\n", reply.size(), us);
    CHECK_SAYS(int(reply.size()) >= queued && queued >= 40, std::to_string(queued) + " queued");
    CHECK_SAYS(Has(reply, "VER=4.1A REV=A SN=12345678 RNG=1 MOD=620"), reply);
    CHECK(device.PendingInput() == 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT IMAGE_FILE\n", argv[0]);
        return 2;
    }
    const std::string port = argv[1];
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // The port names and the local device's refusals are the serial half's alone.
    const bool network = SerialDevice::IsNetworkText(port);
#ifdef _WIN32
    if (!network)
        PortList();
#endif
    std::printf("%s\n", "BadInput");
    if (!network)
        BadInput(port);
    SerialDevice device;
    if (!device.Open(port)) {
        std::printf("FAILED: %s: %s\n", port.c_str(), device.LastError().c_str());
        return 1;
    }
    const auto connecting = Clock::now();
    while (!device.PollConnect() && device.Connecting() && MsSince(connecting) < 5000)
        SerialDevice::SleepMs(2);
    CHECK_SAYS(device.PollConnect(), device.LastError());
    CHECK(device.WaitHandle() != -1);
    SerialDevice::Format format;
    format.setModemLines = true;
    CHECK_SAYS(device.Configure(format), device.LastError());
    device.SetWriteTimeouts(1, 1);

    std::printf("%s\n", "Silence");
    Silence(device);
    std::printf("%s\n", "Identification");
    Identification(device);
    std::printf("%s\n", "CommandExchange");
    CommandExchange(device);
    std::printf("%s\n", "ImageRead");
    ImageRead(device, argv[2]);
    std::printf("%s\n", "Purge");
    Purge(device);
    std::printf("%s\n", "EvenParity");
    EvenParity(device);
    std::printf("%s\n", "WholeWriteAndByteWiseRead");
    WholeWriteAndByteWiseRead(device);
    std::printf("%s\n", "Pacing");
    Pacing();
    SendPaced(device, std::string(11, 'r'), 20, 0); // back to run mode

    device.Close();
    CHECK(!device.IsOpen() && device.WaitHandle() == -1);
    std::printf("serial device meter test (%s): %d checks, %d failed\n", port.c_str(), g_checks,
        g_failures);
    return g_failures == 0 ? 0 : 1;
}

#include "link/SerialDevice.h"

#include "link/NetDevice.h"
#include "link/NetPortText.h"

#include <algorithm>

// What both platforms share: the port names, the speed texts, and handing a network port to
// the network half. The rest lives in SerialDevicePosix.cpp or SerialDeviceWin32.cpp, whichever
// the build chose.

SerialDevice::SerialDevice() = default;

SerialDevice::~SerialDevice()
{
    Close();
}

void SerialDevice::SetWriteTimeouts(int msPerByte, int constantMs)
{
    m_writeMsPerByte = std::max(msPerByte, 0);
    m_writeConstantMs = std::max(constantMs, 0);
}

bool SerialDevice::Fail(const std::string &reason)
{
    m_lastError = reason;
    return false;
}

bool SerialDevice::IsNetworkText(const std::string &portText)
{
    return NetPortText::Looks(portText);
}

std::string SerialDevice::DevicePath(const std::string &portText)
{
#ifdef _WIN32
    const std::string pathPrefix = "\\\\.\\";
#else
    const std::string pathPrefix = "/";
#endif
    if (portText.compare(0, pathPrefix.size(), pathPrefix) == 0)
        return portText;
    if (portText.size() < 4 || portText.size() > 5)
        return {};
    for (int i = 0; i < 3; ++i) {
        if ((portText[i] & ~0x20) != "COM"[i])
            return {};
    }
    int number = 0;
    for (std::size_t i = 3; i < portText.size(); ++i) {
        const char c = portText[i];
        if (c < '0' || c > '9')
            return {};
        number = number * 10 + (c - '0');
    }
    if (portText[3] == '0' || number < 1 || number > 49)
        return {};
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

int SerialDevice::SpeedFromText(const std::string &text)
{
    // Like a C decimal conversion: blanks, an optional sign, then digits; the rest is ignored.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 100000000)
            return 0; // no serial port runs at such a speed; treat as not a speed
    }
    return negative ? 0 : int(value);
}

bool SerialDevice::Open(const std::string &portText)
{
    Close();
    m_gone = false;
    m_lastError.clear();
    return IsNetworkText(portText) ? OpenNetwork(portText) : OpenLocal(portText);
}

bool SerialDevice::OpenNetwork(const std::string &portText)
{
    const NetPortText target = NetPortText::Parse(portText);
    if (target.kind == NetPortText::Kind::None)
        return Fail(target.error);
    m_path = target.HostPort();
    m_nameComesBack = true; // a server is reached again by its address
    m_net = std::make_unique<NetDevice>();
    if (m_net->Open(target))
        return true;
    const std::string reason = m_net->LastError();
    m_net.reset();
    return Fail(reason);
}

bool SerialDevice::Configure(const Format &format)
{
    if (!m_net)
        return ConfigureLocal(format);
    const char parity = format.parity == Parity::Even ? 'E'
        : format.parity == Parity::Odd                ? 'O'
        : format.parity == Parity::Keep               ? 'K'
                                                      : 'N';
    return m_net->Configure(format.speed, parity, format.stopBits, format.setModemLines)
        || Fail(m_net->LastError());
}

bool SerialDevice::Gone() const
{
    return m_net ? m_net->Gone() : m_gone;
}

std::string SerialDevice::LastError() const
{
    return m_net && !m_net->LastError().empty() ? m_net->LastError() : m_lastError;
}

bool SerialDevice::IsNetwork() const
{
    return m_net != nullptr;
}

bool SerialDevice::Connecting() const
{
    return m_net && m_net->Connecting();
}

bool SerialDevice::PollConnect()
{
    return m_net ? m_net->PollConnect() : IsOpen();
}

std::string SerialDevice::LineNotice() const
{
    if (!m_net || !m_net->ComPortRefused())
        return {};
    return m_net->Where()
        + ": the telnet server refused the serial-port option: the speed and format are the "
          "server's";
}

#include "link/SerialDevice.h"

#include "link/NetPortText.h"

// What both platforms share: the port names and the speed texts. The rest lives in
// SerialDevicePosix.cpp or SerialDeviceWin32.cpp, whichever the build chose.

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

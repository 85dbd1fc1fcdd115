#include "link/NetPortText.h"

#include <cstddef>

namespace {

struct Scheme
{
    const char *prefix;
    NetPortText::Kind kind;
};

constexpr Scheme kSchemes[] = {
    { "tcp://", NetPortText::Kind::Raw },
    { "rfc2217://", NetPortText::Kind::Telnet },
    { "modbus-tcp://", NetPortText::Kind::ModbusTcp },
};

bool StartsWithNoCase(const std::string &text, const char *prefix)
{
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

bool HostNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
        || c == '-' || c == '_';
}

bool Ipv6Char(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':'
        || c == '.';
}

NetPortText Refused(const std::string &text, const std::string &why)
{
    NetPortText parsed;
    parsed.error = '"' + (text.size() <= 80 ? text : text.substr(0, 60) + "...") + "\": " + why;
    return parsed;
}

} // namespace

bool NetPortText::Looks(const std::string &text)
{
    for (const Scheme &scheme : kSchemes) {
        if (StartsWithNoCase(text, scheme.prefix))
            return true;
    }
    return false;
}

NetPortText NetPortText::Parse(const std::string &text)
{
    const Scheme *scheme = nullptr;
    for (const Scheme &candidate : kSchemes) {
        if (StartsWithNoCase(text, candidate.prefix))
            scheme = &candidate;
    }
    if (!scheme)
        return {};
    const std::string form = scheme->kind == Kind::ModbusTcp
        ? std::string(scheme->prefix) + "HOST[:PORT]"
        : std::string(scheme->prefix) + "HOST:PORT";
    const std::string rest = text.substr(std::string(scheme->prefix).size());

    NetPortText parsed;
    std::size_t hostEnd = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos)
            return Refused(text, "the IPv6 address has no closing ] (write " + form + ")");
        parsed.host = rest.substr(1, close - 1);
        for (const char c : parsed.host) {
            if (!Ipv6Char(c))
                return Refused(text, "\"" + parsed.host + "\" is not an IPv6 address");
        }
        hostEnd = close + 1;
    } else {
        while (hostEnd < rest.size() && HostNameChar(rest[hostEnd]))
            ++hostEnd;
        parsed.host = rest.substr(0, hostEnd);
    }
    if (parsed.host.empty())
        return Refused(text, "no host is named (write " + form + ")");
    if (parsed.host.size() > 253)
        return Refused(text, "the host name is longer than 253 characters");

    if (hostEnd == rest.size()) {
        if (scheme->kind != Kind::ModbusTcp)
            return Refused(text, "no TCP port is given (write " + form + ")");
        parsed.port = kModbusTcpPort;
    } else {
        if (rest[hostEnd] != ':')
            return Refused(text,
                "\"" + rest.substr(hostEnd, 1) + "\" cannot stand in a host name (write " + form
                    + ")");
        const std::string digits = rest.substr(hostEnd + 1);
        if (digits.empty())
            return Refused(text, "no TCP port is given after the colon (write " + form + ")");
        long value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return Refused(text, "\"" + digits + "\" is not a TCP port number (1 to 65535)");
            value = value * 10 + (c - '0');
            if (value > 65535)
                break;
        }
        if (value < 1 || value > 65535)
            return Refused(text, digits + " is not a TCP port number (1 to 65535)");
        parsed.port = int(value);
    }
    parsed.kind = scheme->kind;
    return parsed;
}

std::string NetPortText::HostPort() const
{
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? '[' + host + ']' : host) + ':' + std::to_string(port);
}

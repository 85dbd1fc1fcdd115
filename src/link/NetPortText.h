#pragma once

#include <string>

// A port text that names a network port instead of a local device: "tcp://HOST:PORT" (a serial
// line's bytes carried raw), "rfc2217://HOST:PORT" (telnet with the serial-port option) and
// "modbus-tcp://HOST[:PORT]" (Modbus TCP, port 502 when none is given). HOST is a name, an IPv4
// address or an IPv6 address in brackets. Parsed strictly: whatever does not fit is refused with
// a sentence that says what is wrong, never guessed at.
struct NetPortText
{
    enum class Kind { None, Raw, Telnet, ModbusTcp };

    Kind kind = Kind::None; // None: not a network text (a local device's name), or refused
    std::string host; // without the brackets of an IPv6 address
    int port = 0;
    std::string error; // why a network text was refused; empty when it was taken

    static constexpr int kModbusTcpPort = 502;

    // Whether text starts like a network port text ("tcp://", "rfc2217://", "modbus-tcp://").
    static bool Looks(const std::string &text);
    static NetPortText Parse(const std::string &text);
    // "HOST:PORT" as messages name the far end ("[::1]:4001" for an IPv6 address).
    std::string HostPort() const;
};

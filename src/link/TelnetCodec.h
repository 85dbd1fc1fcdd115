#pragma once

#include <string>

// The telnet side of a serial-port server reached as rfc2217://: what the program sends to set
// the server's serial line up, the IAC escaping of data both ways, and the replies to the
// server's option negotiation. Pure bytes in, bytes out, so its tables are tested alone; the
// network device feeds it what arrives and sends what it gives back.
//
// The program asks for BINARY both ways (no CR/NUL stuffing of meter images), suppress-go-ahead
// both ways and offers COM-PORT-OPTION. A server that refuses that option leaves the line as the
// server has it set: the data still flows, escaped, and ComPort() says Refused.
class TelnetCodec
{
public:
    enum : unsigned char {
        kSe = 240,
        kNop = 241,
        kSb = 250,
        kWill = 251,
        kWont = 252,
        kDo = 253,
        kDont = 254,
        kIac = 255,
        kBinary = 0,
        kSuppressGoAhead = 3,
        kComPort = 44,
    };
    // COM-PORT-OPTION commands from the client (the server answers each with code + 100).
    enum : unsigned char {
        kSetBaudRate = 1,
        kSetDataSize = 2,
        kSetParity = 3,
        kSetStopSize = 4,
        kSetControl = 5,
        kPurgeData = 12,
    };
    enum class ComPort { Asked, Accepted, Refused };
    // What the line is set to: parity 'N', 'E', 'O' ('K' keeps the server's), stop bits 1 or 2
    // (0 keeps the server's).
    struct LineSettings
    {
        int speed = 9600;
        int dataBits = 8;
        char parity = 'N';
        int stopBits = 1;
        bool modemLines = false; // raise DTR and RTS
    };

    // What the client sends once connected: its offers and requests.
    std::string Start();
    // data with every IAC doubled; a CR without BINARY towards the server becomes CR NUL.
    std::string Escape(const char *data, int count) const;
    // Takes received bytes: the data among them is appended to *data, and the reply they call
    // for (negotiation answers, and the line settings once the server accepts COM-PORT-OPTION)
    // is returned for sending.
    std::string Feed(const char *bytes, int count, std::string *data);
    // The settings to put in force: sent at once when the server has accepted COM-PORT-OPTION,
    // else kept and sent by Feed when it does.
    std::string SetLine(const LineSettings &settings);
    // PURGE-DATA: 1 the server's receive buffer, 2 its transmit buffer, 3 both. Nothing unless
    // the server accepted COM-PORT-OPTION.
    std::string Purge(int which) const;
    ComPort ComPortState() const { return m_comPort; }
    // The speed the server last reported for its line (its answer to SET-BAUDRATE); 0 none.
    int ServerSpeed() const { return m_serverSpeed; }

    // The COM-PORT-OPTION subnegotiations that set a line up, IAC-escaped.
    static std::string LineCommands(const LineSettings &settings);

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    struct Option
    {
        bool us = false; // we do it (WILL said and DO received)
        bool him = false; // the server does it
        bool usAsked = false; // our WILL is waiting for an answer
        bool himAsked = false; // our DO is waiting for an answer
    };
    bool WeSupport(unsigned char option) const;
    bool HeMay(unsigned char option) const;
    void Negotiate(unsigned char command, unsigned char option, std::string *reply);
    void SubnegotiationEnded(std::string *reply);

    State m_state = State::Data;
    unsigned char m_command = 0;
    std::string m_sub;
    bool m_lastWasCr = false;
    Option m_options[256];
    ComPort m_comPort = ComPort::Asked;
    bool m_haveSettings = false;
    LineSettings m_settings;
    int m_serverSpeed = 0;
};

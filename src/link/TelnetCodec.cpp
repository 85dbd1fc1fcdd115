#include "link/TelnetCodec.h"

namespace {

std::string Command(unsigned char command, unsigned char option)
{
    return { char(TelnetCodec::kIac), char(command), char(option) };
}

// One COM-PORT-OPTION subnegotiation with its value, IACs in the value doubled.
std::string ComPortCommand(unsigned char command, const std::string &value)
{
    std::string out = { char(TelnetCodec::kIac), char(TelnetCodec::kSb),
        char(TelnetCodec::kComPort), char(command) };
    for (const char c : value) {
        out += c;
        if (static_cast<unsigned char>(c) == TelnetCodec::kIac)
            out += c;
    }
    out += char(TelnetCodec::kIac);
    out += char(TelnetCodec::kSe);
    return out;
}

} // namespace

bool TelnetCodec::WeSupport(unsigned char option) const
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TelnetCodec::HeMay(unsigned char option) const
{
    return option == kBinary || option == kSuppressGoAhead;
}

std::string TelnetCodec::Start()
{
    std::string out;
    for (const unsigned char option : { kBinary, kSuppressGoAhead, kComPort }) {
        m_options[option].usAsked = true;
        out += Command(kWill, option);
    }
    for (const unsigned char option : { kBinary, kSuppressGoAhead }) {
        m_options[option].himAsked = true;
        out += Command(kDo, option);
    }
    return out;
}

std::string TelnetCodec::Escape(const char *data, int count) const
{
    std::string out;
    out.reserve(std::size_t(count > 0 ? count : 0) + 8);
    const bool binary = m_options[kBinary].us;
    for (int i = 0; i < count; ++i) {
        out += data[i];
        const unsigned char byte = static_cast<unsigned char>(data[i]);
        if (byte == kIac)
            out += data[i];
        else if (byte == '\r' && !binary)
            out += '\0';
    }
    return out;
}

std::string TelnetCodec::Feed(const char *bytes, int count, std::string *data)
{
    std::string reply;
    for (int i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        switch (m_state) {
        case State::Data:
            if (byte == kIac) {
                m_state = State::Iac;
                break;
            }
            // Without BINARY from the server a CR comes as CR NUL: the NUL is not data.
            if (!(byte == 0 && m_lastWasCr && !m_options[kBinary].him))
                *data += char(byte);
            m_lastWasCr = byte == '\r';
            break;
        case State::Iac:
            m_lastWasCr = false;
            if (byte == kIac) {
                *data += char(kIac);
                m_state = State::Data;
            } else if (byte >= kWill && byte <= kDont) {
                m_command = byte;
                m_state = State::Option;
            } else if (byte == kSb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, a stray SE ...: nothing to do
            }
            break;
        case State::Option:
            Negotiate(m_command, byte, &reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                m_state = State::SubIac;
            else if (m_sub.size() < 64)
                m_sub += char(byte);
            break;
        case State::SubIac:
            if (byte == kIac) {
                if (m_sub.size() < 64)
                    m_sub += char(kIac);
                m_state = State::Sub;
            } else {
                // SE, or anything else that ends the subnegotiation as well.
                SubnegotiationEnded(&reply);
                m_state = byte == kSe ? State::Data : State::Iac;
                if (m_state == State::Iac)
                    --i; // the byte after IAC is a command of its own
            }
            break;
        }
    }
    return reply;
}

void TelnetCodec::Negotiate(unsigned char command, unsigned char option, std::string *reply)
{
    Option &o = m_options[option];
    switch (command) {
    case kDo:
        if (o.us)
            break; // already in force: no answer, so no loop
        if (WeSupport(option)) {
            o.us = true;
            if (!o.usAsked)
                *reply += Command(kWill, option);
            o.usAsked = false;
            if (option == kComPort) {
                m_comPort = ComPort::Accepted;
                if (m_haveSettings)
                    *reply += LineCommands(m_settings);
            }
        } else {
            *reply += Command(kWont, option);
        }
        break;
    case kDont:
        if (o.us)
            *reply += Command(kWont, option);
        if (option == kComPort && (o.usAsked || o.us))
            m_comPort = ComPort::Refused;
        o.us = false;
        o.usAsked = false;
        break;
    case kWill:
        if (o.him)
            break;
        if (HeMay(option)) {
            o.him = true;
            if (!o.himAsked)
                *reply += Command(kDo, option);
            o.himAsked = false;
        } else {
            *reply += Command(kDont, option);
        }
        break;
    case kWont:
        if (o.him)
            *reply += Command(kDont, option);
        o.him = false;
        o.himAsked = false;
        break;
    default:
        break;
    }
}

void TelnetCodec::SubnegotiationEnded(std::string *reply)
{
    (void)reply;
    // The server's answer to SET-BAUDRATE (code 101) carries the speed it put in force.
    if (m_sub.size() == 6 && static_cast<unsigned char>(m_sub[0]) == kComPort
        && static_cast<unsigned char>(m_sub[1]) == kSetBaudRate + 100) {
        unsigned value = 0;
        for (int i = 2; i < 6; ++i)
            value = (value << 8) | static_cast<unsigned char>(m_sub[std::size_t(i)]);
        m_serverSpeed = int(value);
    }
    m_sub.clear();
}

std::string TelnetCodec::SetLine(const LineSettings &settings)
{
    m_settings = settings;
    m_haveSettings = true;
    return m_comPort == ComPort::Accepted ? LineCommands(settings) : std::string();
}

std::string TelnetCodec::Purge(int which) const
{
    if (m_comPort != ComPort::Accepted || which < 1 || which > 3)
        return {};
    return ComPortCommand(kPurgeData, std::string(1, char(which)));
}

std::string TelnetCodec::LineCommands(const LineSettings &settings)
{
    const unsigned speed = unsigned(settings.speed);
    std::string out = ComPortCommand(kSetBaudRate,
        { char(speed >> 24), char((speed >> 16) & 0xFF), char((speed >> 8) & 0xFF),
            char(speed & 0xFF) });
    out += ComPortCommand(kSetDataSize, std::string(1, char(settings.dataBits)));
    // Parity codes: 1 none, 2 odd, 3 even; stop sizes: 1 one, 2 two.
    const char parity = settings.parity == 'E' ? 3 : settings.parity == 'O' ? 2 : 1;
    if (settings.parity != 'K')
        out += ComPortCommand(kSetParity, std::string(1, parity));
    if (settings.stopBits == 1 || settings.stopBits == 2)
        out += ComPortCommand(kSetStopSize, std::string(1, char(settings.stopBits)));
    // No flow control (XON/XOFF would swallow bytes of images); then DTR and RTS on (8, 11).
    out += ComPortCommand(kSetControl, std::string(1, char(1)));
    if (settings.modemLines) {
        out += ComPortCommand(kSetControl, std::string(1, char(8)));
        out += ComPortCommand(kSetControl, std::string(1, char(11)));
    }
    return out;
}

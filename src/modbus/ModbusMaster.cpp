#include "modbus/ModbusMaster.h"

#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "link/mbCSerial.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The two 256-entry tables of the Modbus serial-line CRC (reflected polynomial 0xA001), split
// by byte the way the frame carries them: low[i] is the table entry's low byte (the byte sent
// first), high[i] its high byte. Built at compile time so no digit can be mistyped.
struct CrcTables
{
    std::array<unsigned char, 256> low {};
    std::array<unsigned char, 256> high {};
};

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables;
    for (int i = 0; i < 256; ++i) {
        unsigned crc = unsigned(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        tables.low[size_t(i)] = static_cast<unsigned char>(crc & 0xFF);
        tables.high[size_t(i)] = static_cast<unsigned char>(crc >> 8);
    }
    return tables;
}

constexpr CrcTables kCrc = MakeCrcTables();
static_assert(
    kCrc.low[1] == 0xC1 && kCrc.high[1] == 0xC0 && kCrc.low[255] == 0x40 && kCrc.high[255] == 0x40);

// Discards what is still arriving of a reply we will not take, until the line has been quiet
// for quietMs (or the deadline passes), so the next attempt does not start inside its tail.
Task<void> DrainUntilQuietAsync(
    DialogueRunner &runner, mbCSerial *port, int quietMs, QDeadlineTimer deadline)
{
    unsigned char byte = 0;
    for (;;) {
        QDeadlineTimer quiet(quietMs, Qt::PreciseTimer);
        if (deadline.deadline() < quiet.deadline())
            quiet = deadline;
        if (!co_await port->ReadByteBy(runner, &byte, quiet))
            co_return;
    }
}

} // namespace

ModbusMaster::ModbusMaster(mbCSerial *port)
    : m_port(port)
{
}

unsigned short ModbusMaster::Crc16(const unsigned char *bytes, int count)
{
    unsigned char low = 0xFF;
    unsigned char high = 0xFF;
    for (int i = 0; i < count; ++i) {
        const unsigned char index = low ^ bytes[i];
        low = high ^ kCrc.low[index];
        high = kCrc.high[index];
    }
    return static_cast<unsigned short>(low | (high << 8));
}

void ModbusMaster::Crc(int count)
{
    const int n = std::clamp(count, 0, kFrameSize);
    const unsigned short crc = Crc16(m_frame, n);
    m_crcLow = static_cast<unsigned char>(crc & 0xFF);
    m_crcHigh = static_cast<unsigned char>(crc >> 8);
}

int ModbusMaster::SendRequest(unsigned char startLow, unsigned char countLow)
{
    m_frame[1] = 0x03;
    m_frame[2] = 0x00;
    m_frame[3] = startLow;
    m_frame[4] = 0x00;
    m_frame[5] = countLow;
    Crc(6);
    m_frame[6] = m_crcLow;
    m_frame[7] = m_crcHigh;
    m_requestAddress = m_frame[0];
    m_expectedByteCount = 2 * countLow;
    if (!m_port)
        return 0;
    if (!IsTcp())
        return m_port->WriteBytes(m_frame, 8) ? 1 : 0;
    // MBAP header: transaction id, protocol 0, the length of what follows (unit id and PDU),
    // then the unit id and the RTU request's PDU; TCP carries no CRC.
    ++m_transactionId;
    if (m_transactionId == 0)
        m_transactionId = 1;
    unsigned char adu[kMbapSize + 5] = { static_cast<unsigned char>(m_transactionId >> 8),
        static_cast<unsigned char>(m_transactionId & 0xFF), 0, 0, 0, 6, m_frame[0] };
    std::memcpy(adu + kMbapSize, m_frame + 1, 5);
    m_tcpRequest = QByteArray(reinterpret_cast<const char *>(adu), int(sizeof adu));
    return m_port->WriteBytes(adu, int(sizeof adu)) ? 1 : 0;
}

bool ModbusMaster::IsTcp() const
{
    return m_port && m_port->IsModbusTcp();
}

int ModbusMaster::SendDynamicRequest()
{
    return SendRequest(0x00, 0x06);
}

int ModbusMaster::SendStaticRequest()
{
    return SendRequest(0x06, 0x0A);
}

int ModbusMaster::Fail(ErrorKind kind, int detail)
{
    m_errorKind = kind;
    m_errorDetail = detail;
    return 0;
}

int ModbusMaster::RestAfterHeader()
{
    // Judge the header before waiting for more: a reply from elsewhere or an exception frame
    // says at once what went wrong, where the byte count would have us wait for bytes that
    // never come.
    if (m_frame[0] != m_requestAddress) {
        Fail(WrongAddress, m_frame[0]);
        return -1;
    }
    if (m_frame[1] == 0x83)
        return 2; // exception: address, function | 0x80, code, CRC
    if (m_frame[1] != 0x03) {
        Fail(WrongFunction, m_frame[1]);
        return -1;
    }
    const int n = m_frame[2];
    // Header, data and CRC must fit the frame buffer; no reply to our requests comes close.
    if (3 + n + 2 > kFrameSize) {
        Fail(WrongByteCount, n);
        return -1;
    }
    return n + 2;
}

int ModbusMaster::JudgeFrame()
{
    if (m_frame[1] == 0x83) {
        Crc(3);
        if (m_crcLow != m_frame[3] || m_crcHigh != m_frame[4])
            return Fail(CrcMismatch);
        return Fail(ExceptionReply, m_frame[2]);
    }
    const int n = m_frame[2];
    Crc(n + 3);
    if (m_crcLow != m_frame[n + 3] || m_crcHigh != m_frame[n + 4])
        return Fail(CrcMismatch);
    if (m_expectedByteCount && n != m_expectedByteCount)
        return Fail(WrongByteCount, n);
    return 1;
}

int ModbusMaster::TcpRestAfterHeader(const unsigned char *header)
{
    const int id = (header[0] << 8) | header[1];
    const int protocol = (header[2] << 8) | header[3];
    const int length = (header[4] << 8) | header[5];
    if (protocol != 0) {
        Fail(BadHeader, protocol);
        return -1;
    }
    if (id != m_transactionId) {
        Fail(WrongTransaction, id);
        return -1;
    }
    if (header[6] != m_requestAddress) {
        Fail(WrongUnit, header[6]);
        return -1;
    }
    const unsigned char function = header[7];
    if (function == 0x83)
        return length == 3 ? 0 : (Fail(BadHeader, length), -1);
    if (function != 0x03) {
        Fail(WrongFunction, function);
        return -1;
    }
    const int n = header[8];
    if (3 + n + 2 > kFrameSize) {
        Fail(WrongByteCount, n);
        return -1;
    }
    // The length counts the unit id, function, byte count and data.
    if (length != 3 + n) {
        Fail(BadHeader, length);
        return -1;
    }
    return n;
}

Task<int> ModbusMaster::ReceiveTcpResponseAsync(DialogueRunner &runner)
{
    mbCSerial *port = m_port;
    // The MBAP header, the function and the byte count (or exception code): the reply's header.
    unsigned char header[kMbapSize + 2] = {};
    const QDeadlineTimer headerDeadline(m_timing.headerMs, Qt::PreciseTimer);
    bool stale = false;
    int rest = -1;
    for (;;) {
        for (unsigned char &byte : header) {
            if (!co_await port->ReadByteBy(runner, &byte, headerDeadline))
                co_return stale ? 0 : Fail(TimedOut); // a stale reply is what was seen
        }
        rest = TcpRestAfterHeader(header);
        const int length = (header[4] << 8) | header[5];
        if (m_errorKind != WrongTransaction || rest >= 0 || length < 3 || length > 254)
            break;
        // A late reply to an earlier request: skipped whole (its length says how far), and the
        // wait for this request's reply goes on.
        stale = true;
        unsigned char skipped = 0;
        for (int i = 3; i < length; ++i) {
            if (!co_await port->ReadByteBy(runner, &skipped, headerDeadline))
                co_return 0;
        }
    }
    const QDeadlineTimer restDeadline(m_timing.restMs, Qt::PreciseTimer);
    if (rest < 0) {
        co_await DrainUntilQuietAsync(runner, port, m_timing.quietMs, restDeadline);
        co_return 0;
    }
    m_frame[0] = header[6];
    m_frame[1] = header[7];
    m_frame[2] = header[8];
    if (header[7] == 0x83)
        co_return Fail(ExceptionReply, header[8]);
    for (int i = 3; i < 3 + rest; ++i) {
        if (!co_await port->ReadByteBy(runner, &m_frame[i], restDeadline))
            co_return Fail(TimedOut);
    }
    if (m_expectedByteCount && rest != m_expectedByteCount)
        co_return Fail(WrongByteCount, rest);
    co_return 1;
}

Task<int> ModbusMaster::ReceiveResponseAsync(DialogueRunner &runner)
{
    std::memset(m_frame, 0, sizeof m_frame);
    mbCSerial *port = m_port;
    if (!port || !port->IsEnabled())
        co_return Fail(TimedOut);
    if (IsTcp())
        co_return co_await ReceiveTcpResponseAsync(runner);

    const QDeadlineTimer headerDeadline(m_timing.headerMs, Qt::PreciseTimer);
    for (int i = 0; i < 3; ++i) {
        if (!co_await port->ReadByteBy(runner, &m_frame[i], headerDeadline))
            co_return Fail(TimedOut);
    }
    const QDeadlineTimer restDeadline(m_timing.restMs, Qt::PreciseTimer);
    const int rest = RestAfterHeader();
    if (rest < 0) {
        co_await DrainUntilQuietAsync(runner, port, m_timing.quietMs, restDeadline);
        co_return 0;
    }
    for (int i = 3; i < 3 + rest; ++i) {
        if (!co_await port->ReadByteBy(runner, &m_frame[i], restDeadline))
            co_return Fail(TimedOut);
    }
    co_return JudgeFrame();
}

Task<int> ModbusMaster::TransactionAsync(DialogueRunner &runner, QString addressText, bool dynamic)
{
    const int address = AddressValue(addressText);
    for (int attempt = 0; attempt < m_timing.attempts && !runner.Cancelled(); ++attempt) {
        m_frame[0] = static_cast<unsigned char>(address);
        if (m_port)
            m_port->PurgeInput();
        const int sent = dynamic ? SendDynamicRequest() : SendStaticRequest();
        if (!sent) {
            Fail(TimedOut);
            continue;
        }
        if (co_await ReceiveResponseAsync(runner)) {
            if (dynamic)
                DecodeDynamic(m_frame + 3);
            else
                DecodeStatic(m_frame + 3);
            co_return 1;
        }
    }
    co_return 0;
}

Task<int> ModbusMaster::ReadDynamicAsync(DialogueRunner &runner, QString addressText)
{
    return TransactionAsync(runner, std::move(addressText), true);
}

Task<int> ModbusMaster::ReadStaticAsync(DialogueRunner &runner, QString addressText)
{
    return TransactionAsync(runner, std::move(addressText), false);
}

QString ModbusMaster::FailureText(const QString &addressText) const
{
    QString what;
    switch (m_errorKind) {
    case CrcMismatch:
        what = QStringLiteral("CRC Error");
        break;
    case ExceptionReply:
        what = QStringLiteral("Exception Response, Code %1").arg(m_errorDetail);
        break;
    case WrongAddress:
        what = QStringLiteral("Reply From Address %1").arg(m_errorDetail);
        break;
    case WrongFunction:
        what = QStringLiteral("Reply With Function Code %1").arg(m_errorDetail);
        break;
    case WrongByteCount:
        what = QStringLiteral("Reply With Byte Count %1, Expected %2")
                   .arg(m_errorDetail)
                   .arg(m_expectedByteCount);
        break;
    case WrongTransaction:
        what = QStringLiteral("Reply With Transaction Id %1, Expected %2")
                   .arg(m_errorDetail)
                   .arg(m_transactionId);
        break;
    case WrongUnit:
        what = QStringLiteral("Reply From Unit %1").arg(m_errorDetail);
        break;
    case BadHeader:
        what = QStringLiteral("Reply With A Bad MBAP Header");
        break;
    default:
        // No reply because the port's device went away: the port is named instead.
        what = m_port && m_port->IsGone() ? m_port->GoneText()
                                          : QStringLiteral("Response Timed Out");
        break;
    }
    return QStringLiteral("Address %1: %2   ").arg(addressText, what);
}

int ModbusMaster::AddressValue(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    const long value = std::strtol(bytes.constData(), nullptr, 10);
    return int(std::clamp(value, long(INT_MIN), long(INT_MAX)));
}

float ModbusMaster::FloatAt(const unsigned char *bytes)
{
    return std::bit_cast<float>(static_cast<std::uint32_t>(IntAt(bytes)));
}

int ModbusMaster::IntAt(const unsigned char *bytes)
{
    const std::uint32_t value = (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16)
        | (std::uint32_t(bytes[2]) << 8) | std::uint32_t(bytes[3]);
    return static_cast<int>(value);
}

QString ModbusMaster::TotalizerText(float value)
{
    const double v = value;
    const char *format = v > 100000 ? "%.1f"
        : v > 10000                 ? "%.2f"
        : v > 1000                  ? "%.3f"
        : v > 100                   ? "%.4f"
        : v > 10                    ? "%.5f"
        : v > 1                     ? "%.6f"
                                    : "%.7f";
    return PrintfText::Format(format, v);
}

QString ModbusMaster::TemperatureText(float value)
{
    double v = value;
    if (v > -0.5 && v < 0)
        v = 0;
    return PrintfText::Format("%4.1f", v);
}

namespace {
// Four unit characters as received, ending early at a NUL a meter may pad with.
QString UnitText(const unsigned char *bytes)
{
    const int length = int(strnlen(reinterpret_cast<const char *>(bytes), 4));
    return QString::fromLatin1(reinterpret_cast<const char *>(bytes), length);
}
} // namespace

void ModbusMaster::DecodeDynamic(const unsigned char *data)
{
    m_flowText = PrintfText::Format("%f", double(FloatAt(data)));
    m_totalizerText = TotalizerText(FloatAt(data + 4));
    m_temperatureText = TemperatureText(FloatAt(data + 8));
}

void ModbusMaster::DecodeStatic(const unsigned char *data)
{
    m_serialText = PrintfText::Format("%d", IntAt(data));
    m_flowUnitsText = UnitText(data + 4);
    m_totalizerUnitsText = UnitText(data + 8);
    m_maxRangeText = PrintfText::Format("%.6f", double(FloatAt(data + 12)));
    m_fullScaleText = PrintfText::Format("%.6f", double(FloatAt(data + 16)));
}

#include "ModbusSim.h"

#include "PtyPort.h"

#include <QElapsedTimer>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace {

const char kUsage[]
    = "usage: tarvik-metersim --modbus [--addr A,B,...] [--silent A,...] [--badcrc A,...]\n"
      "                       [--late A:MS,...] [--baud N] [--link PATH] [--tcp PORT]\n"
      "                       [--modbus-tcp PORT]\n";

const char kHelp[]
    = "\n"
      "A simulated Modbus RTU network of meters on one line (8E1).\n"
      "\n"
      "  --addr A,B,...     the slave addresses present (default 1)\n"
      "  --silent A,...     addresses that never answer\n"
      "  --badcrc A,...     addresses whose replies carry a wrong CRC (as two meters at one\n"
      "                     address garble each other)\n"
      "  --late A:MS,...    addresses that answer MS milliseconds late\n"
      "  --baud N           pace the replies at N baud\n"
      "  --link PATH        make PATH a symlink to the pseudo-terminal\n"
      "  --tcp PORT         serve the frames on 127.0.0.1:PORT instead (0: a free port)\n"
      "\n"
      "Prints the pseudo-terminal's path on the first line of its output, then runs\n"
      "until SIGTERM or Ctrl+C.\n";

bool ParseList(const QString &text, QList<int> *out)
{
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = item.trimmed().toInt(&ok);
        if (!ok)
            return false;
        out->append(value);
    }
    return !out->isEmpty();
}

void PutU32(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value >> 24));
    bytes.append(char(value >> 16));
    bytes.append(char(value >> 8));
    bytes.append(char(value));
}

void PutFloat(QByteArray &bytes, float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, 4);
    PutU32(bytes, bits);
}

QByteArray Exception(int address, int function, int code)
{
    QByteArray reply;
    reply.append(char(address));
    reply.append(char(function | 0x80));
    reply.append(char(code));
    return ModbusSimNetwork::WithCrc(reply);
}

} // namespace

QString ModbusSimNetwork::ParseArguments(const QStringList &arguments)
{
    QList<int> addresses;
    QList<int> silent;
    QList<int> badCrc;
    QList<QPair<int, int>> late;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString option = arguments.at(i);
        if (option == QLatin1String("--modbus"))
            continue;
        if (i + 1 >= arguments.size())
            return QStringLiteral("%1 needs a value").arg(option);
        const QString value = arguments.at(++i);
        if (option == QLatin1String("--addr")) {
            if (!ParseList(value, &addresses))
                return QStringLiteral("bad address list: %1").arg(value);
        } else if (option == QLatin1String("--silent")) {
            if (!ParseList(value, &silent))
                return QStringLiteral("bad address list: %1").arg(value);
        } else if (option == QLatin1String("--badcrc")) {
            if (!ParseList(value, &badCrc))
                return QStringLiteral("bad address list: %1").arg(value);
        } else if (option == QLatin1String("--late")) {
            for (const QString &item : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QStringList parts = item.split(QLatin1Char(':'));
                bool ok1 = false;
                bool ok2 = false;
                const int address = parts.value(0).toInt(&ok1);
                const int ms = parts.value(1).toInt(&ok2);
                if (parts.size() != 2 || !ok1 || !ok2 || ms < 0)
                    return QStringLiteral("bad --late value: %1 (ADDRESS:MS)").arg(item);
                late.append({ address, ms });
            }
        } else if (option == QLatin1String("--baud")) {
            bool ok = false;
            m_baud = value.toInt(&ok);
            if (!ok || m_baud < 0)
                return QStringLiteral("bad baud rate: %1").arg(value);
        } else if (option == QLatin1String("--link")) {
            m_linkPath = value;
        } else if (option == QLatin1String("--tcp") || option == QLatin1String("--modbus-tcp")) {
            bool ok = false;
            m_modbusTcp = option == QLatin1String("--modbus-tcp");
            m_tcpPort = value.toInt(&ok);
            if (!ok || m_tcpPort < 0 || m_tcpPort > 65535)
                return QStringLiteral("bad TCP port: %1").arg(value);
        } else {
            return QStringLiteral("unknown option %1").arg(option);
        }
    }
    if (addresses.isEmpty())
        addresses.append(1);
    for (int address : addresses) {
        if (address < 1 || address > 247)
            return QStringLiteral("address %1 is outside 1..247").arg(address);
        if (!FindMeter(address))
            AddMeter(address);
    }
    auto meter = [this](int address, Meter **out) {
        *out = FindMeter(address);
        return *out ? QString() : QStringLiteral("address %1 is not on the network").arg(address);
    };
    Meter *m = nullptr;
    for (int address : silent) {
        if (QString e = meter(address, &m); !e.isEmpty())
            return e;
        m->silent = true;
    }
    for (int address : badCrc) {
        if (QString e = meter(address, &m); !e.isEmpty())
            return e;
        m->badCrc = true;
    }
    for (const auto &entry : late) {
        if (QString e = meter(entry.first, &m); !e.isEmpty())
            return e;
        m->lateMs = entry.second;
    }
    return QString();
}

void ModbusSimNetwork::AddMeter(int address)
{
    Meter meter;
    meter.address = address;
    m_meters.append(meter);
}

ModbusSimNetwork::Meter *ModbusSimNetwork::FindMeter(int address)
{
    for (Meter &meter : m_meters) {
        if (meter.address == address)
            return &meter;
    }
    return nullptr;
}

QByteArray ModbusSimNetwork::RegisterBytes(int address, double t)
{
    // Each meter has its own flow around 25 x address, a totalizer that starts at a different
    // power of ten (so every display precision shows up on a network of a few meters) and
    // counts the flow per minute, and a temperature swinging around 68 degrees F.
    const double omega = 2 * std::numbers::pi / 20.0;
    const double phase = address;
    const double base = 25.0 * address;
    const double flow = base * (1 + 0.15 * std::sin(omega * t + phase));
    const double start = 0.5 * std::pow(10.0, (address - 1) % 7);
    const double total = start
        + base / 60.0 * (t - 0.15 / omega * (std::cos(omega * t + phase) - std::cos(phase)));
    const double temperature = 68.0 + 4.0 * std::sin(2 * std::numbers::pi * t / 60.0 + phase);

    QByteArray bytes;
    PutFloat(bytes, float(flow));
    PutFloat(bytes, float(total));
    PutFloat(bytes, float(temperature));
    PutU32(bytes, quint32(20260000 + address));
    bytes.append("SCFM", 4);
    bytes.append("SCF ", 4);
    PutFloat(bytes, float(1000.0 * address));
    PutFloat(bytes, float(500.0 * address));
    return bytes;
}

unsigned short ModbusSimNetwork::Crc16(const QByteArray &bytes)
{
    // Bit by bit, the way the line's definition states it (the program uses tables).
    unsigned crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<unsigned short>(crc);
}

QByteArray ModbusSimNetwork::WithCrc(QByteArray frame)
{
    const unsigned short crc = Crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray ModbusSimNetwork::Respond(const QByteArray &frame, double t, int *lateMs) const
{
    if (lateMs)
        *lateMs = 0;
    // A slave ignores what it cannot trust: short frames, bad CRC, other addresses, broadcasts.
    if (frame.size() < 4)
        return {};
    if (WithCrc(frame.left(frame.size() - 2)) != frame)
        return {};
    const int address = static_cast<unsigned char>(frame[0]);
    const int function = static_cast<unsigned char>(frame[1]);
    const Meter *meter = nullptr;
    for (const Meter &m : m_meters) {
        if (m.address == address)
            meter = &m;
    }
    if (address == 0 || !meter || meter->silent)
        return {};
    if (lateMs)
        *lateMs = meter->lateMs;

    QByteArray reply;
    if (function != 3) {
        reply = Exception(address, function, 1); // illegal function
    } else if (frame.size() != 8) {
        reply = Exception(address, function, 3); // illegal data value
    } else {
        const int start
            = (static_cast<unsigned char>(frame[2]) << 8) | static_cast<unsigned char>(frame[3]);
        const int count
            = (static_cast<unsigned char>(frame[4]) << 8) | static_cast<unsigned char>(frame[5]);
        if (count < 1 || count > 125) {
            reply = Exception(address, function, 3);
        } else if (start + count > kRegisters) {
            reply = Exception(address, function, 2); // illegal data address
        } else {
            reply.append(char(address));
            reply.append(char(3));
            reply.append(char(2 * count));
            reply.append(RegisterBytes(address, t).mid(2 * start, 2 * count));
            reply = WithCrc(reply);
        }
    }
    if (meter->badCrc)
        reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x5A);
    return reply;
}

QByteArray ModbusSimNetwork::RespondTcp(QByteArray *pending, double t, int *lateMs) const
{
    if (lateMs)
        *lateMs = 0;
    constexpr int kHeader = 7; // transaction id, protocol id, length, unit id
    if (pending->size() < kHeader)
        return {};
    const auto byte = [pending](int i) { return int(static_cast<unsigned char>(pending->at(i))); };
    const int protocol = (byte(2) << 8) | byte(3);
    const int length = (byte(4) << 8) | byte(5);
    if (protocol != 0 || length < 2 || length > 254) {
        pending->clear();
        return {};
    }
    if (pending->size() < 6 + length)
        return {};
    const QByteArray header = pending->left(kHeader);
    // The unit id and PDU are an RTU frame without its CRC: answered as on the line.
    const QByteArray frame = WithCrc(pending->mid(6, length));
    pending->remove(0, 6 + length);
    const QByteArray reply = Respond(frame, t, lateMs);
    if (reply.size() < 4 || WithCrc(reply.left(reply.size() - 2)) != reply)
        return {}; // a gateway passes on no reply it cannot trust
    const QByteArray pdu = reply.mid(1, reply.size() - 3);
    QByteArray out = header.left(4);
    out.append(char((pdu.size() + 1) >> 8));
    out.append(char((pdu.size() + 1) & 0xFF));
    out.append(header.at(6));
    return out + pdu;
}

int RunModbusSim(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::printf("%s%s", kUsage, kHelp);
        return 0;
    }
    ModbusSimNetwork network;
    const QString error = network.ParseArguments(arguments);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "tarvik-metersim: %s\n%s", qPrintable(error), kUsage);
        return 2;
    }

    PtyPort port;
    if (!(network.TcpPort() >= 0 ? port.OpenTcp(network.TcpPort())
                                 : port.Open(network.LinkPath()))) {
        std::fprintf(stderr, "tarvik-metersim: %s\n", qPrintable(port.LastError()));
        return 1;
    }
    // The Modbus line is 8E1: 11 bits a byte, where PtyPort paces 10.
    const int baud = network.Baud();
    if (baud > 0)
        port.SetBaud(std::max(1, baud * 10 / 11));
    PtyPort::InstallStopSignals();
    std::printf("%s\n",
        qPrintable(network.ModbusTcp()
                ? QString(port.SlavePath())
                      .replace(QLatin1String("tcp://"), QLatin1String("modbus-tcp://"))
                : port.SlavePath()));
    std::fflush(stdout);

    // A frame ends with 3.5 characters of silence (at least 2 ms, the pty's own granularity).
    const double charMs = baud > 0 ? 11000.0 / baud : 0.0;
    const int gapMs = std::max(2, int(std::ceil(3.5 * charMs)));
    QElapsedTimer clock;
    clock.start();
    QByteArray pending;
    while (!PtyPort::StopRequested()) {
        const int rc = port.WaitInput(pending.isEmpty() ? 1000 : gapMs);
        if (rc < 0)
            break;
        if (rc == 1) {
            const QByteArray bytes = port.ReadAvailable();
            if (bytes.isEmpty()) {
                PtyPort::SleepMs(10); // readable yet nothing to read: the far end went away
                continue;
            }
            // Noise without a pause is never a request: keep only the latest bytes.
            pending += bytes;
            if (network.ModbusTcp()) {
                // Modbus TCP frames by its header's length, not by silence.
                int lateMs = 0;
                for (;;) {
                    const int before = int(pending.size());
                    const QByteArray reply
                        = network.RespondTcp(&pending, clock.elapsed() / 1000.0, &lateMs);
                    if (!reply.isEmpty()) {
                        PtyPort::SleepMs(lateMs);
                        port.Write(reply);
                    }
                    if (pending.size() == before)
                        break;
                }
                continue;
            }
            if (pending.size() > 256)
                pending = pending.right(256);
            continue;
        }
        if (pending.isEmpty())
            continue;
        const QByteArray frame = pending;
        pending.clear();
        int lateMs = 0;
        const QByteArray reply = network.Respond(frame, clock.elapsed() / 1000.0, &lateMs);
        if (reply.isEmpty())
            continue;
        // The request reached us at once through the pty; on a real line its last byte would
        // arrive its own wire time after the first.
        int waitMs = lateMs;
        if (charMs > 0)
            waitMs += int(std::lround(frame.size() * charMs));
        PtyPort::SleepMs(waitMs);
        port.Write(reply);
    }
    port.Close();
    return 0;
}

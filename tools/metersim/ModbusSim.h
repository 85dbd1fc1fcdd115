#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>

// The --modbus mode of tarvik-metersim: a network of slave meters on one pseudo-terminal.
// argc/argv are the whole command line; returns the process exit code.
int RunModbusSim(int argc, char **argv);

// The slave meters of the simulated network and how each answers: the register map of the
// network window (function 3, holding registers 0..15), the Modbus exception responses, and
// the faults a test can switch on per address. Pure: time comes in as an argument, bytes in
// and out as frames; RunModbusSim feeds it from the pseudo-terminal.
class ModbusSimNetwork
{
public:
    static constexpr int kRegisters = 16;

    struct Meter
    {
        int address = 1;
        bool silent = false; // never answers
        bool badCrc = false; // answers with the CRC's high byte flipped
        int lateMs = 0; // extra turnaround before answering
    };

    // Parses the command line (--addr, --silent, --badcrc, --late, --baud, --link).
    // Returns an empty text when it is good, else what is wrong with it.
    QString ParseArguments(const QStringList &arguments);

    void AddMeter(int address);
    Meter *FindMeter(int address);
    const QList<Meter> &Meters() const { return m_meters; }
    int Baud() const { return m_baud; }
    QString LinkPath() const { return m_linkPath; }
    // The 127.0.0.1 port to serve the RTU frames on raw instead of a pseudo-terminal; -1 none.
    int TcpPort() const { return m_tcpPort; }
    // Whether that port speaks Modbus TCP (--modbus-tcp PORT) instead of raw RTU frames.
    bool ModbusTcp() const { return m_modbusTcp; }

    // The meter's 16 holding registers at t seconds since the simulator started: flow,
    // totalizer, temperature (floats), serial number (int32), flow and totalizer units (four
    // characters each), maximum range and full scale (floats); every 32-bit value high
    // register first, each register high byte first.
    static QByteArray RegisterBytes(int address, double t);

    // The reply a real slave on this network gives to one received frame: empty for silence
    // (bad CRC, another address, broadcast, a silent meter), an exception response for an
    // unknown function or register range, else the function-3 reply. lateMs receives the
    // extra turnaround of the answering meter.
    QByteArray Respond(const QByteArray &frame, double t, int *lateMs = nullptr) const;

    // The same for Modbus TCP, as a gateway in front of the network answers: takes the first
    // whole request (MBAP header and PDU) off the front of *pending and gives the reply with the
    // request's transaction and unit ids, empty for silence. Bytes that cannot start a request
    // (a protocol id not 0, a length no request has) are dropped whole.
    QByteArray RespondTcp(QByteArray *pending, double t, int *lateMs = nullptr) const;

    static unsigned short Crc16(const QByteArray &bytes);
    static QByteArray WithCrc(QByteArray frame);

private:
    QList<Meter> m_meters;
    int m_baud = 0;
    QString m_linkPath;
    int m_tcpPort = -1;
    bool m_modbusTcp = false;
};

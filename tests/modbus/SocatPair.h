#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class mbCSerial;

// Two linked pseudo-terminals made by socat: the master under test opens one end as its
// Modbus port, a slave (scripted, libmodbus, or raw bytes from the test) uses the other.
// A fresh pair per test: a pty once opened at even parity may refuse a second set-up.
class SocatPair
{
public:
    SocatPair();
    ~SocatPair();
    bool Ok() const { return m_ok; }
    QString MasterPath() const { return m_dir.path() + QStringLiteral("/master"); }
    QString SlavePath() const { return m_dir.path() + QStringLiteral("/slave"); }

    // The Modbus port on the master end at 9600 8E1, opened; null when it cannot be opened.
    std::unique_ptr<mbCSerial> OpenModbusPort() const;
    // The slave end as a raw non-blocking descriptor (closed by the caller).
    int OpenSlaveRaw() const;

    static bool WriteAll(int fd, const QByteArray &bytes);
    // Whatever arrives on fd within ms (sleeping in poll between arrivals).
    static QByteArray ReadFor(int fd, int ms);
    // Up to count bytes from fd, waiting at most ms for them (a busy machine may delay the relay).
    static QByteArray ReadCount(int fd, int count, int ms);
    static QByteArray Hex(const char *text) { return QByteArray::fromHex(text); }

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
    bool m_ok = false;
};

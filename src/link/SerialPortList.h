#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The serial ports the program offers for a meter or a Modbus network: "COM1".."COM49" and the
// serial devices present now (by-id names, USB and modem-class adapters), with what each is.
// The Settings sheet's port pages fill their lists from it and `tarvik-cli ports` prints it.
class SerialPortList
{
public:
    struct Entry
    {
        QString port; // as the lists show it and the preferences keep it
        QString device; // the device path it opens
        QString what; // "USB adapter -> /dev/ttyUSB0", "serial port (absent)", ...
    };

    // "COM1".."COM49", then the serial devices under devRoot (/dev); "OFF" first when asked. A
    // device path in force (current) that is not among them comes last, so that applying a page
    // keeps it instead of storing empty text.
    static QStringList Names(bool withOff, const QString &current = QString(),
        const QString &devRoot = QStringLiteral("/dev"));
    // What a port of the list is: a by-id name names the adapter it links to.
    static Entry Describe(const QString &port);
    static QList<Entry> Entries(const QString &devRoot = QStringLiteral("/dev"));
    // A port given as a path relative to the current folder (a simulator's link, say) made a
    // device path; COM names, absolute paths and names of nothing stand as they are.
    static QString Resolved(const QString &port);
    // Whether a text is one the user types rather than picks: a device path, or a network port
    // (tcp://HOST:PORT, rfc2217://HOST:PORT, modbus-tcp://HOST[:PORT]).
    static bool IsTypedText(const QString &port);
};

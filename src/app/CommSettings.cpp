#include "app/CommSettings.h"

#include "base/CPrefs.h"
#include "base/Globals.h"
#include "link/CSerial.h"
#include "link/SerialPortList.h"
#include "link/mbCSerial.h"

QStringList CommSettings::PortList(bool withOff, const QString &current)
{
    return SerialPortList::Names(withOff, current);
}

QStringList CommSettings::BaudList()
{
    return SerialPort::BaudTexts();
}

QStringList CommSettings::ParityList()
{
    return mbCSerial::ParityTexts();
}

QStringList CommSettings::VersionList()
{
    return { QStringLiteral(">= 4.1A"), QStringLiteral("4.0x"), QStringLiteral("3.9G") };
}

int CommSettings::FirstPrefixMatch(const QStringList &entries, const QString &text)
{
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).startsWith(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void CommSettings::ApplyTerminalPort(CSerial &link, const QString &port, const QString &baud)
{
    CPrefs prefs;
    prefs.SetPort(port);
    prefs.SetBaud(baud);
    // A dialogue on the old port stops first; it must not go on over the port set up anew. A
    // command a closed window left to send (a meter back to run mode) still reaches the old
    // meter, paced, before the port moves: the move waits for it, on the event loop.
    link.CancelDialogue();
    link.AfterDetached([&link, port, baud] {
        link.ClosePort();
        link.SetPortText(port);
        link.SetBaudText(baud);
        link.ReopenPort();
    });
}

void CommSettings::ApplyModbusPort(std::unique_ptr<mbCSerial> &modbusPort, const QString &port,
    const QString &baud, const QString &parity, const LinkTiming &timing)
{
    CPrefs prefs;
    prefs.SetMBPort(port);
    prefs.SetMBBaud(baud);
    prefs.SetParity(parity);
    if (modbusPort)
        modbusPort->CancelDialogue();
    if (port != QLatin1String("OFF")) {
        if (g_ModbusEnabled == 1 && modbusPort) {
            modbusPort->ClosePort();
        } else {
            modbusPort = std::make_unique<mbCSerial>(CPrefs::DeviceName(port), timing);
            g_ModbusEnabled = 1;
        }
        modbusPort->SetPortText(port);
        modbusPort->SetBaudText(baud);
        modbusPort->SetParityText(parity);
        modbusPort->ReopenPort();
    } else {
        if (g_ModbusEnabled == 1 && modbusPort)
            modbusPort->ClosePort();
        g_ModbusEnabled = 0;
    }
}

void CommSettings::ApplyVersion(const QString &version)
{
    CPrefs prefs;
    prefs.SetVersion(version);
    g_DocVersion = version;
}

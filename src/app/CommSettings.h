#pragma once

#include "link/LinkTiming.h"

#include <QString>
#include <QStringList>

#include <memory>

class CSerial;
class mbCSerial;

// What the "Settings" sheet offers and what applying its pages does, without the widgets:
// the choice lists, the first-prefix selection rule, and the close/reopen of the ports.
class CommSettings
{
public:
    // The port pages' list: SerialPortList::Names.
    static QStringList PortList(bool withOff, const QString &current = QString());
    static QStringList BaudList();
    static QStringList ParityList();
    static QStringList VersionList();
    // Index of the first entry that begins with text (ignoring case), -1 if none.
    static int FirstPrefixMatch(const QStringList &entries, const QString &text);

    // Apply of the "Terminal Comm Port" page.
    static void ApplyTerminalPort(CSerial &link, const QString &port, const QString &baud);
    // Apply of the "Modbus Comm Port" page; may create the Modbus port object in modbusPort.
    static void ApplyModbusPort(std::unique_ptr<mbCSerial> &modbusPort, const QString &port,
        const QString &baud, const QString &parity, const LinkTiming &timing = {});
    // Apply of the "Versions" page (empty text when nothing is selected).
    static void ApplyVersion(const QString &version);
};

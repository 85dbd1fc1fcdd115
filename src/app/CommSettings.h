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
    // "COM1".."COM49", then the serial devices that exist here; "OFF" first when asked. A
    // device path in force (current) that is not among them comes last, so that applying the
    // page keeps it instead of storing empty text.
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

#include "link/SerialPortList.h"

#include "link/NetPortText.h"
#include "link/SerialDevice.h"

#include <QFileInfo>

QStringList SerialPortList::Names(bool withOff, const QString &current, const QString &devRoot)
{
    QStringList ports;
    if (withOff)
        ports << QStringLiteral("OFF");
    for (int i = 1; i <= 49; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    for (const std::string &device : SerialDevice::ExistingDevices(devRoot.toStdString()))
        ports << QString::fromStdString(device);
    // A device path of the user's own (a text that names no COM port but a path).
    // A network port (tcp://HOST:PORT ...) is the user's own text too.
    const std::string text = current.toStdString();
    if (!ports.contains(current)
        && (!SerialDevice::DevicePath(text).empty()
            || NetPortText::Parse(text).kind != NetPortText::Kind::None))
        ports << current;
    return ports;
}

SerialPortList::Entry SerialPortList::Describe(const QString &port)
{
    const NetPortText net = NetPortText::Parse(port.toStdString());
    if (net.kind != NetPortText::Kind::None) {
        const QString where = QString::fromStdString(net.HostPort());
        const QString what = net.kind == NetPortText::Kind::Raw ? QStringLiteral("raw TCP server")
            : net.kind == NetPortText::Kind::Telnet ? QStringLiteral("telnet (RFC 2217) server")
                                                    : QStringLiteral("Modbus TCP gateway");
        return { port, where, what + QStringLiteral(" at ") + where };
    }
    Entry entry { port, QString::fromStdString(SerialDevice::DevicePath(port.toStdString())), {} };
    const QString name = QFileInfo(port).fileName();
    if (port.contains(QLatin1String("/serial/by-id/")))
        entry.what = QStringLiteral("USB adapter -> %1").arg(QFileInfo(port).canonicalFilePath());
    else if (port.startsWith(QLatin1Char('/')) && name.startsWith(QLatin1String("ttyUSB")))
        entry.what = QStringLiteral("USB serial adapter");
    else if (port.startsWith(QLatin1Char('/')) && name.startsWith(QLatin1String("ttyACM")))
        entry.what = QStringLiteral("USB modem-class device");
    else
        entry.what = QFileInfo::exists(entry.device) ? QStringLiteral("serial port")
                                                     : QStringLiteral("serial port (absent)");
    return entry;
}

QList<SerialPortList::Entry> SerialPortList::Entries(const QString &devRoot)
{
    QList<Entry> entries;
    for (const QString &port : Names(false, QString(), devRoot))
        entries << Describe(port);
    return entries;
}

QString SerialPortList::Resolved(const QString &port)
{
    if (!SerialDevice::DevicePath(port.toStdString()).empty() || !QFileInfo::exists(port))
        return port;
    return QFileInfo(port).absoluteFilePath();
}

bool SerialPortList::IsTypedText(const QString &port)
{
    return port.startsWith(QLatin1Char('/')) || SerialDevice::IsNetworkText(port.toStdString());
}

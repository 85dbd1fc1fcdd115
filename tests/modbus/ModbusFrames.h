#pragma once

#include "modbus/ModbusMaster.h"

#include <QByteArray>

#include <cstring>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Byte builders shared by the Modbus tests: big-endian values and frames with their CRC.
namespace ModbusFrames {

inline QByteArray U32(quint32 value)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char(value >> shift));
    return bytes;
}

inline QByteArray Float(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, 4);
    return U32(bits);
}

inline QByteArray WithCrc(QByteArray frame)
{
    const unsigned short crc = ModbusMaster::Crc16(
        reinterpret_cast<const unsigned char *>(frame.constData()), int(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

// A complete function-3 reply of address with the given data bytes.
inline QByteArray Reply(int address, const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(address));
    frame.append(char(3));
    frame.append(char(data.size()));
    return WithCrc(frame + data);
}

inline QByteArray DynamicData(float flow, float total, float temperature)
{
    return Float(flow) + Float(total) + Float(temperature);
}

inline QByteArray StaticData(
    qint32 serial, const char units[4], const char totalUnits[4], float maxRange, float fullScale)
{
    return U32(quint32(serial)) + QByteArray(units, 4) + QByteArray(totalUnits, 4) + Float(maxRange)
        + Float(fullScale);
}

} // namespace ModbusFrames

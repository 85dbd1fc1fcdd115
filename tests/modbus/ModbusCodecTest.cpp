// The master's frames, CRC and decoding, without a port.
#include "ModbusFrames.h"

#include "modbus/ModbusMaster.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace ModbusFrames;

namespace {

QByteArray Sent(ModbusMaster &master)
{
    return QByteArray(reinterpret_cast<const char *>(master.Frame()), 8);
}

} // namespace

TEST(ModbusCrc, KnownVectors)
{
    struct Row
    {
        QByteArray bytes;
        unsigned char low, high;
    };
    const Row rows[] = {
        { QByteArray::fromHex("010300000006"), 0xC5, 0xC8 },
        { QByteArray::fromHex("01030006000A"), 0x25, 0xCC },
        { QByteArray("123456789"), 0x37, 0x4B }, // the CRC-16/MODBUS check value 0x4B37
        { QByteArray(), 0xFF, 0xFF },
        { QByteArray::fromHex("00"), 0xBF, 0x40 },
    };
    for (const Row &row : rows) {
        ModbusMaster master;
        std::memcpy(master.Frame(), row.bytes.constData(), size_t(row.bytes.size()));
        master.Crc(int(row.bytes.size()));
        EXPECT_EQ(master.CrcLow(), row.low) << row.bytes.toHex().constData();
        EXPECT_EQ(master.CrcHigh(), row.high) << row.bytes.toHex().constData();
    }
}

TEST(ModbusRequests, BytesOfBothBlocks)
{
    struct Row
    {
        int address;
        bool dynamic;
        QByteArray hex;
    };
    const Row rows[] = {
        { 1, true, "010300000006c5c8" },
        { 1, false, "01030006000a25cc" },
        { 5, true, WithCrc(QByteArray::fromHex("050300000006")).toHex() },
        { 127, false, WithCrc(QByteArray::fromHex("7f030006000a")).toHex() },
    };
    for (const Row &row : rows) {
        ModbusMaster master; // no port: the request is built, the write fails
        master.Frame()[0] = static_cast<unsigned char>(row.address);
        const int sent = row.dynamic ? master.SendDynamicRequest() : master.SendStaticRequest();
        EXPECT_EQ(sent, 0);
        EXPECT_EQ(Sent(master).toHex(), row.hex) << row.address << row.dynamic;
    }
}

TEST(ModbusDecode, TotalizerPrecisionByMagnitude)
{
    struct Row
    {
        float value;
        const char *text;
    };
    const Row rows[] = {
        { 123456.0f, "123456.0" },
        { 100000.0f, "100000.00" },
        { 50000.25f, "50000.25" },
        { 10000.0f, "10000.000" },
        { 1234.5f, "1234.500" },
        { 1000.0f, "1000.0000" },
        { 100.5f, "100.5000" },
        { 100.0f, "100.00000" },
        { 10.5f, "10.50000" },
        { 10.0f, "10.000000" },
        { 1.5f, "1.500000" },
        { 1.0f, "1.0000000" },
        { 0.5f, "0.5000000" },
        { -2.0f, "-2.0000000" },
    };
    for (const Row &row : rows)
        EXPECT_EQ(ModbusMaster::TotalizerText(row.value), QString::fromLatin1(row.text))
            << row.value;
}

TEST(ModbusDecode, TemperatureNearZeroShowsZero)
{
    struct Row
    {
        float value;
        const char *text;
    };
    const Row rows[] = {
        { -0.2f, " 0.0" },
        { -0.49f, " 0.0" },
        { -0.5f, "-0.5" },
        { -3.0f, "-3.0" },
        { 0.0f, " 0.0" },
        { 72.3f, "72.3" },
        { 105.0f, "105.0" },
    };
    for (const Row &row : rows)
        EXPECT_EQ(ModbusMaster::TemperatureText(row.value), QString::fromLatin1(row.text))
            << row.value;
}

TEST(ModbusDecode, DynamicBlock)
{
    ModbusMaster master;
    const QByteArray data = DynamicData(28.5f, 50000.25f, -0.2f);
    master.DecodeDynamic(reinterpret_cast<const unsigned char *>(data.constData()));
    EXPECT_EQ(master.FlowText(), QStringLiteral("28.500000"));
    EXPECT_EQ(master.TotalizerText(), QStringLiteral("50000.25"));
    EXPECT_EQ(master.TemperatureText(), QStringLiteral(" 0.0"));
}

TEST(ModbusDecode, StaticBlock)
{
    struct Row
    {
        qint32 serial;
        const char *units;
        const char *totalUnits;
        float maxRange, fullScale;
        const char *serialText, *unitsText, *totalUnitsText, *maxText, *fullText;
    };
    const Row rows[] = {
        { 20260003, "SCFM", "SCF ", 1000.0f, 500.0f, "20260003", "SCFM", "SCF ", "1000.000000",
            "500.000000" },
        { -1, "kg\0\0", "NLPM", 0.25f, -1.5f, "-1", "kg", "NLPM", "0.250000", "-1.500000" },
    };
    for (const Row &row : rows) {
        ModbusMaster master;
        const QByteArray data
            = StaticData(row.serial, row.units, row.totalUnits, row.maxRange, row.fullScale);
        master.DecodeStatic(reinterpret_cast<const unsigned char *>(data.constData()));
        EXPECT_EQ(master.SerialNumberText(), QString::fromLatin1(row.serialText));
        EXPECT_EQ(master.FlowUnitsText(), QString::fromLatin1(row.unitsText));
        EXPECT_EQ(master.TotalizerUnitsText(), QString::fromLatin1(row.totalUnitsText));
        EXPECT_EQ(master.MaxRangeText(), QString::fromLatin1(row.maxText));
        EXPECT_EQ(master.FullScaleText(), QString::fromLatin1(row.fullText));
    }
}

TEST(ModbusDecode, AddressTextValue)
{
    struct Row
    {
        const char *text;
        int value;
    };
    const Row rows[] = { { "1", 1 }, { "127", 127 }, { " 12", 12 }, { "12x", 12 }, { "-", 0 },
        { "", 0 }, { "abc", 0 }, { "99999999999999", INT_MAX } };
    for (const Row &row : rows)
        EXPECT_EQ(ModbusMaster::AddressValue(QString::fromLatin1(row.text)), row.value) << row.text;
}

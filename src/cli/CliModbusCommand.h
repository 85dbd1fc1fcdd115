#pragma once

#include "base/CsvDialect.h"
#include "base/Task.h"

#include <QJsonObject>
#include <QList>
#include <QString>

class CliContext;
class ModbusMaster;

// tarvik-cli modbus --port P --addresses A-B [--count N] [--interval MS] [--csv]: polls the
// meters on a Modbus line at the Modbus window's pace, a line per reading (CSV with --csv),
// every failure said and kept in its row; with --mqtt each reading is published as well.
// With --scan it asks each address once for its static block, for commissioning a network.
class CliModbusCommand
{
public:
    explicit CliModbusCommand(CliContext &context)
        : m_cli(context)
    {
    }

    Task<void> Modbus();

private:
    // One address that answered the static block (or whose reply was faulty: failure set).
    struct ScanRow
    {
        int address = 0;
        QString serial, flowUnits, totalizerUnits, maxRange, fullScale, failure;
    };
    // --scan: which addresses answer, with their static block, in a table or as JSON.
    Task<void> Scan(ModbusMaster &master, const QList<int> &addresses);
    static QString Line(const ScanRow &row);
    static QJsonObject Json(const ScanRow &row);
    // What a meter's static block told.
    struct Statics
    {
        QString flowUnits, totalizerUnits, serial;
    };

    CliContext &m_cli;
    CsvDialect m_dialect;
};

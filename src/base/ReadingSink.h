#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

// Where live readings go besides the windows that show them: the Modbus view hands over each
// meter's result of a sweep, the PC logger each snapshot it logs. The application installs the
// publisher as the sink (tarvik-cli its own); with none installed the readings go nowhere. The
// subsystems reach it through Instance() and never include each other or the application.
class ReadingSink
{
public:
    struct Value
    {
        QString name; // "flow", "totalizer", ...
        QString text; // as the window shows it (blanks trimmed by the sink)
        QString unit; // may be empty
    };

    virtual ~ReadingSink() = default;

    // The installed sink, or null.
    static ReadingSink *Instance();
    // Installs a sink and returns the one it replaces; null uninstalls.
    static ReadingSink *Install(ReadingSink *sink);

    // One meter of a Modbus sweep: its values, or (failure not empty) why it gave none. serial
    // is the serial number its static block told, empty before one was read.
    virtual void ModbusReading(const QDateTime &at, int address, const QString &serial,
        const std::vector<Value> &values, const QString &failure)
        = 0;
    // One PC-logging snapshot of the meter with this serial number (may be empty).
    virtual void MeterReading(
        const QDateTime &at, const QString &serial, const std::vector<Value> &values)
        = 0;
};

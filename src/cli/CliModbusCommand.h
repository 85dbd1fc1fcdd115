#pragma once

#include "base/Task.h"

class CliContext;

// tarvik-cli modbus --port P --addresses A-B [--count N] [--interval MS] [--csv]: polls the
// meters on a Modbus line at the Modbus window's pace, a line per reading (CSV with --csv),
// every failure said and kept in its row; with --mqtt each reading is published as well.
class CliModbusCommand
{
public:
    explicit CliModbusCommand(CliContext &context)
        : m_cli(context)
    {
    }

    Task<void> Modbus();

private:
    CliContext &m_cli;
};

#pragma once

#include "base/CsvDialect.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class LogData;
class QIODevice;

// A datalogger log (PC log, transferred meter log or loaded file) as CSV that a spreadsheet opens
// as it stands: one header row, the row number, an ISO 8601 date-time, then one column per logged
// quantity in the log's own order, and the meter's serial number when the header tells it;
// numbers with the dialect's decimal mark, an empty cell where the row has no number, relay
// states as 0/1. The log's own lists are only read.
// The datalogger form calls WriteFile; tests and the benchmark call Write on any device.
class LogCsvExport
{
public:
    // The header row's cells.
    static QStringList HeaderCells(const LogData &log);
    // Writes the header and every row ("; " entries) to out; false when a write fails.
    static bool Write(const LogData &log, QIODevice &out, const CsvDialect &dialect = {});
    // Writes the CSV to a temporary file beside path and renames it into place, so a failure
    // (unwritable folder, full disk) leaves no half-written file and any old file intact.
    // Empty on success, else the message for the user.
    static QString WriteFile(
        const LogData &log, const QString &path, const CsvDialect &dialect = {});
    // Rows the export writes (the header row aside).
    static int RowCount(const LogData &log);
};

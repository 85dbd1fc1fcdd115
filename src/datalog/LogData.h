#pragma once

#include "datalog/ColumnNumbers.h"

#include <QString>
#include <QStringList>

// A log as the datalogger shows it: the header, snapshot (row) and stop lists, and what the
// log graph needs to read the rows: full-scale flow, snapshot interval, flow units, start time
// and the column numbers. Filled by PC logging as it writes a log and by LoadLog from a file.
// Plain data: no window, no file.
class LogData
{
public:
    enum List { Header, Snapshot, Stop };

    QStringList headerList;
    QStringList snapshotList;
    QStringList stopList;

    float fullScaleFlow = 80.0f;
    int intervalSeconds = 5;
    QString logFlowUnits;
    QString logStartTime; // "HH:MM:SS AM" of a loaded log
    ColumnNumbers columns;

    void ClearLists();
    // The meter's serial number from the header's "Serial#" line, or empty when the header has
    // none (or the line holds no number).
    QString SerialNumber() const;
    QStringList &ListOf(List list);
    const QStringList &ListOf(List list) const;
};

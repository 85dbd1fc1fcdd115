#pragma once

#include "base/CsvDialect.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

// Records every sweep of the Modbus network to a CSV file while polling: one row per sweep, the
// sweep's start time (CsvTime: ISO 8601 local time to the millisecond, then its offset from
// UTC, in the dialect chosen), then the flow, total
// and temperature of each meter chosen when the recording started, in panel order, under a header
// naming them. A meter that does not answer in a sweep, or whose panel has since been given
// another address, leaves its cells empty: the row keeps its columns. Each row goes to disk when
// its sweep ends, so a recording left running for days holds one row in memory and the file
// grows; a failed write stops the recording and says why. The Modbus window calls it.
class SweepRecorder
{
public:
    struct Meter
    {
        int panel = 0; // 1..8
        QString address;
        QString flowUnits; // may be empty (static data not read)
        QString totalUnits;
        QString serial; // may be empty (static data not read)
    };

    // Creates (or empties) the file and writes the header. Empty on success, else the message.
    QString Start(const QString &path, std::vector<Meter> meters, const CsvDialect &dialect = {});
    void Stop();
    bool Recording() const { return m_file.isOpen(); }
    QString Path() const { return m_file.fileName(); }
    QStringList Header() const;
    qint64 Rows() const { return m_rows; }

    // A sweep begins: its cells start empty.
    void BeginSweep(const QDateTime &at);
    // A meter's reading in the sweep under way (texts as the master gives them).
    void Reading(int panel, const QString &address, const QString &flow, const QString &total,
        const QString &temperature);
    // Writes the sweep's row. Empty on success (or when no sweep was under way), else the
    // message; a failed write has stopped the recording.
    QString EndSweep();

private:
    QFile m_file;
    std::vector<Meter> m_meters;
    CsvDialect m_dialect;
    QDateTime m_sweepStart;
    std::vector<QByteArray> m_cells; // three per meter
    bool m_sweepOpen = false;
    qint64 m_rows = 0;
};

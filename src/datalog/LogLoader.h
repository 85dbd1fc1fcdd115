#pragma once

#include "base/Task.h"

#include <QByteArray>
#include <QString>

class DialogueRunner;
class LogData;
class QIODevice;

// LOAD: reads a PC log or a transferred meter log back into a LogData: the header, snapshot and
// stop lists, and the full-scale flow, snapshot interval, flow units, start time and column
// numbers the graph needs. Both kinds of file share one layout from their third line on.
// Works on any readable device, so the rules can be checked on plain bytes.
class LogLoader
{
public:
    // Header lines read at most, and rows read at most.
    static constexpr int kMaxLines = 100000;
    // Longer lines are read in pieces of this many bytes, each piece a line of its own.
    static constexpr int kMaxLineBytes = 1024;

    // What a load found: rows, no row at all, or more rows than kMaxLines (the rest is left).
    enum class Outcome { Rows, NoRows, Cut };

    // A long load pauses on the runner after each slice of about this many milliseconds, or
    // of this many lines on a machine fast enough to read more in that time: a long log gives
    // the window (and a Cancel) its turn however fast it is read.
    static constexpr int kSliceMs = 20;
    static constexpr int kSliceLines = 20000;

    // Empties the three lists, then reads the log. Values the file does not give are kept.
    // Lines end with LF or CR LF; a file whose lines end with CR alone is read as well.
    static Outcome Load(QIODevice &in, LogData &log);
    // The same load in slices: after each slice of reading it pauses on runner, so the window
    // stays live through a log of 100,000 rows. A load that fits in one slice never pauses. A
    // Cancel on the runner ends it where it is (with what was read so far).
    static Task<Outcome> LoadInSlices(QIODevice &in, LogData &log, DialogueRunner *runner);
    static Outcome LoadBytes(const QByteArray &bytes, LogData &log);
    // False (and the log untouched) when the file cannot be opened for reading.
    static bool LoadFile(const QString &path, LogData &log, Outcome *outcome = nullptr);
};

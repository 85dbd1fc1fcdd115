#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>

// The one time format of every CSV file the program writes (the datalogger's export, the Modbus
// recording, tarvik-cli's Modbus lines): two cells, the ISO 8601 local date and time and the
// local offset from UTC then, "2026-12-09T04:12:33,UTC+01:00". Spreadsheets read the first as a
// date-time (they take an offset written into the same cell for text), and the second, kept text
// by its "UTC" (a bare "+01:00" reads as a clock time), keeps the moment unambiguous across a
// daylight-saving change or a file sent to another time zone.
class CsvTime
{
public:
    // The header of the offset's cell, after the file's own name for the time cell.
    static constexpr const char *kOffsetHeader = "UTC offset";

    // A moment, in this computer's local time and its offset at that moment; two empty cells
    // for an invalid one. With milliseconds: "2026-12-09T04:12:33.125,UTC+01:00".
    static QByteArray Format(const QDateTime &moment, bool milliseconds = false);
    // A date and clock time as a meter logged them (seconds since midnight, 0..86399), written
    // as they stand, with the offset local time has then; two empty cells when there is none.
    // A clock time that local time skips (the hour a spring change leaves out) keeps its digits
    // and takes the offset in force just before.
    static QByteArray Format(QDate date, int secondsOfDay);
    // The offset cell alone, "UTC+01:00" or "UTC-05:30" ("UTC+00:00" for UTC itself).
    static QByteArray Offset(int secondsEastOfUtc);
};

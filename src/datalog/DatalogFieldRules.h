#pragma once

#include <QString>

#include <array>

// The datalogger form's field rules: normalizing the TIMER date and time edits and the
// SNAPSHOT INTERVAL edits when the user leaves them, reading them when logging starts, and the
// snapshot capacity text. Plain functions on texts, shared by the PC logger and the meter
// dialogue.
class DatalogFieldRules
{
public:
    // "1/5/08" -> "01/05/08"; missing parts read as "00". The separator is "/" for dates and
    // ":" for times.
    static QString NormalizeDate(const QString &text) { return NormalizeTriple(text, u'/'); }
    static QString NormalizeTime(const QString &text) { return NormalizeTriple(text, u':'); }

    // Leaving the Hour, Min or Sec edit: each rewrites only the edits whose value a rule
    // changes (empty -> "0", negative -> "0", too large -> its bound; Hour 24 or more zeroes
    // Min and Sec).
    static void LeaveHour(QString &hour, QString &min, QString &sec);
    static void LeaveMin(QString &hour, QString &min, QString &sec);
    static void LeaveSec(QString &hour, QString &min, QString &sec);

    // An edit's number as C's atoi reads it (0 without digits), held to the int range.
    static int AtoI(const QString &text);
    // Seconds since midnight of a time edit ("H:MM:SS" or "HH:MM:SS").
    static int TimeSeconds(const QString &text);
    // Two-digit year, month and day of a date edit ("M/D/YY", "MM/DD/YY" and mixtures).
    static void ParseDate(const QString &text, int *year, int *month, int *day);
    // Hour x 3600 + Min x 60 + Sec, without overflow.
    static qint64 IntervalSeconds(const QString &hour, const QString &min, const QString &sec);

    // Bytes one snapshot takes in the meter's log memory, by the option order Date ... Relay2.
    static int BytesPerSnapshot(const std::array<bool, 8> &options);
    // The snapshot capacity display: "Press UPDATE Button" before the memory figure is known,
    // "No Options Selected", or how many snapshots fit.
    static QString CapacityText(const std::array<bool, 8> &options, unsigned memoryFigure);

private:
    static QString NormalizeTriple(const QString &text, QChar separator);
};

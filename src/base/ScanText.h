#pragma once

#include <QString>

#include <optional>

// Numbers read from field texts by the C library's scanning rules ("%d", "%f"): leading white
// space skipped, parsing stops at the first character that does not fit. No number gives an
// empty result, so the caller can leave its variable as it is. Locale-independent.
class ScanText
{
public:
    static std::optional<qint64> Int(const QString &text);
    // "%f" as strtod reads it: decimal or hexadecimal ("0x1p4" is 16), with an exponent. Every
    // decimal a meter holds is a 4-byte float, so a number no float can hold gives nothing, as
    // "inf", "nan" and "1e999" do: "1e39" and "-3.4028236e38" round to infinity as a float.
    // A number below the smallest float is one ("1e-46"): it is stored as the nearest float,
    // which is 0 there (a subnormal where one is nearer, as for "1e-40").
    static std::optional<double> Double(const QString &text);
    // Whether value, rounded to a 4-byte float, is finite (what Double takes as a number).
    static bool FitsFloat(double value);
    // The whole text, white space around it aside, as one number, or nothing: a text that is a
    // number only in its first characters ("1,5", "12abc") gives nothing. WholeInt also gives
    // nothing beyond 32 bits, the widest meter variable.
    static std::optional<qint64> WholeInt(const QString &text);
    static std::optional<double> WholeDouble(const QString &text);
    // "%x": hexadecimal digits, an optional sign and "0x" before them.
    static std::optional<qint64> Hex(const QString &text);
    // "%d/%d/%d": all three numbers, or nothing.
    static bool Date(const QString &text, int *a, int *b, int *c);
};

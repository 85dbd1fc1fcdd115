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
    static std::optional<double> Double(const QString &text);
    // "%x": hexadecimal digits, an optional sign and "0x" before them.
    static std::optional<qint64> Hex(const QString &text);
    // "%d/%d/%d": all three numbers, or nothing.
    static bool Date(const QString &text, int *a, int *b, int *c);
};

// Numbers are read from texts as the C library scans them, whatever the user's locale; a field
// takes a text only when all of it is one usable number.
#include "base/ScanText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>

namespace {

constexpr double kNone = -12345.678; // stands for "no number" in the table

struct ScanCase
{
    const char *text;
    double leading; // Double: the number at the start
    double whole; // WholeDouble: the whole text as one number
    double wholeInt; // WholeInt
};

constexpr ScanCase kScanCases[] = {
    { " 12.5  ", 12.5, 12.5, kNone },
    { "-25", -25, -25, -25 },
    { "0x1p4", 16, 16, kNone }, // a hexadecimal float, as strtod reads it
    { "0x10", 16, 16, kNone },
    { "1,5", 1, kNone, kNone }, // a decimal comma is not part of the number
    { "1.5e", 1.5, kNone, kNone },
    { "2.5x", 2.5, kNone, kNone },
    { "1e-3", 0.001, 0.001, kNone },
    { "abc", kNone, kNone, kNone },
    { "", kNone, kNone, kNone },
    { "inf", kNone, kNone, kNone }, // no meter holds an infinite or not-a-number value
    { "-infinity", kNone, kNone, kNone },
    { "nan", kNone, kNone, kNone },
    { "1e999", kNone, kNone, kNone },
    // Every decimal a meter holds is a 4-byte float: beyond its range is no number either.
    { "1e39", kNone, kNone, kNone },
    { "-3.4028236e38", kNone, kNone, kNone },
    { "3.4028234e38", 3.4028234e38, 3.4028234e38, kNone },
    { "1e-46", 1e-46, 1e-46, kNone }, // a number: stored as the nearest float, 0
    { "4294967295", 4294967295.0, 4294967295.0, 4294967295.0 },
    { "4294967296", 4294967296.0, 4294967296.0, kNone }, // wider than any meter variable
    { "-2147483649", -2147483649.0, -2147483649.0, kNone },
};

double Or(std::optional<double> value)
{
    return value.value_or(kNone);
}

} // namespace

TEST(ScanText, NumbersAsTheCLibraryScansThemAndWholeTexts)
{
    // A locale with a decimal comma changes nothing.
    const char *german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    for (const ScanCase &c : kScanCases) {
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(Or(ScanText::Double(text)), c.leading) << c.text;
        EXPECT_EQ(Or(ScanText::WholeDouble(text)), c.whole) << c.text;
        const auto whole = ScanText::WholeInt(text);
        EXPECT_EQ(whole ? double(*whole) : kNone, c.wholeInt) << c.text;
    }
    if (german)
        std::setlocale(LC_NUMERIC, "C");
}

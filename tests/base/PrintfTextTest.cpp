// Numbers come out as the C library prints them, not as Qt's own formatter rounds them.
#include "base/PrintfText.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
struct Case
{
    const char *format;
    double value;
    const char *expected;
};

// Exact binary halves at each precision the program's formats use round to even, and negative
// zero keeps its sign.
constexpr Case kCases[] = {
    { "%.0f", 0.5, "0" },
    { "%.0f", 2.5, "2" },
    { "%.1f", 0.25, "0.2" },
    { "%.1f", 0.75, "0.8" },
    { "%4.1f", 0.25, " 0.2" },
    { "%.2f", 0.125, "0.12" },
    { "%.2f", 0.375, "0.38" },
    { "%.3f", 0.0625, "0.062" },
    { "%.4f", 0.03125, "0.0312" },
    { "%.6f", 0.0000005, "0.000000" },
    { "%.7f", -0.0, "-0.0000000" },
    { "%f", -0.0, "-0.000000" },
    { "%.1f", -0.0, "-0.0" },
    // The other formats the program applies: meter form, Modbus panels, simulator.
    { "%1.6f", 0.0078125, "0.007812" },
    { "%1.6f", 0.0234375, "0.023438" },
    { "%f", 0.0078125, "0.007812" },
    { "%f", -0.0078125, "-0.007812" },
    { "%.6f", 0.0078125, "0.007812" },
    { "%.5f", 0.015625, "0.01562" },
    { "%.7f", 0.00390625, "0.0039062" },
    { "%1.2f", -0.125, "-0.12" },
    { "%1.2f", 2.375, "2.38" },
    { "%.2f", 0.625, "0.62" },
    { "%.8e", 1000000005.0, "1.00000000e+09" },
    { "%.8e", 1000000015.0, "1.00000002e+09" },
    { "%e", 10000005.0, "1.000000e+07" },
    { "%e", 10000015.0, "1.000002e+07" },
    { "%1.6f", -0.0, "-0.000000" },
    { "%1.2f", -0.0, "-0.00" },
    { "%.2f", -0.0, "-0.00" },
    { "%.4f", -0.0, "-0.0000" },
    { "%4.1f", -0.0, "-0.0" },
    { "%.8e", -0.0, "-0.00000000e+00" },
};
} // namespace

TEST(PrintfText, RoundsAndSignsAsTheCLibrary)
{
    for (const Case &c : kCases)
        EXPECT_EQ(PrintfText::Format(c.format, c.value).toStdString(), c.expected)
            << c.format << ' ' << c.value;
}

TEST(PrintfText, LongOutputIsNotCut)
{
    const QString text = PrintfText::Format("%300.1f|%d", 1.5, 42);
    EXPECT_EQ(text.size(), 303);
    EXPECT_TRUE(text.endsWith(QStringLiteral("1.5|42")));
}

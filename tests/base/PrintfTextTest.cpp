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
};
} // namespace

TEST(PrintfText, RoundsAndSignsAsTheCLibrary)
{
    for (const Case &c : kCases)
        EXPECT_EQ(PrintfText::Format(c.format, c.value).toStdString(), c.expected) << c.format << ' ' << c.value;
}

TEST(PrintfText, LongOutputIsNotCut)
{
    const QString text = PrintfText::Format("%300.1f|%d", 1.5, 42);
    EXPECT_EQ(text.size(), 303);
    EXPECT_TRUE(text.endsWith(QStringLiteral("1.5|42")));
}

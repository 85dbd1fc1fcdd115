#include "meter/UnitConversion.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Ctx = UnitConversion::Context;

// X-Sect as shown, by the display rules, for rows of (revision, meter, layout, units).
struct XSectRow
{
    const char *revision;
    const char *meter;
    const char *doc;
    int units;
    double x;
    double shown;
};

class XSectDisplay : public ::testing::TestWithParam<XSectRow>
{
};

TEST_P(XSectDisplay, ShowsTheRuleOfItsCase)
{
    const XSectRow &r = GetParam();
    const Ctx c { r.units, r.doc, r.revision, r.meter };
    EXPECT_NEAR(UnitConversion::XSectShown(c, r.x), r.shown, 1e-9 * std::fabs(r.shown));
}

INSTANTIATE_TEST_SUITE_P(Rows, XSectDisplay,
    ::testing::Values(
        // ">= 4.1A": |x / F[AreaF[u]]|
        XSectRow { "", "", ">= 4.1A", 0, -2.0, 2.0 },
        XSectRow { "", "", ">= 4.1A", 4, 1.0, 1 / 0.00694444 },
        XSectRow { "", "", ">= 4.1A", 8, 3.0, 3.0 },
        XSectRow { "", "", ">= 4.1A", 16, 1.0, 1 / 10.764285147 },
        XSectRow { "", "", ">= 4.1A", 17, 1.0, 1 / 0.0010764 },
        // revision A on a 4.0A meter: codes 28-30 as stored, others by G, 25 falls through
        XSectRow { "A", "4.0A", "4.0x", 29, -5.0, 5.0 },
        XSectRow { "A", "4.0A", "4.0x", 16, 10.764, 1.0 },
        XSectRow { "A", "4.0A", "4.0x", 17, 0.0011, 1.0 },
        XSectRow { "A", "4.0A", "4.0x", 25, 4.0, 4.0 },
        XSectRow { "A", "4.0A", "3.9G", 25, 10.764, 1.0 },
        // revision E on a 4.0A meter scales metric codes once, the 3.9G layout once more
        XSectRow { "E", "4.0A", "4.0x", 18, 10.764, 1.0 },
        XSectRow { "E", "4.0A", "4.0x", 17, 0.0011, 1.0 },
        XSectRow { "E", "4.0A", "3.9G", 18, 10.764 * 10.764, 1.0 },
        XSectRow { "E", "4.0A", "4.0x", 24, 3.0, 3.0 },
        // a 4.0B meter or the 3.9G layout divide metric codes
        XSectRow { "", "4.0B", "4.0x", 20, 10.764, 1.0 },
        XSectRow { "", "4.0B", "4.0x", 24, 7.0, 7.0 }, XSectRow { "", "", "3.9G", 17, 0.0011, 1.0 },
        XSectRow { "", "", "3.9G", 26, 10.764, 1.0 },
        // otherwise as stored: no meter identified, or a 4.0A meter of another revision
        XSectRow { "", "", "4.0x", 16, 2.5, 2.5 }, XSectRow { "B", "4.0A", "4.0x", 21, 2.5, 2.5 },
        XSectRow { "A", "4.0B", "4.0x", 4, 2.5, 2.5 }));

struct RangeRow
{
    const char *revision;
    const char *meter;
    const char *doc;
    int units;
    double k;
    double x;
    double shown;
};

class RangeDisplay : public ::testing::TestWithParam<RangeRow>
{
};

TEST_P(RangeDisplay, ShowsTheRuleOfItsCase)
{
    const RangeRow &r = GetParam();
    const Ctx c { r.units, r.doc, r.revision, r.meter };
    EXPECT_NEAR(UnitConversion::RangeShown(c, r.k, r.x), r.shown, 1e-9 * std::fabs(r.shown));
}

INSTANTIATE_TEST_SUITE_P(Rows, RangeDisplay,
    ::testing::Values(RangeRow { "", "", ">= 4.1A", 24, 2.0, 9.0, 2 * 0.00508012634608 },
        RangeRow { "", "", ">= 4.1A", 1, 10.0, 0.5, 300.0 },
        RangeRow { "", "", ">= 4.1A", 8, 250.0, 7.0, 250.0 },
        RangeRow { "A", "4.0A", "4.0x", 7, 2.0, 0.5, 2 * 4.5 * 0.5 * 24 },
        RangeRow { "A", "4.0A", "4.0x", 30, 1.0, 2.0, 2 * 28.316846592 * 10.764 * 60 },
        RangeRow { "A", "4.0A", "4.0x", 25, 1.0, 2.0, 0.3048088 * 2 * 10.764 },
        RangeRow { "A", "4.0A", "4.0x", 17, 1.0, 0.0011, 28.316846592 * 10.764 },
        RangeRow { "A", "4.0A", "4.0x", 11, 1.0, 2.0, 2 * 1000 * 60.0 },
        RangeRow { "A", "4.0A", "4.0x", 9, 60.0, 2.0, 2.0 },
        RangeRow { "A", "4.0A", "4.0x", 5, 1.0, 2.0, 2 * 12 * 60.0 },
        RangeRow { "A", "4.0A", "4.0x", 4, 1.0, 2.0, 2 * 12.0 },
        RangeRow { "", "", "4.0x", 1, 1.0, 2.0, 120.0 },
        RangeRow { "", "", "4.0x", 9, 60.0, 2.0, 60 * 0.0166666 }, // velocity: no cross-section
        RangeRow { "", "4.0B", "3.9G", 16, 1.0, 2.0, 2 * 28.316846592 }));

// Every entry is the inverse of the display rule of the same context, in every combination.
TEST(UnitConversion, EntryInvertsDisplayForEveryContext)
{
    const char *docs[] = { ">= 4.1A", "4.0x", "3.9G" };
    const char *revisions[] = { "A", "E", "B", "" };
    const char *meters[] = { "4.0A", "4.0B", "" };
    const double xs[] = { 0.5454, -2.25, 31.0 };
    int checked = 0;
    for (const char *doc : docs)
        for (const char *rev : revisions)
            for (const char *meter : meters)
                for (int u = 0; u < 32; ++u)
                    for (double x : xs) {
                        const Ctx c { u, doc, rev, meter };
                        const double shown = UnitConversion::XSectShown(c, x);
                        EXPECT_NEAR(UnitConversion::XSectStored(c, shown), std::fabs(x),
                            1e-12 * std::fabs(x))
                            << doc << " " << rev << " " << meter << " u=" << u;
                        const double k = 1234.5;
                        const auto back = UnitConversion::RangeStored(
                            c, UnitConversion::RangeShown(c, k, x), x);
                        ASSERT_TRUE(back.has_value());
                        EXPECT_NEAR(*back, k, 1e-9 * k) << doc << " " << rev << " u=" << u;
                        ++checked;
                    }
    EXPECT_EQ(checked, 3 * 4 * 3 * 32 * 3);
}

TEST(UnitConversion, ZeroCrossSectionHasNoRangeEntry)
{
    const Ctx c { 1, ">= 4.1A", "", "" };
    EXPECT_FALSE(UnitConversion::RangeStored(c, 100.0, 0.0).has_value());
    const Ctx velocity { 8, ">= 4.1A", "", "" };
    EXPECT_DOUBLE_EQ(*UnitConversion::RangeStored(velocity, 100.0, 0.0), 100.0);
}

TEST(UnitConversion, CodesAbove31WrapLikeTheListEntry)
{
    const Ctx big { 32 + 17, "4.0x", "", "4.0B" };
    const Ctx small { 17, "4.0x", "", "4.0B" };
    EXPECT_DOUBLE_EQ(UnitConversion::XSectShown(big, 3.0), UnitConversion::XSectShown(small, 3.0));
}

TEST(UnitConversion, Texts)
{
    EXPECT_EQ(UnitConversion::RangeText({ 24, ">= 4.1A", "", "" }, 2.0, 1.0), "0.010160");
    EXPECT_EQ(UnitConversion::XSectText({ 0, ">= 4.1A", "", "" }, -0.5), "0.500000");
    EXPECT_EQ(UnitConversion::RangeText({ 0, "3.9G", "", "" }, 6000.0, 0.5), "3000.000000");
}

} // namespace

// The datasheet pages as data: every line's font, position and text for the sheets of both
// meter series, built from field texts as the forms show them.
#include "meter/FieldIds.h"
#include "meter/KelvaneSheet.h"
#include "meterqx/QuixalSheet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
// Pitches as a printer measures the fonts (title, heading, body) in twips.
const SheetMetrics kMetrics { 391, 223, 215 };
constexpr int L = 215;
constexpr int kHalf = L / 2; // 107
constexpr int kOneAndHalf = 322; // 1.5 L truncated
constexpr int kGap = kHalf + L; // a line followed by the gap between groups

// One expected line: its font, how far below the previous line it lies (the first from the
// page's top edge) and its text.
struct Row
{
    SheetFont font;
    int down;
    const char *text;
};

// Checks lines first, first + 1, ... of page against rows (the first row's step is taken from
// the line before it, or from the page's top edge).
void ExpectLines(const SheetPage &page, qsizetype first, const std::vector<Row> &rows)
{
    const QList<SheetLine> &lines = page.Lines();
    ASSERT_LE(first + qsizetype(rows.size()), lines.size())
        << page.Texts().join(QLatin1Char('\n')).toStdString();
    int y = first > 0 ? lines.at(first - 1).y : 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const SheetLine &line = lines.at(first + qsizetype(i));
        y -= rows[i].down;
        EXPECT_EQ(line.text, QString::fromLatin1(rows[i].text)) << "line " << i;
        EXPECT_EQ(int(line.font), int(rows[i].font)) << "line " << i << ": " << rows[i].text;
        EXPECT_EQ(line.y, y) << "line " << i << ": " << rows[i].text;
        EXPECT_EQ(line.x, 620) << "line " << i;
        y = line.y; // one wrong step is reported once, not for every line after it
    }
}

void ExpectPage(const SheetPage &page, const std::vector<Row> &rows)
{
    EXPECT_EQ(size_t(page.Lines().size()), rows.size())
        << page.Texts().join(QLatin1Char('\n')).toStdString();
    ExpectLines(page, 0, rows);
}

KelvaneSheet::Fields Meter39G()
{
    KelvaneSheet::Fields f;
    f.pathName = QStringLiteral("/home/tech/meters/39G_Template.mtr");
    f.extended = false;
    f.meterVersion = QStringLiteral("3.9G");
    f.revision = QStringLiteral("C");
    f.serial = QStringLiteral("12345678");
    f.upPcba = QStringLiteral("not printed");
    f.refresh = 8;
    f.contrast = 128;
    f.date = QStringLiteral("12/08/26");
    f.time = QStringLiteral("07:21:13AM");
    f.password = QStringLiteral("1234");
    f.calibrationDue = QStringLiteral("12/08/27");
    f.dacTime = QStringLiteral("5");
    f.dacFilter = QStringLiteral("20");
    f.adcFilter = QStringLiteral("10");
    f.activeRange = QStringLiteral("1");
    f.alarmLine
        = { QStringLiteral("High flow alarm    403"), QStringLiteral("Relay disabled     402"),
              QString(), QStringLiteral("Low flow alarm     404") };
    f.alarmValue = { QStringLiteral("1500"), QStringLiteral("0"), QStringLiteral("400000000"),
        QStringLiteral("12") };
    f.alarmDelay = { QStringLiteral("5"), QStringLiteral("0"), QStringLiteral("255"), QString() };
    f.holdFlow1 = true; // a 3.9G meter has no Hold Flow: not printed
    f.unitsLine = QStringLiteral("SCFM  Standard cubic feet per minute   101");
    f.watchdog = QStringLiteral("not printed");
    f.xSect = QStringLiteral("0.349066");
    f.maxRange = QStringLiteral("2000.000");
    f.fullScale = QStringLiteral("1500.000");
    f.cFactor = QStringLiteral("1.000000");
    f.zeroOffset = QStringLiteral("0.000000");
    f.zeroCutoff = QStringLiteral("1.50");
    f.adcGain = QStringLiteral("1.000000");
    f.adcOffset = QStringLiteral("0.000000");
    f.curveFit = QStringLiteral("Primary Coefficients Only");
    f.primary = QStringList { QStringLiteral("1.00000000e+00"), QStringLiteral("-2.5"),
        QStringLiteral("0"), QStringLiteral("3.1"), QStringLiteral("4"), QStringLiteral("5"),
        QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9.999") };
    f.secondary = QStringList { QStringLiteral("not printed") };
    f.pointWise = QStringList { QStringLiteral("not printed") };
    return f;
}
} // namespace

TEST(KelvaneSheet, A39GMeterPrintsNeitherHoldFlowNorWatchdogNorExtendedCoefficients)
{
    using F = SheetFont;
    ExpectPage(KelvaneSheet::Build(Meter39G(), kMetrics),
        {
            { F::Title, 300, "      HALVREN - Meter Datasheet" },
            { F::Body, 586, "File Name: /home/tech/meters/39G_Template.mtr" },
            { F::Body, kGap, "Firmware Release: v3.9G rC      Serial#: 12345678" },
            { F::Heading, kGap, "General Meter Settings" },
            { F::Body, kOneAndHalf, "207 - Update Rate    => 8" },
            { F::Body, L, "208 - LCD Contrast   => 128" },
            { F::Body, L, "214 - Date Format    => 12/08/26" },
            { F::Body, L, "215 - Time Format    => 07:21:13AM" },
            { F::Body, L, "219 - Password       => 1234" },
            { F::Body, L, "221 - Calib. Due     => 12/08/27" },
            { F::Body, L, "202 - DAC Time       => 5" },
            { F::Body, L, "203 - DAC Filter     => 20" },
            { F::Body, L, "205 - ADC Filter     => 10" },
            { F::Body, L, "213 - Active Range   => 1" },
            { F::Heading, kGap, "Alarm Settings" },
            { F::Body, kOneAndHalf,
                "403 - Relay#1 OFF => High flow     Value =>    1500     Delay =>       5" },
            { F::Body, L,
                "402 - Relay#1 ON  => Relay disa    Value =>       0     Delay =>       0" },
            // An unselected list prints empty code and name fields.
            { F::Body, L, " - Relay#2 OFF =>     Value => 400000000     Delay =>     255" },
            { F::Body, L,
                "404 - Relay#2 ON  => Low flow a    Value =>      12     Delay =>        " },
            { F::Heading, kGap, "Parameters Settings" },
            { F::Body, kOneAndHalf, "101 - Engineering Units => SCFM" },
            { F::Body, L, "813 - X-Section         => 0.349066" },
            { F::Body, L, "814 - Max Range         => 2000.000" },
            { F::Body, L, "140 - Full Scale        => 1500.000" },
            { F::Body, L, "811 - C-Factor          => 1.000000" },
            { F::Body, L, "812 - Zero Offset       => 0.000000" },
            { F::Body, L, "816 - Zero Cutoff %     => 1.50%" },
            { F::Body, L, "      ADC Gain          => 1.000000" },
            { F::Body, L, "      ADC Offset        => 0.000000" },
            { F::Heading, kGap, "Curve Fit Settings" },
            { F::Body, kOneAndHalf, "850 - Curve Fit         => Primary Coefficients Only" },
            { F::Body, kGap, "801 - Primary Coefficient A => 1.00000000e+00" },
            { F::Body, L, "802 - Primary Coefficient B =>       -2.5" },
            { F::Body, L, "803 - Primary Coefficient C =>          0" },
            { F::Body, L, "804 - Primary Coefficient D =>        3.1" },
            { F::Body, L, "805 - Primary Coefficient E =>          4" },
            { F::Body, L, "806 - Primary Coefficient F =>          5" },
            { F::Body, L, "807 - Primary Coefficient G =>          6" },
            { F::Body, L, "808 - Primary Coefficient H =>          7" },
            { F::Body, L, "809 - Primary Coefficient I =>          8" },
            { F::Body, L, "810 - Primary Coefficient J =>      9.999" },
        });
}

TEST(KelvaneSheet, A41AMeterPrintsHoldFlowWatchdogAndTheExtendedCoefficients)
{
    KelvaneSheet::Fields f = Meter39G();
    f.extended = true;
    f.meterVersion = QStringLiteral("4.1A");
    f.revision = QStringLiteral("BX"); // the first character only
    f.upPcba = QStringLiteral("PC-4711");
    f.holdFlow1 = true;
    f.holdFlow2 = false;
    f.watchdog = QStringLiteral("30");
    f.curveFit = QStringLiteral("Primary Coefficients and Point-Wise Segments");
    f.secondary.clear();
    for (int i = 0; i < 10; ++i)
        f.secondary.append(QStringLiteral("s%1").arg(i));
    f.pointWise.clear();
    for (int i = 0; i <= 20; ++i)
        f.pointWise.append(QStringLiteral("p%1").arg(i));
    const SheetPage page = KelvaneSheet::Build(f, kMetrics);

    using F = SheetFont;
    ExpectLines(page, 2,
        { { F::Body, kGap,
            "Firmware Release: v4.1A rB      Serial#: 12345678      uP PCB Assembly#: PC-4711" } });
    ExpectLines(page, 15,
        {
            { F::Body, kOneAndHalf,
                "403 - Relay#1 OFF => High flow     Value =>    1500     Delay =>       5" },
            { F::Body, L,
                "402 - Relay#1 ON  => Relay disa    Value =>       0     Delay =>       0"
                "   Hold Flow => True" },
            { F::Body, L, " - Relay#2 OFF =>     Value => 400000000     Delay =>     255" },
            { F::Body, L,
                "404 - Relay#2 ON  => Low flow a    Value =>      12     Delay =>        "
                "   Hold Flow => False" },
            { F::Heading, kGap, "Parameters Settings" },
            { F::Body, kOneAndHalf,
                "101 - Engineering Units => SCFM            223 - Watchdog Timer => 30" },
        });
    // After the ten primary coefficients: a blank line, the secondary ones, half a line, then
    // the point-wise pairs from 5 %/10 % to 95 %/100 %.
    ExpectLines(page, 40,
        {
            { F::Body, L, "810 - Primary Coefficient J =>      9.999" },
            { F::Body, 2 * L, "701 - Secondary Coefficient A => s0" },
            { F::Body, L, "702 - Secondary Coefficient B => s1" },
            { F::Body, L, "703 - Secondary Coefficient C => s2" },
            { F::Body, L, "704 - Secondary Coefficient D => s3" },
            { F::Body, L, "705 - Secondary Coefficient E => s4" },
            { F::Body, L, "706 - Secondary Coefficient F => s5" },
            { F::Body, L, "707 - Secondary Coefficient G => s6" },
            { F::Body, L, "708 - Secondary Coefficient H => s7" },
            { F::Body, L, "709 - Secondary Coefficient I => s8" },
            { F::Body, L, "710 - Secondary Coefficient J => s9" },
            { F::Body, kGap,
                "751 - Point-Wise @   5% =>              p1        752 - Point-Wise @  10% => p2" },
            { F::Body, L,
                "753 - Point-Wise @  15% =>              p3        754 - Point-Wise @  20% => p4" },
            { F::Body, L,
                "755 - Point-Wise @  25% =>              p5        756 - Point-Wise @  30% => p6" },
            { F::Body, L,
                "757 - Point-Wise @  35% =>              p7        758 - Point-Wise @  40% => p8" },
            { F::Body, L,
                "759 - Point-Wise @  45% =>              p9        760 - Point-Wise @  50% => "
                "p10" },
            { F::Body, L,
                "761 - Point-Wise @  55% =>             p11        762 - Point-Wise @  60% => "
                "p12" },
            { F::Body, L,
                "763 - Point-Wise @  65% =>             p13        764 - Point-Wise @  70% => "
                "p14" },
            { F::Body, L,
                "765 - Point-Wise @  75% =>             p15        766 - Point-Wise @  80% => "
                "p16" },
            { F::Body, L,
                "767 - Point-Wise @  85% =>             p17        768 - Point-Wise @  90% => "
                "p18" },
            { F::Body, L,
                "769 - Point-Wise @  95% =>             p19        770 - Point-Wise @ 100% => "
                "p20" },
        });
    EXPECT_EQ(page.Lines().size(), 61);
}

TEST(KelvaneSheet, BeforeFirmware41AItPrintsWhatTheFieldRulesKeep)
{
    // Each field earlier firmware may lack, and what its line shows when printed.
    const struct
    {
        int id;
        const char *printed;
    } fields[] = {
        { FieldId::UpPcba, "      uP PCB Assembly#: not printed" },
        { FieldId::HoldFlow1, "Hold Flow => True" },
        { FieldId::HoldFlow2, "Hold Flow => False" },
        { FieldId::Watchdog, "223 - Watchdog Timer => not printed" },
        { FieldId::SecondaryList, "701 - Secondary Coefficient A => not printed" },
        { FieldId::PointWiseList, "751 - Point-Wise @   5% =>" },
    };
    const KelvaneSheet::Fields early = Meter39G();
    const FieldRules &table = KelvaneFieldRules::Table();
    for (const auto &field : fields) {
        // As the program's table says, and with the field kept before 4.1A.
        std::vector<FieldRule> rules = table.All();
        for (FieldRule &rule : rules)
            if (rule.id == field.id)
                rule.early = FieldRule::Early::Kept;
        const FieldRules kept(rules);
        for (const FieldRules *in : { &table, &kept }) {
            const QString page = KelvaneSheet::Build(early, kMetrics, *in).Texts().join('\n');
            EXPECT_EQ(page.contains(QLatin1String(field.printed)), !in->Lacks(field.id, false))
                << field.printed << (in == &kept ? " (kept)" : "");
        }
    }
}

TEST(KelvaneSheet, MissingValuesPrintBlanksAndNeverReadPastATextsEnd)
{
    KelvaneSheet::Fields f; // a form with empty lists and nothing identified
    f.extended = true;
    f.primary = QStringList { QStringLiteral("1.5") };
    f.pointWise = QStringList { QStringLiteral("0"), QStringLiteral("0.25") };
    f.unitsLine = QStringLiteral("SC"); // shorter than the code and name it is cut into
    f.alarmLine[0] = QStringLiteral("AB");
    const QString longText(400, QLatin1Char('x'));
    f.serial = longText;
    const SheetPage page = KelvaneSheet::Build(f, kMetrics);
    const QStringList texts = page.Texts();
    const QString expected[] = {
        QStringLiteral("Firmware Release: v r      Serial#: ") + longText
            + QStringLiteral("      uP PCB Assembly#: "),
        QStringLiteral("207 - Update Rate    => 0"),
        QStringLiteral("AB - Relay#1 OFF => AB    Value =>             Delay =>        "),
        QStringLiteral("SC - Engineering Units => SC            223 - Watchdog Timer => "),
        QStringLiteral("816 - Zero Cutoff %     => %"),
        QStringLiteral("850 - Curve Fit         => "),
        QStringLiteral("801 - Primary Coefficient A =>        1.5"),
        QStringLiteral("802 - Primary Coefficient B =>           "),
        QStringLiteral("710 - Secondary Coefficient J => "),
        QStringLiteral(
            "751 - Point-Wise @   5% =>            0.25        752 - Point-Wise @  10% => "),
        QStringLiteral(
            "769 - Point-Wise @  95% =>                        770 - Point-Wise @ 100% => "),
    };
    for (const QString &line : expected)
        EXPECT_TRUE(texts.contains(line)) << line.toStdString();
    EXPECT_EQ(texts.size(), 61);
}

namespace {
QuixalSheet::Fields QuixalMeter()
{
    QuixalSheet::Fields f;
    f.serial = QStringLiteral("QX000123");
    f.pathName = QStringLiteral("/home/tech/meters/QX000123_1.qxm");
    f.meterVersion = QStringLiteral("1.4A");
    f.revision = QStringLiteral("CD");
    f.upPcba = QStringLiteral("PC-9000");
    f.date = QStringLiteral("08.12.26");
    f.time = QStringLiteral("07:21:13");
    f.password = QStringLiteral("4321");
    f.calibrationDue = QStringLiteral("08.12.27");
    f.watchdog = QStringLiteral("30");
    f.modbusAddr = QStringLiteral("7");
    f.noDisplay = true;
    f.displayRefresh = QStringLiteral("8");
    f.dacRefresh = QStringLiteral("10");
    f.dacFilter = QStringLiteral("20");
    f.adcFilter = QStringLiteral("5");
    f.vout10 = true;
    f.outputCode = QStringLiteral("2");
    f.polarityCode = QStringLiteral("1");
    f.pulseWidth = QStringLiteral("500");
    f.protocolOn = false;
    f.unitsLine = QStringLiteral("SCFH  Standard cubic feet per hour     102");
    f.xSect = QStringLiteral("0.785398");
    f.maxRange = QStringLiteral("900.000");
    f.fullScale = QStringLiteral("800.000");
    f.cFactor = QStringLiteral("1.000000");
    f.zeroOffset = QStringLiteral("-0.500000");
    f.zeroCutoff = QStringLiteral("1.50");
    f.coefficients = QStringList { QStringLiteral("1.00000000e+00"), QStringLiteral("2.5") };
    return f;
}
} // namespace

TEST(QuixalSheet, EveryLineAtItsPlace)
{
    constexpr int T = 391;
    using F = SheetFont;
    ExpectPage(QuixalSheet::Build(QuixalMeter(), kMetrics),
        {
            { F::Title, 300, "HALVREN - Quixal Series" },
            { F::Title, int(1.5 * T), "SN# QX000123 Datasheet" },
            { F::Heading, int(1.5 * T), "Meter File Information" },
            { F::Body, kOneAndHalf, "   /home/tech/meters/QX000123_1.qxm" },
            { F::Heading, kHalf + 2 * L, "General Settings" },
            { F::Body, kOneAndHalf, "   Firmware Release      => v1.4A rev.C" },
            { F::Body, L, "   uP PCB Assembly       => PC-9000" },
            { F::Body, L, "   Date Format           => 08.12.26" },
            { F::Body, L, "   Time Format           => 07:21:13" },
            { F::Body, L, "   Password              => 4321" },
            { F::Body, L, "   Calibration Due       => 08.12.27" },
            { F::Body, L, "   Watchdog Timer        => 30" },
            { F::Body, L, "   Modbus Address        => 7" },
            { F::Heading, 2 * L, "Output Settings" },
            { F::Body, kOneAndHalf, "   LCD Display Present   => No" },
            { F::Body, L, "   Display Update Rate   => 8" },
            { F::Body, L, "   DAC Update Rate       => 10" },
            { F::Body, L, "   DAC Filter            => 20" },
            { F::Body, L, "   ADC Filter            => 5" },
            { F::Body, L, "   Output Voltage        => 0-10VDC" },
            { F::Body, L, "   Output Voltage is for => I-Out is Temp and V-Out is Flow" },
            { F::Body, L, "   Frequency Polarity    => High to Low" },
            { F::Body, L, "   Frequency Pulse Width => 500uS" },
            { F::Body, L, "   Protocol On/Off       => Off" },
            { F::Heading, 2 * L, "Flow Configuration Settings" },
            // Each line a line step below the one before, as in the blocks above.
            { F::Body, kOneAndHalf, "   Engineering Units     => SCFH" },
            { F::Body, L, "   Cross-Section         => 0.785398" },
            { F::Body, L, "   Max Range             => 900.000" },
            { F::Body, L, "   Full Scale            => 800.000" },
            { F::Body, L, "   C-Factor              => 1.000000" },
            { F::Body, L, "   Zero Offset           => -0.500000" },
            { F::Body, L, "   Zero Cutoff %         => 1.50%" },
            { F::Heading, kHalf + 2 * L, "Curve Fit Settings" },
            { F::Body, kHalf + L, "   Coefficient A         => 1.00000000e+00" },
            { F::Body, L, "   Coefficient B         =>        2.5" },
            { F::Body, L, "   Coefficient C         =>           " },
            { F::Body, L, "   Coefficient D         =>           " },
            { F::Body, L, "   Coefficient E         =>           " },
            { F::Body, L, "   Coefficient F         =>           " },
            { F::Body, L, "   Coefficient G         =>           " },
            { F::Body, L, "   Coefficient H         =>           " },
            { F::Body, L, "   Coefficient I         =>           " },
            { F::Body, L, "   Coefficient J         =>           " },
        });
}

TEST(QuixalSheet, CodesAndBoxesPrintTheirTexts)
{
    const struct
    {
        const char *output;
        const char *polarity;
        bool noDisplay;
        bool vout10;
        bool protocol;
        const char *outputText;
        const char *polarityText;
    } cases[] = {
        { "0", "0", false, false, true, "I-Out is Flow and V-Out is Flow", "Low to High" },
        { "1", "1", true, true, false, "I-Out is Flow and V-Out is Temp", "High to Low" },
        { "3", "2", false, false, false, "I-Out is Temp and V-Out is Temp", "" },
        { "4", "", false, false, false, "", "" },
        { "", "L", false, false, false, "", "" }, // an empty "I-Out / V-Out" list
        { "12", "01", false, false, false, "", "" },
    };
    for (const auto &c : cases) {
        QuixalSheet::Fields f = QuixalMeter();
        f.outputCode = QString::fromLatin1(c.output);
        f.polarityCode = QString::fromLatin1(c.polarity);
        f.noDisplay = c.noDisplay;
        f.vout10 = c.vout10;
        f.protocolOn = c.protocol;
        const QStringList texts = QuixalSheet::Build(f, kMetrics).Texts();
        SCOPED_TRACE(std::string("output ") + c.output + ", polarity " + c.polarity);
        EXPECT_TRUE(texts.contains(
            QStringLiteral("   Output Voltage is for => ") + QString::fromLatin1(c.outputText)));
        EXPECT_TRUE(texts.contains(
            QStringLiteral("   Frequency Polarity    => ") + QString::fromLatin1(c.polarityText)));
        EXPECT_TRUE(texts.contains(QStringLiteral("   LCD Display Present   => ")
            + (c.noDisplay ? QStringLiteral("No") : QStringLiteral("Yes"))));
        EXPECT_TRUE(texts.contains(QStringLiteral("   Output Voltage        => ")
            + (c.vout10 ? QStringLiteral("0-10VDC") : QStringLiteral("0-5VDC"))));
        EXPECT_TRUE(texts.contains(QStringLiteral("   Protocol On/Off       => ")
            + (c.protocol ? QStringLiteral("ON") : QStringLiteral("Off"))));
    }
}

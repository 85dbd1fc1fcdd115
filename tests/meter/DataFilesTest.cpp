// The shipped data files: every layout parses and fits, the keys tell the layouts apart, the
// templates are valid meter files and the list lines end in their codes.
#include "meter/ChoiceList.h"
#include "meter/MeterVars.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

namespace {

QStringList Names(const char *pattern, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QString::asprintf(pattern, i));
    return names;
}

QStringList KelvaneCommon()
{
    return QStringList { "key", "flow_prec", "lcd_blind", "flow_func", "updating_max",
        "reporting_max", "adc_val", "dac_val", "meter_x", "meter_k", "meter_s", "cutoff", "lockout",
        "pad_1", "cal_date", "serial_num" }
    + Names("event[%d]", 4) + Names("evalue[%d]", 4) + Names("edelay[%d]", 4)
        + Names("coeff[%d]", 12);
}

QStringList QuixalNames()
{
    return { "lcd_blind", "hart", "voltage", "flow_func", "tempflow", "polarity", "hold2",
        "meter_x", "meter_k", "meter_s", "coeff[0]", "coeff[1]", "coeff[2]", "coeff[3]", "coeff[4]",
        "coeff[5]", "coeff[6]", "coeff[7]", "coeff[8]", "coeff[9]", "coeff[10]", "coeff[11]",
        "cutoff", "lockout", "pad", "cal_date", "serial_num", "uP_assy_rev", "wdt", "width",
        "adc_val", "dac_val", "reporting_max", "updating_max", "event[2]", "event[3]", "evalue[2]",
        "evalue[3]", "edelay[2]", "edelay[3]", "pad1", "flow_prec", "key" };
}

// Names whose byte the program never writes as 0xAA (fixed values, flags, codes below 32, the
// range byte with bits 0-2 = 5, the curve-fit byte) or that are reserved and stay zero.
bool NeverAA(const QString &name)
{
    static const QSet<QString> names { "flow_prec", "lcd_blind", "flow_func", "curve_fit",
        "meter_num", "pad1", "hart", "voltage" };
    return names.contains(name) || name.startsWith("rsv_");
}

struct SectionRow
{
    const char *file;
    const char *section;
    int lines; // variable lines between the header and its "." line
};

QList<SectionRow> AllSections()
{
    QList<SectionRow> rows;
    for (const char *file : { "vars20.dat", "varsQX.dat" }) {
        QStringList lines = QString::fromLatin1(ReadFile(file)).split('\n');
        for (int i = 0; i < lines.size(); ++i)
            if (lines.at(i).startsWith('[')) {
                int n = 0;
                while (i + 1 + n < lines.size() && !lines.at(i + 1 + n).startsWith('.'))
                    ++n;
                static QList<QByteArray> keep;
                keep.append(lines.at(i).toLatin1());
                rows.append({ file, keep.last().constData(), n });
            }
    }
    return rows;
}

TEST(DataFiles, EverySectionParsesWholeAndFits)
{
    const QList<SectionRow> rows = AllSections();
    EXPECT_EQ(rows.size(), 9);
    for (const SectionRow &row : rows) {
        const MeterVars vars(row.section, row.file);
        EXPECT_EQ(vars.Count(), row.lines) << row.file << row.section;
        EXPECT_LE(vars.ImageBytes(), MeterVars::kImageSize);
        EXPECT_LE(vars.Count(), MeterVars::kMaxEntries - 1);
        EXPECT_EQ(vars.SizeOf("key"), 1) << row.file << row.section;
    }
    EXPECT_EQ(MeterVars::SectionsOf("vars20.dat"),
        (QStringList { "[3.9G]", "[4.0A]", "[4.1A]", "[1.0A]", "[1.4A]", "[?.??]" }));
    EXPECT_EQ(MeterVars::SectionsOf("varsQX.dat"), (QStringList { "[1.4A]", "[1.0A]", "[4.1A]" }));
}

TEST(DataFiles, SectionsHoldTheNamesOfTheirVersion)
{
    const QStringList common = KelvaneCommon();
    const QStringList older = common + QStringList { "meter_num" };
    const QStringList current = common
        + QStringList { "mode", "uP_assy_rev", "wdt", "curve_fit", "adc_gain", "adc_offset" }
        + Names("coeff1[%d]", 10) + Names("segment[%d]", 21);
    const struct
    {
        const char *file;
        const char *section;
        QStringList names;
    } rows[] = { { "vars20.dat", "[3.9G]", older }, { "vars20.dat", "[4.0A]", older },
        { "vars20.dat", "[4.1A]", current }, { "vars20.dat", "[?.??]", common },
        { "vars20.dat", "[1.0A]", QuixalNames() }, { "vars20.dat", "[1.4A]", QuixalNames() },
        { "varsQX.dat", "[1.0A]", QuixalNames() }, { "varsQX.dat", "[1.4A]", QuixalNames() },
        { "varsQX.dat", "[4.1A]", QuixalNames() } };
    for (const auto &row : rows) {
        const MeterVars vars(row.section, row.file);
        for (const QString &name : row.names)
            EXPECT_TRUE(vars.Has(name)) << row.file << row.section << " lacks " << qPrintable(name);
    }
    const MeterVars current41(QStringLiteral("[4.1A]"), QStringLiteral("vars20.dat"));
    EXPECT_EQ(current41.SizeOf("evalue[0]"), 4);
    const MeterVars older40(QStringLiteral("[4.0A]"), QStringLiteral("vars20.dat"));
    EXPECT_EQ(older40.SizeOf("evalue[0]"), 2);
}

TEST(DataFiles, QuixalLayoutsAgreeBetweenBothFiles)
{
    for (const char *section : { "[1.0A]", "[1.4A]" }) {
        const MeterVars a(section, "vars20.dat");
        const MeterVars b(section, "varsQX.dat");
        ASSERT_EQ(a.Count(), b.Count());
        for (int i = 0; i < a.Count(); ++i) {
            EXPECT_EQ(a.Name(i), b.Name(i));
            EXPECT_EQ(a.Size(i), b.Size(i));
        }
    }
}

TEST(DataFiles, NoLayoutReadsAAAtAnotherLayoutsKey)
{
    const QStringList sections = MeterVars::SectionsOf("vars20.dat");
    for (const QString &own : sections) {
        const MeterVars mine(own, "vars20.dat");
        for (const QString &other : sections) {
            if (other == own)
                continue;
            const MeterVars theirs(other, "vars20.dat");
            const int keyAt = theirs.IndexOf("key");
            EXPECT_NE(keyAt, mine.IndexOf("key")) << qPrintable(own + other);
            // The variable of my layout that covers their key's byte.
            int entry = 0;
            while (entry + 1 < mine.Count() && mine.Offset(entry + 1) <= keyAt)
                ++entry;
            EXPECT_TRUE(NeverAA(mine.Name(entry)))
                << qPrintable(own + " has " + mine.Name(entry) + " at the key of " + other);
        }
    }
}

TEST(DataFiles, TemplatesAreMeterFilesOfTheirLayout)
{
    const struct
    {
        const char *file;
        const char *section;
    } rows[] = { { "39E_Template.mtr", "[4.1A]" }, { "39G_Template.mtr", "[3.9G]" },
        { "40x_Template.mtr", "[4.0A]" }, { "41A_Template.mtr", "[4.1A]" },
        { "Quixal.qxm", "[1.4A]" } };
    for (const auto &row : rows) {
        const QByteArray content = ReadFile(row.file);
        MeterVars vars(row.section, "vars20.dat");
        EXPECT_EQ(content.size(), 3 * vars.ImageBytes()) << row.file;
        EXPECT_FALSE(content.contains('\n'));
        vars.ImageFromText(QString::fromLatin1(content));
        EXPECT_EQ(vars.Value("key", 1), 0xAAu) << row.file;
        EXPECT_EQ(vars.Value("flow_prec", 1), 2u) << row.file;
        EXPECT_EQ(vars.ImageToText(), QString::fromLatin1(content)) << row.file;
        EXPECT_EQ(MeterVars::DetectLayout(QString::fromLatin1(content), "vars20.dat"), row.section);
    }
}

TEST(DataFiles, UnitListsCoverEveryCodeWithDistinctPrefixes)
{
    for (const char *file : { "units15.dat", "units20.dat" }) {
        const QStringList lines = ChoiceList::Read(file);
        ASSERT_EQ(lines.size(), 32) << file;
        QSet<QString> prefixes;
        for (int code = 0; code < 32; ++code) {
            const QString &line = lines.at(code);
            EXPECT_EQ(line.right(3), QString::number(code + 101)) << file;
            EXPECT_TRUE(line.at(line.size() - 4).isSpace()) << file << code;
            const QString prefix = line.left(4);
            EXPECT_FALSE(prefix.contains(' ') || prefix.contains('=') || prefix.contains('>'));
            prefixes.insert(prefix.toUpper());
        }
        EXPECT_EQ(prefixes.size(), 32) << file;
    }
}

TEST(DataFiles, ChoiceListsEndInTheirCodes)
{
    for (const char *file : { "alarms20.dat", "alarmsQX.dat" }) {
        const QStringList lines = ChoiceList::Read(file);
        ASSERT_GE(lines.size(), 2) << file;
        for (int code = 0; code < lines.size(); ++code) {
            EXPECT_EQ(lines.at(code).right(3), QString::number(code + 402)) << file;
            // The datasheet prints the first 10 characters: a whole name, cut at a blank.
            EXPECT_EQ(lines.at(code).at(10), QLatin1Char(' ')) << file << ' ' << code;
        }
    }
    const QStringList out = ChoiceList::Read("out.dat");
    ASSERT_EQ(out.size(), 4);
    const char *assignments[] = { "Flow/Flow", "Flow/Temp", "Temp/Flow", "Temp/Temp" };
    for (int code = 0; code < 4; ++code) {
        EXPECT_EQ(out.at(code).left(9), assignments[code]);
        EXPECT_EQ(out.at(code).right(1), QString::number(code));
    }
    const QStringList freq = ChoiceList::Read("freq.dat");
    ASSERT_EQ(freq.size(), 2);
    EXPECT_TRUE(freq.at(0).startsWith('L'));
    EXPECT_TRUE(freq.at(1).startsWith('H'));
    EXPECT_NE(freq.at(0).left(9), freq.at(1).left(9));
    EXPECT_EQ(freq.at(0).right(1), "0");
    EXPECT_EQ(freq.at(1).right(1), "1");
}

} // namespace

// A list held in memory reads exactly as the file with the same bytes: line ends of every kind
// dropped, a line longer than 4095 characters continued as the next, a missing last line end.
TEST(DataFiles, HeldListReadsAsTheFileWithTheSameBytes)
{
    const QByteArray contents[] = {
        "Hz 0\r\nkHz 1\r\n",
        "a\n\nb\r\r\nc",
        "",
        QByteArray(5000, 'x') + "\nlast 4",
    };
    for (int i = 0; i < int(std::size(contents)); ++i) {
        QFile file(QStringLiteral("list_test.dat"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents[i]);
        file.close();
        const QStringList fromFile = ChoiceList::Read(QStringLiteral("list_test.dat"));
        EXPECT_EQ(ChoiceList::Lines(contents[i]), fromFile) << i;
        const QString held = QStringLiteral("held_list_%1.dat").arg(i); // never on disk
        ChoiceList::Hold(held, contents[i]);
        EXPECT_EQ(ChoiceList::Read(held), fromFile) << i;
    }
    EXPECT_EQ(ChoiceList::Lines(QByteArray(5000, 'x')).size(), 2);
}

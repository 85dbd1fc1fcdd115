// The Quixal variables, layouts and document without a window: the form's members
// (QXFormFields) stand in for the form, as the form itself keeps its values there.
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "meter/MeterVars.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXFields.h"
#include "meterqx/QXFormFields.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QXMeterVars.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace QXFieldId;

class QXCoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        QDir::setCurrent(TestEnv::WorkDir());
    }
    void TearDown() override
    {
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    static void Write(const QString &name, const QByteArray &content)
    {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QByteArray Read(const QString &name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A Quixal document opened from the shipped template, and a form with its lists loaded.
    std::unique_ptr<QXMeterDoc> OpenTemplate()
    {
        auto doc = std::make_unique<QXMeterDoc>();
        EXPECT_TRUE(doc->OnOpenDocument(QStringLiteral("Quixal.qxm")));
        return doc;
    }
    QXFormFields Form()
    {
        QXFormFields form;
        form.LoadLists();
        return form;
    }
};

TEST_F(QXCoreTest, VersionTableChoosesTheQuixalSections)
{
    struct Row
    {
        const char *version; // given to SetVersion
        const char *section; // read from varsQX.dat
        const char *after; // the working version afterwards
    };
    const Row rows[] = {
        { "1.4A", "[1.4A]", "1.4A" }, { "1.3A", "[1.0A]", "1.0A" }, { "1.2B", "[4.1A]", ">= 4.1A" },
        { "1.0A", "[4.1A]", ">= 4.1A" }, { "1.2C", "[4.1A]", ">= 4.1A" },
        { "4.0B", "[4.0A]", "4.0x" }, // not in varsQX.dat: an empty table
        { "?.??", "[?.??]", "?.??" }, // not in varsQX.dat: an empty table
    };
    for (const Row &row : rows) {
        auto doc = OpenTemplate();
        doc->Context().version = QStringLiteral("start");
        doc->SetVersion(QString::fromLatin1(row.version));
        ASSERT_NE(doc->Vars(), nullptr);
        EXPECT_EQ(doc->Vars()->SectionName(), QLatin1String(row.section)) << row.version;
        EXPECT_EQ(doc->Context().version, QLatin1String(row.after)) << row.version;
        const bool inFile = QString::fromLatin1(row.section) != QLatin1String("[4.0A]")
            && QString::fromLatin1(row.section) != QLatin1String("[?.??]");
        EXPECT_EQ(doc->Vars()->Count() > 0, inFile) << row.version;
        EXPECT_EQ(doc->Vars()->Value(QStringLiteral("key"), 1), 0u) << "a fresh image is zero";
    }

    // An empty version changes nothing: table, image and working version stay.
    auto doc = OpenTemplate();
    doc->Context().version = QStringLiteral("1.4A");
    const MeterVars *before = doc->Vars();
    doc->SetVersion(QString());
    EXPECT_EQ(doc->Vars(), before);
    EXPECT_EQ(doc->Context().version, QStringLiteral("1.4A"));
    EXPECT_EQ(doc->Vars()->Value(QStringLiteral("key"), 1), 0xAAu);

    // The Kelvane table folds every 1.x version onto [1.0A]; the Quixal one only 1.3A.
    QString version = QStringLiteral("1.2B");
    EXPECT_EQ(MeterVars::ChooseSection(QStringLiteral("[x]"), &version), QStringLiteral("[1.0A]"));
    version = QStringLiteral("1.2B");
    EXPECT_EQ(
        QXMeterVars::ChooseSection(QStringLiteral("[x]"), &version), QStringLiteral("[4.1A]"));
    version.clear();
    EXPECT_EQ(QXMeterVars::ChooseSection(QStringLiteral("[x]"), &version), QStringLiteral("[x]"));
    EXPECT_TRUE(version.isEmpty());
}

TEST_F(QXCoreTest, VocabularyShowsAndCollectsEveryRow)
{
    auto doc = OpenTemplate();
    MeterVars &v = *doc->Vars();
    v.SetValue("lcd_blind", 1, 1);
    v.SetValue("hart", 1, 1);
    v.SetValue("voltage", 1, 0);
    v.SetValue("flow_func", 1, 5);
    v.SetValue("tempflow", 1, 2);
    v.SetValue("polarity", 1, 1);
    v.SetValue("hold2", 1, 0x85);
    v.SetValue("width", 1, 0);
    v.SetValue("cal_date", 4, 0x0F060700); // bytes 0F 06 07 00
    v.SetValue("lockout", 2, 0xFFFF);
    v.SetValue("pad", 2, 17);
    v.SetValue("serial_num", 4, 20260001);
    v.SetValue("uP_assy_rev", 1, 0xFE);
    v.SetValue("wdt", 1, 3);
    v.SetValue("adc_val", 1, 200);
    v.SetValue("dac_val", 1, 129);
    v.SetValue("reporting_max", 1, 150);
    v.SetValue("updating_max", 1, 63);
    v.SetValue("event[2]", 1, 2);
    v.SetValue("event[3]", 1, 9); // no relay line carries 411
    v.SetValue("evalue[2]", 4, quint32(-5));
    v.SetValue("evalue[3]", 4, 400000);
    v.SetValue("edelay[2]", 1, 255);
    for (int i = 0; i < 10; ++i)
        v.SetFloat(QStringLiteral("coeff[%1]").arg(i), float(i) * 0.5f - 1.0f);
    v.SetFloat("coeff[11]", -0.25f);
    v.SetFloat("cutoff", 1.375f);
    const QString image = v.ImageToText();

    QXFormFields form = Form();
    doc->VarsToForm(form);
    const struct
    {
        int id;
        const char *text;
    } shown[] = {
        { NoDisplay, "TRUE" }, { Protocol, "TRUE" }, { VOut, "FALSE" },
        { Units, " 106" }, // the line of code 5 + 101; GetField gives its last 4 characters
        { Output, "2" }, { Polarity, "1" }, { HoldFlow, "TRUE" },
        { PulseWidth, "50" }, // width 0 is shown at the lower limit
        { CalibrationDue, "06/15/07" }, { Password, "-1" }, // a signed 16-bit value
        { ModbusAddr, "17" }, { SerialNumber, "20260001" }, { UpPcba, "-2" }, { Watchdog, "3" },
        { AdcFilter, "200" }, { DacFilter, "129" }, { DisplayRefresh, "150" }, { DacRefresh, "63" },
        { RelayOffFunction, " 404" }, { RelayOnFunction, "" }, // no line ends in 411: no selection
        { RelayOffValue, "-5" }, { RelayOnValue, "400000" }, { RelayOffDelay, "255" },
        { CFactor, "1.000000" }, { ZeroOffset, "-0.250000" },
        { ZeroCutoff, "1.38" }, // printf rounds the exact half to even
    };
    for (const auto &row : shown)
        EXPECT_EQ(form.GetField(row.id), QLatin1String(row.text)) << "field " << row.id;
    EXPECT_EQ(doc->Context().units, 5);
    EXPECT_EQ(form.Coefficients().size(), 10);
    EXPECT_EQ(form.Coefficients().first(), QStringLiteral("-1.00000000e+00"));

    // Collected without an edit: every byte as it was, bit 0-6 of hold2 included.
    doc->FormToVars(form);
    EXPECT_EQ(v.ImageToText(), image);

    // Edits: every entry rule.
    form.SetField(Units, QStringLiteral("scfh")); // case-insensitive prefix: code 102 - 101 = 1
    form.Select(Output, 0);
    form.Select(Polarity, 0);
    form.SetBox(HoldFlow, false);
    form.SetBox(VOut, true);
    form.SetText(PulseWidth, QStringLiteral("1200"));
    form.SetText(CalibrationDue, QStringLiteral("12/31/29"));
    form.SetText(Password, QStringLiteral("54321"));
    form.SetText(SerialNumber, QStringLiteral("12345"));
    form.Select(RelayOnFunction, 1);
    form.SetText(RelayOnValue, QStringLiteral("-7"));
    form.Coefficients()[3] = QStringLiteral("2.5");
    doc->FormToVars(form);
    EXPECT_EQ(v.Value("flow_func", 1), 1u);
    EXPECT_EQ(v.Value("tempflow", 1), 0u);
    EXPECT_EQ(v.Value("polarity", 1), 0u);
    EXPECT_EQ(v.Value("hold2", 1), 0x05u) << "only bit 7 belongs to the form";
    EXPECT_EQ(v.Value("voltage", 1), 1u);
    EXPECT_EQ(v.Value("width", 1), 19u);
    EXPECT_EQ(v.Value("cal_date", 4), (31u << 24) | (12u << 16) | (29u << 8));
    EXPECT_EQ(v.Value("lockout", 2), 54321u);
    EXPECT_EQ(v.Value("serial_num", 4), 12345u);
    EXPECT_EQ(v.Value("event[3]", 1), 1u);
    EXPECT_EQ(qint32(v.Value("evalue[3]", 4)), -7);
    EXPECT_FLOAT_EQ(v.Float("coeff[3]"), 2.5f);
    EXPECT_EQ(v.Value("key", 1), 0xAAu);
    EXPECT_EQ(v.Value("flow_prec", 1), 2u);
    EXPECT_EQ(v.Value("pad1", 1), 0u);
}

TEST_F(QXCoreTest, PulseWidthLimitsBothWays)
{
    const struct
    {
        int steps;
        int shown;
    } show[] = { { 0, 50 }, { 1, 50 }, { 7, 350 }, { 19, 950 }, { 25, 950 }, { -3, 50 } };
    for (const auto &row : show)
        EXPECT_EQ(QXFields::WidthShown(row.steps), row.shown) << row.steps;
    const struct
    {
        const char *typed;
        quint32 stored;
    } entry[] = { { "30", 1 }, { "1200", 19 }, { "500", 10 }, { "74", 1 }, { "-100", 1 },
        { "99999999999", 19 }, { "abc", 2 } /* no number: unchanged */ };
    for (const auto &row : entry) {
        auto doc = OpenTemplate(); // width 2 in the template
        QXFormFields form = Form();
        doc->VarsToForm(form);
        form.SetText(PulseWidth, QLatin1String(row.typed));
        doc->FormToVars(form);
        EXPECT_EQ(doc->Vars()->Value("width", 1), row.stored) << row.typed;
    }
}

TEST_F(QXCoreTest, UnitsListMatchesByCodeThenByPrefix)
{
    // Two lines share "SCFM": code 3 (line "...104") shows the first line of that prefix.
    Write(QStringLiteral("units20.dat"),
        "SCFM  first                 101\nLB/H  pounds                102\n"
        "IN3H  inches                106\nscfm  second                104\n");
    auto doc = OpenTemplate();
    const struct
    {
        quint32 code;
        int selected; // line index, -1 none
        quint32 collected; // flow_func after collecting the shown form
    } rows[] = {
        { 5, 2, 5 }, // "106": (106 - 5) AND 31 = 5
        { 3, 0, 0 }, // "104" is found, but its prefix selects the first SCFM line
        { 1, 1, 1 }, { 9, -1, 9 }, // no line ends in 110: no selection, the code stays
    };
    for (const auto &row : rows) {
        doc->Vars()->SetValue("flow_func", 1, row.code);
        QXFormFields form = Form();
        doc->VarsToForm(form);
        EXPECT_EQ(form.Selected(Units), row.selected) << row.code;
        doc->FormToVars(form);
        EXPECT_EQ(doc->Vars()->Value("flow_func", 1), row.collected) << row.code;
    }
    // An empty units list selects nothing.
    Write(QStringLiteral("units20.dat"), "");
    QXFormFields form = Form();
    form.SetField(Units, QStringLiteral("SCFM"));
    EXPECT_EQ(form.Selected(Units), -1);
    EXPECT_EQ(form.GetField(Units), QString());
}

TEST_F(QXCoreTest, UnitConversionIsTheCurrentOneForEveryVersion)
{
    const struct
    {
        const char *version;
        quint32 units;
        float x, k;
        const char *xsect, *maxRange;
    } rows[] = {
        // f = 8: A = -1, Fu = 1: Max Range = meter_k, whatever meter_x holds.
        { "1.4A", 8, 0.5f, 250.0f, "0.500000", "250.000000" },
        { "1.3A", 8, 7.0f, 250.0f, "7.000000", "250.000000" },
        // f = 1: A = 1, Fu = 60: Max Range = meter_k x 60 x meter_x.
        { "1.2B", 1, 0.5f, 10.0f, "0.500000", "300.000000" },
        // f = 24: six decimals, no cross-section factor.
        { "1.4A", 24, 2.0f, 2.0f, "0.185800", "0.010160" },
    };
    for (const auto &row : rows) {
        auto doc = OpenTemplate();
        doc->SetVersion(QString::fromLatin1(row.version));
        MeterVars &v = *doc->Vars();
        v.SetValue("flow_func", 1, row.units);
        v.SetFloat("meter_x", row.x);
        v.SetFloat("meter_k", row.k);
        QXFormFields form = Form();
        doc->VarsToForm(form);
        EXPECT_EQ(form.GetField(XSect), QLatin1String(row.xsect)) << row.version << row.units;
        EXPECT_EQ(form.GetField(MaxRange), QLatin1String(row.maxRange)) << row.version << row.units;
    }

    // A units change re-expresses the shown values; the stored ones stay.
    auto doc = OpenTemplate();
    MeterVars &v = *doc->Vars();
    v.SetValue("flow_func", 1, 0);
    v.SetFloat("meter_x", 0.5f);
    v.SetFloat("meter_k", 10.0f);
    QXFormFields form = Form();
    doc->VarsToForm(form);
    EXPECT_EQ(form.GetField(MaxRange), QStringLiteral("5.000000"));
    form.Select(Units, 1); // the user picks SCFH
    doc->UnitsChanged(form, 1);
    EXPECT_EQ(form.GetField(MaxRange), QStringLiteral("300.000000"));
    EXPECT_EQ(v.Value("flow_func", 1), 1u);
    EXPECT_EQ(doc->Context().units, 1);
    EXPECT_FLOAT_EQ(v.Float("meter_k"), 10.0f);
    // Typing a new Max Range in the new units stores it in the meter's.
    form.SetText(MaxRange, QStringLiteral("600"));
    doc->FormToVars(form);
    EXPECT_FLOAT_EQ(v.Float("meter_k"), 20.0f);
    EXPECT_FLOAT_EQ(v.Float("meter_x"), 0.5f);
}

TEST_F(QXCoreTest, ConversionCarriesValuesByName)
{
    Write(QStringLiteral("varsQX.dat"),
        "[1.4A]\n1 key\n4 serial_num\n2 lockout\n1 width\n.\n"
        "[4.1A]\n2 lockout\n1 spare\n1 key\n4 serial_num\n.\n");
    auto doc = std::make_unique<QXMeterDoc>();
    doc->SetVersion(QStringLiteral("1.4A"));
    MeterVars *v = doc->Vars();
    v->SetValue("key", 1, 0xAA);
    v->SetValue("serial_num", 4, 987654);
    v->SetValue("lockout", 2, 4321);
    v->SetValue("width", 1, 9);
    doc->Context().version = QStringLiteral(">= 4.1A");
    ASSERT_EQ(doc->ConvertTo(QStringLiteral("[4.1A]")), 1);
    v = doc->Vars();
    EXPECT_EQ(v->SectionName(), QStringLiteral("[4.1A]"));
    EXPECT_EQ(v->ImageToText(), QStringLiteral("10 E1 00 AA 00 0F 12 06 "));
    QXFormFields form = Form();
    doc->VarsToForm(form);
    EXPECT_EQ(form.GetField(SerialNumber), QStringLiteral("987654"));

    // A layout that is not in the file: nothing changes.
    const QString before = v->ImageToText();
    doc->Context().version = QStringLiteral("4.0x");
    EXPECT_EQ(doc->ConvertToVersion(QStringLiteral("4.0x")), 0);
    EXPECT_EQ(doc->Vars(), v);
    EXPECT_EQ(doc->Vars()->ImageToText(), before);
    doc->Context().version = QStringLiteral("1.4A");
    EXPECT_EQ(doc->ConvertToVersion(QStringLiteral("3.9G")), 0);
    EXPECT_EQ(doc->Context().version, QStringLiteral("1.4A"))
        << "a refused conversion keeps the version";
    // A name the table lacks is never written, and no other variable moves for it.
    EXPECT_EQ(v->SetValue("width", 1, 5), 0);
    EXPECT_EQ(v->ImageToText(), before);
}

TEST_F(QXCoreTest, FieldRulesOfTheMembers)
{
    QXFormFields form = Form();
    // Cut at the first blank, "=" or ">": a number with a trailing arrow keeps the number.
    form.SetField(Password, QStringLiteral("  1234 =>  more"));
    EXPECT_EQ(form.GetField(Password), QStringLiteral("1234"));
    form.SetField(ImageText, QStringLiteral("1234 =>  more"));
    EXPECT_EQ(form.GetField(ImageText), QStringLiteral("1234 =>  more"));

    // The coefficient walk: ten lines, then empty.
    form.SetField(PrimaryReset, QString());
    for (int i = 0; i < 10; ++i)
        form.SetField(PrimaryList, QString::number(i));
    form.GetField(PrimaryReset);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(form.GetField(PrimaryList), QString::number(i));
    EXPECT_EQ(form.GetField(PrimaryList), QString());

    // Output and polarity by prefix, with their codes.
    form.SetField(Output, QStringLiteral("Temp/Flow"));
    EXPECT_EQ(form.GetField(Output), QStringLiteral("2"));
    EXPECT_EQ(form.OutputCode(), QStringLiteral("2"));
    form.SetField(Polarity, QStringLiteral("h"));
    EXPECT_EQ(form.Selected(Polarity), 1);
    form.SetField(Polarity, QStringLiteral("Nothing"));
    EXPECT_EQ(form.GetField(Polarity), QString());
    // Relay functions by their last three characters.
    form.SetField(RelayOnFunction, QStringLiteral("405"));
    EXPECT_EQ(form.GetField(RelayOnFunction), QStringLiteral(" 405"));
    form.SetField(RelayOnFunction, QStringLiteral("999"));
    EXPECT_EQ(form.Selected(RelayOnFunction), -1);
    // Boxes, revision, and ids the form does not have.
    form.SetField(HoldFlow, QStringLiteral("TRUE"));
    EXPECT_EQ(form.GetField(HoldFlow), QStringLiteral("TRUE"));
    form.SetField(HoldFlow, QStringLiteral("yes"));
    EXPECT_EQ(form.GetField(HoldFlow), QStringLiteral("FALSE"));
    form.SetField(Revision, QStringLiteral("C"));
    EXPECT_EQ(form.GetField(Revision), QStringLiteral("C"));
    form.SetField(1020, QStringLiteral("3"));
    EXPECT_EQ(form.GetField(1020), QString());
    EXPECT_EQ(form.GetField(1114), QString());
}

TEST_F(QXCoreTest, FieldsWithoutNumbersLeaveTheirVariables)
{
    auto doc = OpenTemplate();
    const QString image = doc->Vars()->ImageToText();
    QXFormFields form; // lists not loaded: nothing selected anywhere
    doc->VarsToForm(form);
    for (int id : QXFormFields::TextIds())
        form.SetText(id, QStringLiteral("x\xe9\x01 ="));
    for (int i = 0; i < form.Coefficients().size(); ++i)
        form.Coefficients()[i] = QString();
    doc->FormToVars(form);
    EXPECT_EQ(doc->Vars()->ImageToText(), image);

    // Nor is a decimal no float can hold; a units change then shows the stored values again.
    for (const auto &[id, text] : { std::pair { FullScale, "1e39" }, { MaxRange, "-3.4028236e38" },
             { XSect, "3.5e38" }, { CFactor, "1e39" } })
        form.SetText(id, QLatin1String(text));
    doc->FormToVars(form);
    EXPECT_EQ(doc->Vars()->ImageToText(), image);
    doc->UnitsChanged(form, 1);
    QXFormFields shown;
    doc->VarsToForm(shown);
    for (int id : { FullScale, MaxRange, XSect })
        EXPECT_EQ(form.GetField(id), shown.GetField(id));
}

TEST_F(QXCoreTest, QuixalFileOpensInItsOwnLayoutWhateverVersionIsInForce)
{
    const QByteArray original = Read(QStringLiteral("Quixal.qxm"));
    ASSERT_FALSE(original.isEmpty());
    // A 1.3A meter's file, in the [1.0A] layout.
    {
        QXMeterDoc doc;
        doc.SetVersion(QStringLiteral("1.3A"));
        doc.Vars()->SetValue("key", 1, 0xAA);
        doc.Vars()->SetValue("serial_num", 4, 1313);
        ASSERT_TRUE(doc.OnSaveDocument(QStringLiteral("old.qxm")));
    }
    for (const char *version : { "", "1.4A", "1.0A", ">= 4.1A", "4.0x", "3.9G", "?.??" }) {
        for (const char *meter : { "", "4.1A", "1.4A" }) {
            AppServices::Meter().SetVersion(QString::fromLatin1(meter));
            QXMeterDoc doc(QString::fromLatin1(version));
            ASSERT_TRUE(doc.OnOpenDocument(QStringLiteral("Quixal.qxm")));
            EXPECT_EQ(doc.Vars()->SectionName(), QStringLiteral("[1.4A]")) << version << meter;
            EXPECT_EQ(doc.Context().version, QLatin1String(version))
                << "opening changes no version";
            QXFormFields form = Form();
            doc.VarsToForm(form);
            doc.Context().version = QStringLiteral("4.0x"); // a read puts another in force
            doc.FormToVars(form);
            ASSERT_TRUE(doc.OnSaveDocument(QStringLiteral("copy.qxm")));
            EXPECT_EQ(Read(QStringLiteral("copy.qxm")), original) << version << meter;

            QXMeterDoc old;
            ASSERT_TRUE(old.OnOpenDocument(QStringLiteral("old.qxm")));
            EXPECT_EQ(old.Vars()->SectionName(), QStringLiteral("[1.0A]"));
            EXPECT_EQ(old.Vars()->Value("serial_num", 4), 1313u);
        }
    }
}

TEST_F(QXCoreTest, MalformedFilesOpenWithoutHarm)
{
    std::vector<QString> messages;
    const QByteArray cases[] = { "", "ZZ", "AA", "00 02 00 00 AA 00 ", QByteArray(70000, 'F'),
        "00\r\n02 00 00 AA", QByteArray("\x00\xff\x80 AA", 7) };
    int refused = 0;
    for (const QByteArray &content : cases) {
        Write(QStringLiteral("bad.qxm"), content);
        QXMeterDoc doc;
        // A line whose key byte fits a layout but holds too few or too many bytes for it is
        // refused with the reason; the rest opens.
        if (!doc.OnOpenDocument(QStringLiteral("bad.qxm"))) {
            EXPECT_TRUE(doc.OpenError().contains(QStringLiteral(" bytes of the ")))
                << qPrintable(doc.OpenError());
            EXPECT_EQ(Read(QStringLiteral("bad.qxm")), content);
            ++refused;
            continue;
        }
        ASSERT_NE(doc.Vars(), nullptr);
        const QString opened = doc.ImageToText();
        QXFormFields form = Form();
        doc.VarsToForm(form);
        doc.FormToVars(form);
        EXPECT_EQ(doc.Vars()->Value("key", 1), 0xAAu);
        EXPECT_EQ(Read(QStringLiteral("bad.qxm")), content) << "opening never writes";
        // The same bytes given without the file (as the fuzz target gives them) read the same.
        QXMeterDoc fromBytes;
        fromBytes.OpenMeterLine(CMeterDoc::MeterLine(content), QStringLiteral("bad.qxm"));
        ASSERT_NE(fromBytes.Vars(), nullptr);
        EXPECT_EQ(fromBytes.Vars()->SectionName(), doc.Vars()->SectionName());
        EXPECT_EQ(fromBytes.ImageToText(), opened);
    }
    EXPECT_GE(refused, 1);
    EXPECT_EQ(CMeterDoc::MeterLine(QByteArray(70000, 'F')).size(), 64 * 1024 - 1);
    EXPECT_EQ(CMeterDoc::MeterLine("AA 01\r\r\nsecond"), "AA 01");
    QXMeterDoc missing;
    EXPECT_FALSE(missing.OnOpenDocument(QStringLiteral("no such file.qxm")));
}

} // namespace

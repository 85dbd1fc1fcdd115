#include "meter/CMeterDoc.h"

#include "FakeForm.h"
#include "app/TemplateChooser.h"
#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/FieldIds.h"
#include "meter/MeterVars.h"
#include "meterqx/QXMeterDoc.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class CMeterDocTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        m_previous = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
    }
    void TearDown() override
    {
        UserMessage::SetHandler(m_previous);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }
    QStringList m_messages;
    UserMessage::Handler m_previous;
};

TEST_F(CMeterDocTest, MeterVersionChoosesTheLayout)
{
    AppServices::Meter().SetVersion("4.0B");
    CMeterDoc doc("4.1A"); // the setting
    ASSERT_TRUE(doc.OnOpenDocument("40x_Template.mtr"));
    EXPECT_EQ(doc.Vars()->SectionName(), "[4.0A]");
    EXPECT_EQ(doc.Context().version, "4.0x");
    EXPECT_EQ(doc.MeterVersion(), "4.0B");
    EXPECT_FALSE(doc.LayoutMismatch());
    EXPECT_TRUE(m_messages.isEmpty());
}

// A Quixal meter identified: a file opened right after a Quixal form keeps the version in force,
// any other puts ">= 4.1A" in force (the kind of window comes from the document manager).
TEST_F(CMeterDocTest, QuixalMeterAndTheWindowKind)
{
    for (const int kind : { 5, 1 }) {
        AppServices::Meter().SetVersion("1.4A");
        CMeterDoc doc("4.0x");
        doc.SetWindowKind(kind);
        ASSERT_TRUE(doc.OnOpenDocument("41A_Template.mtr"));
        EXPECT_EQ(doc.Context().version, kind == 5 ? "4.0x" : ">= 4.1A") << kind;
    }
}

struct TemplateRow
{
    const char *docVersion;
    const char *meterVersion;
    const char *meterModel;
    const char *file;
    const char *docVersionAfter;
};

class TemplateSelection : public CMeterDocTest, public ::testing::WithParamInterface<TemplateRow>
{
};

TEST_P(TemplateSelection, ChoosesByVersionAndMeter)
{
    const TemplateRow &r = GetParam();
    g_DocKind = 2;
    g_DocVersion = r.docVersion;
    AppServices::Meter().SetVersion(r.meterVersion);
    AppServices::Meter().SetModel(r.meterModel);
    EXPECT_EQ(TemplateChooser::KelvaneTemplate(), r.file);
    EXPECT_EQ(g_DocVersion, r.docVersionAfter);
    EXPECT_EQ(g_DocKind, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, TemplateSelection,
    ::testing::Values(TemplateRow { "3.9E", "", "", "39E_Template.mtr", "3.9E" },
        TemplateRow { "4.1A", "3.9E", "", "39E_Template.mtr", "4.1A" },
        TemplateRow { "3.9G", "", "", "39G_Template.mtr", "3.9G" },
        TemplateRow { "4.0A", "3.9G", "", "39G_Template.mtr", "4.0A" },
        TemplateRow { "4.0x", "", "", "40x_Template.mtr", "4.0x" },
        TemplateRow { "3.9G", "4.0A", "", "39G_Template.mtr", "3.9G" },
        TemplateRow { "", "4.0B", "", "40x_Template.mtr", "" },
        TemplateRow { "4.0A", "", "", "41A_Template.mtr", "4.1A" },
        TemplateRow { "4.0A", "1.4A", "500", "", "1.0A" },
        TemplateRow { "3.9g", "", "", "41A_Template.mtr", "4.1A" }));

TEST_F(CMeterDocTest, TheNewFormFor39GOpensItsTemplateInItsLayout)
{
    g_DocVersion = "3.9G";
    const QString file = TemplateChooser::KelvaneTemplate();
    EXPECT_EQ(file, "39G_Template.mtr");
    CMeterDoc doc(g_DocVersion);
    ASSERT_TRUE(doc.OnOpenDocument(file));
    EXPECT_EQ(doc.Vars()->SectionName(), "[3.9G]");
    EXPECT_EQ(doc.Vars()->Value("key", 1), 0xAAu);
}

struct ShippedTemplate
{
    const char *file;
    const char *docVersion;
    int docKind;
    const char *section;
};

class ShippedTemplates : public CMeterDocTest, public ::testing::WithParamInterface<ShippedTemplate>
{
};

TEST_P(ShippedTemplates, LoadSaveGivesTheSameBytes)
{
    const ShippedTemplate &t = GetParam();
    // Each file in the document of its own series (the Kelvane document refuses a Quixal file).
    const QString version = QString::fromLatin1(t.docVersion);
    const std::unique_ptr<CMeterDoc> opened = t.docKind == 5 ? std::make_unique<QXMeterDoc>(version)
                                                             : std::make_unique<CMeterDoc>(version);
    opened->SetWindowKind(t.docKind);
    CMeterDoc &doc = *opened;
    ASSERT_TRUE(doc.OnOpenDocument(t.file));
    EXPECT_EQ(doc.Vars()->SectionName(), t.section);
    EXPECT_EQ(doc.Vars()->Value("key", 1), 0xAAu);
    EXPECT_FALSE(doc.LayoutMismatch());
    ASSERT_TRUE(doc.OnSaveDocument("copy.out"));
    EXPECT_EQ(ReadFile("copy.out"), ReadFile(t.file));
    EXPECT_TRUE(m_messages.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedTemplates,
    ::testing::Values(ShippedTemplate { "39E_Template.mtr", "3.9E", 1, "[4.1A]" },
        ShippedTemplate { "39G_Template.mtr", "3.9G", 1, "[3.9G]" },
        ShippedTemplate { "40x_Template.mtr", "4.0x", 1, "[4.0A]" },
        ShippedTemplate { "41A_Template.mtr", "4.1A", 1, "[4.1A]" },
        ShippedTemplate { "Quixal.qxm", "1.4A", 5, "[1.4A]" }));

TEST_F(CMeterDocTest, FileOfAnotherLayoutIsReadButTheUserIsTold)
{
    CMeterDoc doc(">= 4.1A");
    ASSERT_TRUE(doc.OnOpenDocument("39G_Template.mtr"));
    EXPECT_EQ(doc.Vars()->SectionName(), "[4.1A]"); // read as the version in force says
    EXPECT_TRUE(doc.LayoutMismatch());
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.at(0).contains("[3.9G]")) << qPrintable(m_messages.at(0));
    EXPECT_TRUE(m_messages.at(0).contains("version 3.9G")) << qPrintable(m_messages.at(0));

    m_messages.clear();
    CMeterDoc other("4.0x");
    ASSERT_TRUE(other.OnOpenDocument("41A_Template.mtr"));
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.at(0).contains("version >= 4.1A")) << qPrintable(m_messages.at(0));
}

TEST_F(CMeterDocTest, BadMeterFilesNeverCrash)
{
    const QByteArray cases[] = {
        "",
        "AA 02",
        ReadFile("41A_Template.mtr") + ReadFile("41A_Template.mtr") + "\r\nsecond line",
        "not hex at all, not hex at all, not hex at all",
        QByteArray(300000, 'A'),
        QByteArray("\x00\xff\x80\x01\r\n\x00\x00", 8) + QByteArray(4000, '\xaa'),
    };
    // A file whose key byte names a layout but whose image is cut short or runs on is refused
    // with the reason; the others open (with a warning when they fit no layout).
    const bool refused[] = { false, true, true, false, true, false };
    for (const char *version : { "", "3.9G", "4.0x", ">= 4.1A", "1.4A" }) {
        int i = 0;
        for (const QByteArray &content : cases) {
            WriteFile("bad.mtr", content);
            CMeterDoc doc(QString::fromLatin1(version));
            const bool opened = doc.OnOpenDocument("bad.mtr");
            EXPECT_EQ(doc.OpenError().isEmpty(), opened) << i;
            // Under a version whose layouts its key fits it is refused; under another it is
            // never taken for a good file.
            if (refused[i] && opened) {
                EXPECT_TRUE(doc.LayoutMismatch() || doc.Vars()->Count() == 0) << version << i;
            }
            if (!refused[i]) {
                EXPECT_TRUE(opened) << version << i;
            }
            if (!opened) {
                ++i;
                continue;
            }
            ASSERT_TRUE(doc.Vars());
            EXPECT_LE(doc.ImageToText().size(), 3 * MeterVars::kImageSize);
            FakeForm form(doc.Context().version);
            doc.VarsToForm(form);
            doc.FormToVars(form);
            EXPECT_TRUE(doc.OnSaveDocument("bad.out"));
            ++i;
        }
    }
    // The long line that reads "AA" everywhere fits the first section's key, and is far longer.
    WriteFile("bad.mtr", QByteArray(300000, 'A'));
    CMeterDoc doc("");
    ASSERT_FALSE(doc.OnOpenDocument("bad.mtr"));
    EXPECT_TRUE(doc.OpenError().contains("more than the")) << qPrintable(doc.OpenError());
}

TEST_F(CMeterDocTest, MissingFileFailsToOpen)
{
    CMeterDoc doc;
    EXPECT_FALSE(doc.OnOpenDocument("no_such.mtr"));
    EXPECT_FALSE(doc.Vars());
}

TEST_F(CMeterDocTest, MissingLayoutFileGivesEmptyTableAndEmptyFile)
{
    QFile::remove("vars20.dat");
    CMeterDoc doc("4.0x");
    ASSERT_TRUE(doc.OnOpenDocument("40x_Template.mtr"));
    EXPECT_EQ(doc.Vars()->Count(), 0);
    EXPECT_TRUE(m_messages.isEmpty());
    ASSERT_TRUE(doc.OnSaveDocument("empty.out"));
    EXPECT_EQ(ReadFile("empty.out"), "");
}

TEST_F(CMeterDocTest, FailedSaveLeavesNothingBehindAndSaysWhy)
{
    CMeterDoc doc("4.0x");
    ASSERT_TRUE(doc.OnOpenDocument("40x_Template.mtr"));
    WriteFile("blocker", "a file where a folder should be");
    EXPECT_FALSE(doc.OnSaveDocument("blocker/meter.mtr"));
    EXPECT_FALSE(doc.SaveError().isEmpty());
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.at(0).contains("left as it was"));
    EXPECT_EQ(ReadFile("blocker"), "a file where a folder should be");

    WriteFile("old.mtr", "old content");
    ASSERT_TRUE(doc.OnSaveDocument("old.mtr"));
    EXPECT_EQ(ReadFile("old.mtr"), ReadFile("40x_Template.mtr"));
    EXPECT_TRUE(doc.SaveError().isEmpty());
    const QStringList leftovers = QDir().entryList({ "old.mtr*" }, QDir::Files | QDir::Hidden);
    EXPECT_EQ(leftovers, QStringList { "old.mtr" });
}

TEST_F(CMeterDocTest, SetVersionBuildsAnEmptyTableOfTheVersion)
{
    CMeterDoc doc;
    // Each settled version is told, for the window layer's version of new windows.
    QStringList settled;
    QObject::connect(&doc, &CMeterDoc::VersionSettled,
        [&settled](const QString &version) { settled.append(version); });
    doc.SetVersion("4.0B");
    EXPECT_EQ(doc.Context().version, "4.0x");
    EXPECT_EQ(doc.Vars()->SectionName(), "[4.0A]");
    EXPECT_EQ(doc.Vars()->Value("key", 1), 0u);
    doc.SetVersion("4.2C");
    EXPECT_EQ(doc.Context().version, ">= 4.1A");
    EXPECT_EQ(doc.Vars()->SectionName(), "[4.1A]");
    doc.SetVersion("3.9G");
    EXPECT_EQ(doc.Vars()->SectionName(), "[3.9G]");
    EXPECT_EQ(doc.LayoutVersion(), "3.9G");
    EXPECT_EQ(settled, QStringList({ "4.0x", ">= 4.1A", doc.Context().version }));
    EXPECT_EQ(doc.ConvertPrompt(">= 4.1A"), "About to convert meter data from 3.9G to >= 4.1A  !");
}

TEST_F(CMeterDocTest, ConvertKeepsValuesWhereTheyMove)
{
    CMeterDoc doc("3.9G");
    ASSERT_TRUE(doc.OnOpenDocument("39G_Template.mtr"));
    MeterVars &old = *doc.Vars();
    old.SetValue("serial_num", 4, 1234567);
    old.SetValue("evalue[2]", 2, 0xBEEF);
    old.SetFloat("meter_k", 4321.5f);
    const int oldOffset = old.IndexOf("serial_num");

    doc.Context().version = ">= 4.1A";
    ASSERT_EQ(doc.ConvertTo("[>= 4.1A]"), 1);
    MeterVars &now = *doc.Vars();
    EXPECT_EQ(now.SectionName(), "[4.1A]");
    EXPECT_NE(now.IndexOf("serial_num"), oldOffset);
    EXPECT_EQ(now.Value("serial_num", 4), 1234567u);
    EXPECT_EQ(now.Value("evalue[2]", 4), 0xBEEFu); // grew: the new high bytes are zero
    EXPECT_FLOAT_EQ(now.Float("meter_k"), 4321.5f);
    EXPECT_EQ(now.Value("mode", 1), 0u); // new here: zero
    EXPECT_EQ(now.Value("key", 1), 0xAAu);
    EXPECT_EQ(now.Value("flow_prec", 1), 2u);

    // Back into the older layout: the 4-byte value shrinks to its low bytes and "meter_num",
    // unknown to [4.1A], stays zero; nothing spills into a neighbour.
    now.SetValue("evalue[1]", 4, 0x12345678);
    now.SetValue("evalue[2]", 4, 0xFFFF0001);
    doc.Context().version = "3.9G";
    ASSERT_EQ(doc.ConvertTo("[3.9G]"), 1);
    MeterVars &back = *doc.Vars();
    EXPECT_EQ(back.Value("evalue[1]", 2), 0x5678u);
    EXPECT_EQ(back.Value("evalue[2]", 2), 0x0001u);
    EXPECT_EQ(back.Value("evalue[3]", 2), 0u);
    EXPECT_EQ(back.Value("meter_num", 1), 0u);
    EXPECT_EQ(back.Value("serial_num", 4), 1234567u);
}

TEST_F(CMeterDocTest, ConvertToAnEmptyLayoutKeepsTheOldOne)
{
    CMeterDoc doc("");
    ASSERT_TRUE(doc.OnOpenDocument("41A_Template.mtr"));
    const QString before = doc.ImageToText();
    EXPECT_EQ(doc.ConvertTo("[9.9Z]"), 0);
    EXPECT_EQ(doc.Vars()->SectionName(), "[4.1A]");
    EXPECT_EQ(doc.ImageToText(), before);
}

TEST_F(CMeterDocTest, FormRoundTripThroughTheDocument)
{
    CMeterDoc doc("4.1A");
    ASSERT_TRUE(doc.OnOpenDocument("41A_Template.mtr"));
    FakeForm form;
    doc.VarsToForm(form);
    EXPECT_EQ(form.Text(FieldId::SerialNumber), "0");
    form.Type(FieldId::SerialNumber, "424242");
    form.Type(FieldId::ActiveRange, "1");
    doc.FormToVars(form);
    ASSERT_TRUE(doc.OnSaveDocument("edited.mtr"));
    CMeterDoc again;
    ASSERT_TRUE(again.OnOpenDocument("edited.mtr"));
    EXPECT_EQ(again.Vars()->Value("serial_num", 4), 424242u);
    EXPECT_EQ(again.ImageToText(), doc.ImageToText());
}

// Documents open at once, of both series: a units change in one converts from the units it
// showed and under its own working version, whatever another shows, converts or reads meanwhile.
TEST_F(CMeterDocTest, AUnitsChangeConvertsFromItsOwnDocumentsUnits)
{
    using Meanwhile = std::function<void(CMeterDoc & other, QXMeterDoc & quixal)>;
    const struct
    {
        const char *what;
        Meanwhile meanwhile;
    } rows[] = {
        { "nothing", [](CMeterDoc &, QXMeterDoc &) {} },
        { "the other shows its units",
            [](CMeterDoc &other, QXMeterDoc &) {
                FakeForm shown;
                other.VarsToForm(shown);
            } },
        { "the other converts",
            [](CMeterDoc &other, QXMeterDoc &) { other.ConvertToVersion("3.9G"); } },
        { "the other reads a 4.0B meter",
            [](CMeterDoc &other, QXMeterDoc &) { other.SetVersion("4.0B"); } },
        { "a Quixal form reads a 1.3A meter",
            [](CMeterDoc &, QXMeterDoc &quixal) { quixal.SetVersion("1.3A"); } },
    };
    QStringList expected; // Max Range and X-Sect in SCFM, SCFH and units 17, as "nothing" gives
    for (const auto &row : rows) {
        CMeterDoc scfm("4.1A"), scfh("4.1A");
        QXMeterDoc quixal("1.4A");
        ASSERT_TRUE(scfm.OnOpenDocument("41A_Template.mtr"));
        ASSERT_TRUE(scfh.OnOpenDocument("41A_Template.mtr"));
        ASSERT_TRUE(quixal.OnOpenDocument("Quixal.qxm"));
        for (CMeterDoc *doc : { &scfm, &scfh }) {
            doc->Vars()->SetFloat("meter_x", 0.5f);
            doc->Vars()->SetFloat("meter_k", 10.0f);
        }
        scfm.Vars()->SetValue("flow_func", 1, 0);
        scfh.Vars()->SetValue("flow_func", 1, 1);
        FakeForm first;
        scfm.VarsToForm(first);
        const double perMinute = first.Text(FieldId::MaxRange).toDouble();
        ASSERT_GT(perMinute, 0.0);
        QStringList shown = { first.Text(FieldId::MaxRange), first.Text(FieldId::XSect) };
        row.meanwhile(scfh, quixal);
        scfm.UnitsChanged(first, 1);
        EXPECT_DOUBLE_EQ(first.Text(FieldId::MaxRange).toDouble(), perMinute * 60) << row.what;
        EXPECT_FLOAT_EQ(scfm.Vars()->Float("meter_k"), 10.0f) << row.what;
        EXPECT_EQ(scfm.Context().units, 1) << row.what;
        shown << first.Text(FieldId::MaxRange) << first.Text(FieldId::XSect);
        row.meanwhile(scfh, quixal);
        scfm.UnitsChanged(first, 17);
        shown << first.Text(FieldId::MaxRange) << first.Text(FieldId::XSect);
        EXPECT_EQ(scfm.Context().version, ">= 4.1A") << row.what;
        if (expected.isEmpty())
            expected = shown;
        EXPECT_EQ(shown, expected) << row.what;
    }
    // The other converts back from its own units too.
    CMeterDoc scfm("4.1A"), scfh("4.1A");
    ASSERT_TRUE(scfm.OnOpenDocument("41A_Template.mtr"));
    ASSERT_TRUE(scfh.OnOpenDocument("41A_Template.mtr"));
    for (CMeterDoc *doc : { &scfm, &scfh }) {
        doc->Vars()->SetFloat("meter_x", 0.5f);
        doc->Vars()->SetFloat("meter_k", 10.0f);
    }
    scfm.Vars()->SetValue("flow_func", 1, 0);
    scfh.Vars()->SetValue("flow_func", 1, 1);
    FakeForm first, second;
    scfm.VarsToForm(first);
    scfh.VarsToForm(second);
    scfm.UnitsChanged(first, 1);
    scfh.UnitsChanged(second, 0);
    EXPECT_EQ(second.Text(FieldId::MaxRange), expected.at(0));
}

TEST(CMeterDocSavePath, FollowsTheTitleAfterAMeterRead)
{
    const struct
    {
        const char *path, *remembered, *current, *expected;
    } rows[] = {
        { "/m/41A_Template.mtr", "41A_Template.mtr", "12345_1", "/m/12345_1.mtr" },
        { "/m/41A_Template.mtr", "41A_Template.mtr", "41A_Template.mtr", "/m/41A_Template.mtr" },
        { "/m/a.mtr/a.mtr", "a.mtr", "777_2", "/m/a.mtr/777_2.mtr" },
        { "/m/other.mtr", "41A_Template.mtr", "12345_1", "/m/other.mtr" },
        { "/m/other.mtr", "", "12345_1", "/m/other.mtr" },
    };
    for (const auto &r : rows)
        EXPECT_EQ(CMeterDoc::RebuildSavePath(r.path, r.remembered, r.current), r.expected)
            << r.path;
}

} // namespace

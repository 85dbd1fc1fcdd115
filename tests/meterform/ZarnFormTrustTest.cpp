// The Kelvane form inside the program: whatever windows were opened before or after a meter
// file, whatever the terminal heard and whatever the settings chose meanwhile, the form shows the
// file by its own layout and an unedited Save gives back the file byte for byte.
#include "meter/ZarnFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/FieldWidth.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "meter/MeterVars.h"
#include "modbus/Modbus.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"
#include "terminal/TermScreen.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QScopeGuard>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

// One meter file of a layout, with values that each family's rules show differently.
struct MeterFile
{
    const char *name;
    const char *section;
    const char *family;
};
constexpr MeterFile kFiles[] = {
    { "trust41A.mtr", "[4.1A]", ">= 4.1A" },
    { "trust40x.mtr", "[4.0A]", "4.0x" },
    { "trust39G.mtr", "[3.9G]", "3.9G" },
};

QByteArray ImageOf(const MeterFile &file)
{
    QString version = QString::fromLatin1(file.family);
    MeterVars v(QString::fromLatin1(file.section), &version);
    const bool current = QLatin1String(file.section) == QLatin1String("[4.1A]");
    v.SetValue("key", 1, 0xAA);
    v.SetValue("flow_prec", 1, 2);
    v.SetValue("lcd_blind", 1, 1);
    v.SetValue("flow_func", 1, 18);
    v.SetValue("mode", 1, 0xAA); // range 3, tracking on
    v.SetValue("meter_num", 1, 0xAD); // range 2, tracking on
    v.SetValue("curve_fit", 1, 0x42); // secondary coefficients, hold flow on relay 1
    v.SetValue("dac_val", 1, 0x85); // before 4.1A: bit 7 is the curve-fit choice
    v.SetValue("reporting_max", 1, current ? 150 : 0); // outside the Refresh slider
    v.SetValue("updating_max", 1, 20);
    v.SetValue("adc_val", 1, 12);
    v.SetValue("evalue[0]", 4, current ? 100000u : 40000u);
    v.SetValue("evalue[1]", 4, 7u);
    v.SetValue("event[0]", 1, 1);
    v.SetValue("edelay[0]", 1, 200);
    v.SetFloat("meter_x", 1.0f);
    v.SetFloat("meter_k", 6000.0f);
    v.SetFloat("meter_s", 5500.37f);
    v.SetFloat("coeff[10]", 1.0001234f);
    v.SetFloat("cutoff", -1000000000.0f);
    v.SetValue("cal_date", 4, 0x0C0A6337u); // 10/12/99 with a low byte the form does not show
    v.SetValue("serial_num", 4, 20260001u);
    v.SetValue("pad_1", 2, 17);
    v.SetValue("uP_assy_rev", 1, 0xFE);
    for (int i = 0; i < 10; ++i) {
        v.SetFloat(QStringLiteral("coeff[%1]").arg(i), 0.1f * float(i) - 0.25f);
        v.SetFloat(QStringLiteral("coeff1[%1]").arg(i), 1.5f + float(i));
    }
    for (int i = 0; i < 21; ++i)
        v.SetFloat(QStringLiteral("segment[%1]").arg(i), float(i) / 3.0f);
    return v.ImageToText().toLatin1();
}

// The terminal hears a meter identify itself.
void Identify(const char *line)
{
    const QByteArray screen = QByteArray(77, ' ') + QByteArray(line);
    TermScreen::ScanIdentification(screen, AppServices::Meter());
}

class TrustTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        for (const MeterFile &file : kFiles)
            WriteFile(QString::fromLatin1(file.name), ImageOf(file));
        ResetGlobals();
        m_app = std::make_unique<CTarvikApp>(LinkTiming(), false);
        ASSERT_TRUE(m_app->InitInstance());
        m_app->MainFrame()->resize(1366, 768);
        m_messages.clear(); // the meter link has no port here
    }

    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_oldHandler);
        TestEnv::ReseedWorkDir();
        for (const MeterFile &file : kFiles)
            QFile::remove(QString::fromLatin1(file.name));
        ResetGlobals();
    }

    QList<ZarnFormView *> Forms() const
    {
        QList<ZarnFormView *> forms;
        for (CDocument *doc : m_app->DocManager()->Documents())
            for (CChildFrame *frame : m_app->DocManager()->FramesOf(doc))
                if (auto *form = qobject_cast<ZarnFormView *>(frame->View()))
                    forms.append(form);
        return forms;
    }

    ZarnFormView *FormOf(const QString &fileName) const
    {
        for (ZarnFormView *form : Forms())
            if (QFileInfo(form->GetDocument()->PathName()).fileName() == fileName)
                return form;
        return nullptr;
    }

    // A second passes on every form.
    void Tick()
    {
        for (ZarnFormView *form : Forms())
            form->TimerTick(ZarnFormView::kClockTimer);
    }

    ZarnFormView *Open(const char *name)
    {
        m_app->DocManager()->OpenDocumentFile(QString::fromLatin1(name));
        return FormOf(QString::fromLatin1(name));
    }

    std::unique_ptr<CTarvikApp> m_app;
    QStringList m_messages;
    UserMessage::Handler m_oldHandler;
};

} // namespace

// With no meter identified the form opens a file in the version the settings chose from the
// start, and shows it by that layout's rules.
TEST_F(TrustTest, FreshStartShowsAFileInTheSettingsVersion)
{
    ZarnFormView *form = Open("trust41A.mtr");
    ASSERT_NE(form, nullptr);
    Tick();
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
    EXPECT_EQ(form->GetField(1010), QStringLiteral("100000"));
    EXPECT_EQ(qobject_cast<QComboBox *>(form->Control(1005))->currentText(),
        QStringLiteral("Primary and Secondary Coefficients"));
    EXPECT_EQ(qobject_cast<QTreeWidget *>(form->Control(1057))->topLevelItemCount(), 10);
    EXPECT_EQ(qobject_cast<QTreeWidget *>(form->Control(1061))->topLevelItemCount(), 21);
    EXPECT_EQ(form->GetField(1067), QStringLiteral(">= 4.1A"));
    EXPECT_EQ(form->GetField(1030), QStringLiteral("150")); // not the slider's 100
    EXPECT_EQ(form->GetField(1053), QStringLiteral("-1000000000.00"));
    // The user's file is a recent file; the files the program opens for itself are not.
    m_app->OnNewMeterForm();
    m_app->OnNewModbus();
    QStringList recent;
    for (const QString &path : m_app->DocManager()->RecentFiles())
        recent << QFileInfo(path).fileName();
    EXPECT_EQ(recent.value(0), QStringLiteral("trust41A.mtr"));
    for (const char *own : { "41A_Template.mtr", "Modbus.txt", "read20.que" })
        EXPECT_FALSE(recent.contains(QLatin1String(own))) << own;
}

// A meter read into one form leaves its version and revision with that form: another file of
// the same layout is shown by its own (unknown) meter's rules, and its labels say so.
TEST_F(TrustTest, AReadMetersRulesStayWithItsForm)
{
    {
        CPrefs prefs;
        prefs.SetVersion(QStringLiteral("4.0x"));
        g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
    }
    ZarnFormView *plain = Open("trust40x.mtr");
    ASSERT_NE(plain, nullptr);
    const QString xsect = plain->GetField(1039);
    EXPECT_EQ(xsect, QStringLiteral("1.000000"));
    ZarnFormView *read = Open("40x_Template.mtr");
    ASSERT_NE(read, nullptr);
    // What the read list puts into the form from a 4.0A revision A meter.
    read->SetField(1049, QStringLiteral("4.0A"));
    read->SetField(1084, QStringLiteral("A"));
    Tick();
    EXPECT_EQ(read->GetField(1049), QStringLiteral("4.0A"));
    EXPECT_EQ(read->GetField(1084), QStringLiteral("A"));
    EXPECT_EQ(plain->GetField(1049), QStringLiteral("?"));
    EXPECT_EQ(plain->GetField(1084), QStringLiteral("?"));
    EXPECT_EQ(plain->GetField(1039), xsect);
    EXPECT_EQ(plain->GetField(1067), QStringLiteral("4.0x"));
    // The terminal identifies a meter: its rules are in force on every form, which is shown
    // again under them, and saving still gives back the file as it was.
    Identify(" 200 v4.0A Rev.A Meter#2");
    Tick();
    EXPECT_EQ(plain->GetField(1049), QStringLiteral("4.0A"));
    EXPECT_EQ(plain->ShownRules().revision, QStringLiteral("A"));
    EXPECT_NE(plain->GetField(1039), xsect);
    ASSERT_TRUE(plain->Save());
    EXPECT_EQ(ReadFile(QStringLiteral("trust40x.mtr")), ImageOf(kFiles[1]));
}

// Every order of the window kinds, with the meter files opened at each of the five positions
// (before, between and after the four events): saving the unedited files never changes a byte.
TEST_F(TrustTest, UneditedSaveKeepsEveryByteWhateverWasOpenedAround)
{
    struct Event
    {
        const char *name;
        std::function<void(int variant)> run;
    };
    const char *const kelvaneVersions[] = { "3.9E", "3.9G", "4.0x", "4.1A" };
    const char *const terminalLines[]
        = { " 200 v4.0A Rev.A Meter#2", " 300 v4.1A Rev.C Range#1", " 200 v3.9G Rev.B Meter#4" };
    const char *const settingsVersions[] = { "4.0x", "3.9G", ">= 4.1A" };
    const std::vector<Event> events = {
        { "Quixal", [this](int) { m_app->OnNewQuixal(); } },
        { "Kelvane",
            [&](int variant) {
                g_DocVersion = QString::fromLatin1(kelvaneVersions[variant % 4]);
                m_app->OnNewMeterForm();
            } },
        { "terminal", [&](int variant) { Identify(terminalLines[variant % 3]); } },
        { "settings",
            [&](int variant) {
                CPrefs prefs;
                prefs.SetVersion(QString::fromLatin1(settingsVersions[variant % 3]));
                g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
            } },
    };
    std::vector<int> order = { 0, 1, 2, 3 };
    int runs = 0;
    int shownInOwnLayout = 0;
    do {
        for (int openAt = 0; openAt <= 4; ++openAt) {
            const int variant = runs;
            ++runs;
            QString trace;
            for (int step = 0; step <= int(order.size()); ++step) {
                if (step == openAt) {
                    trace += QStringLiteral("open ");
                    for (const MeterFile &file : kFiles) {
                        Open(file.name);
                        Tick();
                    }
                }
                if (step < int(order.size())) {
                    trace += QString::fromLatin1(events[order[step]].name) + QLatin1Char(' ');
                    events[order[step]].run(variant + step);
                    Tick();
                }
            }
            Tick();
            for (const MeterFile &file : kFiles) {
                ZarnFormView *form = FormOf(QString::fromLatin1(file.name));
                ASSERT_NE(form, nullptr) << qPrintable(trace) << file.name;
                if (form->ShownRules().family == QLatin1String(file.family))
                    ++shownInOwnLayout;
                form->Save();
                ASSERT_EQ(ReadFile(QString::fromLatin1(file.name)), ImageOf(file)) << qPrintable(
                    trace) << file.name << " shown as " << qPrintable(form->ShownRules().family);
            }
            // A fresh start for the next order.
            m_app->DocManager()->CloseAllDocuments();
            // The events the windows posted go too: a queue left to grow over the runs makes
            // every later window's deletion search it.
            QApplication::sendPostedEvents();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            ResetGlobals();
            TestEnv::ClearPreferences();
            g_DocVersion = CPrefs().GetVersion();
        }
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(runs, 24 * 5);
    // Most opens find the layout they were written in; the others were refused a save.
    EXPECT_GT(shownInOwnLayout, runs);
}

// No field of the Kelvane form or the Modbus window shows a cut number, at the windows' own
// sizes or after Window > Tile: long numbers widen their fields, and a window smaller than its
// layout scrolls.
TEST_F(TrustTest, NoFieldShowsACutNumberAtOwnSizeOrTiled)
{
    ZarnFormView *form = Open("trust41A.mtr");
    ASSERT_NE(form, nullptr);
    m_app->OnNewModbus();
    auto *modbus = qobject_cast<Modbus *>(m_app->MainFrame()->ActiveView());
    ASSERT_NE(modbus, nullptr);
    for (int panel = 1; panel <= 8; ++panel) {
        modbus->FieldEdit(panel, Modbus::Flow)->setText(QStringLiteral("23.290295"));
        modbus->FieldEdit(panel, Modbus::Totalizer)->setText(QStringLiteral("123456.1"));
        modbus->FieldEdit(panel, Modbus::Temperature)->setText(QStringLiteral("-40.5"));
        modbus->FieldEdit(panel, Modbus::SerialNumber)->setText(QStringLiteral("20260001"));
        modbus->FieldEdit(panel, Modbus::MaxRange)->setText(QStringLiteral("-1234567.123456"));
        modbus->FieldEdit(panel, Modbus::FullScale)->setText(QStringLiteral("12345.123456"));
    }
    form->SetField(1053, QStringLiteral("-1000000000.00"));
    form->SetField(1018, QStringLiteral("-123456789.123456"));
    const auto check = [&](const char *when) {
        QApplication::processEvents();
        int fields = 0;
        for (QWidget *view : { static_cast<QWidget *>(form), static_cast<QWidget *>(modbus) }) {
            for (QLineEdit *edit : view->findChildren<QLineEdit *>()) {
                if (edit->isHidden() || edit->text().isEmpty())
                    continue;
                ++fields;
                EXPECT_GE(edit->width(), FieldWidth::Needed(edit, edit->text()))
                    << when << ": " << qPrintable(edit->text());
            }
        }
        EXPECT_GT(fields, 60) << when;
    };
    check("own size");
    const QString shots = qEnvironmentVariable("TARVIK_TRUST_SHOTS");
    if (!shots.isEmpty()) {
        m_app->DocManager()
            ->FramesOf(form->GetDocument())
            .value(0)
            ->grab()
            .save(shots + "/form.png");
        m_app->DocManager()
            ->FramesOf(modbus->GetDocument())
            .value(0)
            ->grab()
            .save(shots + "/modbus.png");
    }
    m_app->MainFrame()->findChild<QMdiArea *>()->tileSubWindows();
    check("tiled");
    if (!shots.isEmpty()) {
        m_app->MainFrame()->grab().save(shots + "/tiled.png");
        m_app->DocManager()
            ->FramesOf(modbus->GetDocument())
            .value(0)
            ->grab()
            .save(shots + "/modbus-tiled.png");
    }
}

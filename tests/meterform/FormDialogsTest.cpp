// The Kelvane form in the whole program, talking to tarvik-metersim: what the user is told and
// what becomes of the files when closing with unsaved edits, when a Save fails, when a date is
// mistyped, when a file is misread, and when files are opened, saved or the settings changed
// while a form exchanges data with the meter.
#include "meter/ZarnFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueView.h"
#include "lists/CSerialMeterLink.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"
#include "meterform/HalfWayLink.h"
#include "modbus/Modbus.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"
#include "support/TickGaps.h"
#include "terminal/TermScreen.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

// A variable of a meter file as the file holds it.
quint32 FileValue(const QString &path, const char *name, int size)
{
    CMeterDoc doc;
    if (!doc.OnOpenDocument(path) || !doc.Vars())
        return 0xFFFFFFFFu;
    return doc.Vars()->Value(QString::fromLatin1(name), size);
}

// The colour most of a widget's inside shows (its text is the smaller part).
QRgb Background(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    QHash<QRgb, int> counts;
    for (int y = 4; y < image.height() - 4; ++y)
        for (int x = 4; x < image.width() - 4; ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return best;
}

class FormDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        // The sends here are the list alone, without the reads around it.
        AuditSettings::SetCompareBeforeSend(false);
        AuditSettings::SetReadBackAfterSend(false);
        QDir::setCurrent(TestEnv::WorkDir());
        m_simImage = QDir::current().filePath(QStringLiteral("dialogs-sim.mtr"));
        QFile::remove(m_simImage);
        m_sim.start(TestEnv::MeterSimPath(),
            { QStringLiteral("--firmware"), QStringLiteral("4.1A"), QStringLiteral("--serial"),
                QStringLiteral("31415"), QStringLiteral("--range"), QStringLiteral("2"),
                QStringLiteral("--interval"), QStringLiteral("600000"), QStringLiteral("--image"),
                m_simImage, QStringLiteral("--data-dir"), TestEnv::DataDir() });
        ASSERT_TRUE(m_sim.waitForStarted(5000));
        ASSERT_TRUE(m_sim.waitForReadyRead(5000));
        const QString pty = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
        ASSERT_FALSE(pty.isEmpty());
        {
            auto store = CPrefs::OpenStore();
            store->setValue(QStringLiteral("Port/COM"), pty);
            store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        }
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        m_oldPrompt = CDocManager::SetSavePrompt([this](QWidget *, const QString &title) {
            m_prompted.append(title);
            return m_answer;
        });
        LinkTiming timing;
        timing.pacingScale = 0.04; // 1 ms per command byte
        m_app = std::make_unique<CTarvikApp>(timing, false);
        ASSERT_TRUE(m_app->InitInstance());
        m_app->MainFrame()->resize(1366, 900);
        m_app->MainFrame()->show();
        ASSERT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
        m_template = ReadFile(QStringLiteral("41A_Template.mtr"));
        ASSERT_FALSE(m_template.isEmpty());
    }

    void TearDown() override
    {
        m_answer = QMessageBox::Discard;
        ZarnFormView::SetMeterLink(nullptr);
        m_app.reset();
        CDocManager::SetSavePrompt(m_oldPrompt);
        UserMessage::SetHandler(m_oldHandler);
        m_sim.kill();
        m_sim.waitForFinished(5000);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    CMainFrame *Frame() const { return m_app->MainFrame(); }

    ZarnFormView *FormOf(const QString &fileName) const
    {
        for (CDocument *doc : m_app->DocManager()->Documents())
            for (CChildFrame *frame : m_app->DocManager()->FramesOf(doc))
                if (auto *form = qobject_cast<ZarnFormView *>(frame->View()))
                    if (QFileInfo(doc->PathName()).fileName() == fileName)
                        return form;
        return nullptr;
    }

    ZarnFormView *Open(const QString &fileName)
    {
        m_app->DocManager()->OpenDocumentFile(fileName);
        return FormOf(fileName);
    }

    static CChildFrame *FrameOf(ZarnFormView *form)
    {
        return qobject_cast<CChildFrame *>(form->parentWidget());
    }

    // The user types text into a field (the keys mark the document edited) and leaves it.
    static void Type(ZarnFormView *form, int id, const QString &text)
    {
        auto *edit = qobject_cast<QLineEdit *>(form->Control(id));
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }

    // Runs the event loop until the form's list has stopped: 1, 0 when none ran, -1 when it
    // never stopped.
    static int RunList(ZarnFormView *form, int timerId)
    {
        if (form->RunningList() != timerId)
            return 0;
        return TestEnv::WaitUntil([&] { return form->RunningList() != timerId; }) ? 1 : -1;
    }
    // Runs the event loop until the form's list has reached its line at index (or stopped).
    static void RunToLine(ZarnFormView *form, int timerId, int index)
    {
        TestEnv::WaitUntil([&] {
            return form->RunningList() != timerId || !form->Runner()
                || form->Runner()->LineIndex() >= index;
        });
    }

    void TickClocks()
    {
        for (CDocument *doc : m_app->DocManager()->Documents())
            for (CChildFrame *frame : m_app->DocManager()->FramesOf(doc))
                if (auto *form = qobject_cast<ZarnFormView *>(frame->View()))
                    form->TimerTick(ZarnFormView::kClockTimer);
    }

    void Settle() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QProcess m_sim;
    QString m_simImage;
    QByteArray m_template;
    std::unique_ptr<CTarvikApp> m_app;
    QStringList m_messages;
    QStringList m_prompted;
    int m_answer = QMessageBox::Discard;
    UserMessage::Handler m_oldHandler;
    CDocManager::SavePrompt m_oldPrompt;
};

} // namespace

// Closing a form with unsaved edits, or leaving the program, asks once; Save writes the edits
// and closes, Discard drops them and closes, Cancel keeps the window and its edits, and the file
// is touched by Save only.
TEST_F(FormDialogs, CloseAndLeaveAskAndEachAnswerDoesWhatItSays)
{
    const struct
    {
        int answer;
        bool leave; // leave the program rather than close the form
    } cases[] = {
        { QMessageBox::Save, false },
        { QMessageBox::Discard, false },
        { QMessageBox::Cancel, false },
        { QMessageBox::Save, true },
        { QMessageBox::Discard, true },
        { QMessageBox::Cancel, true },
    };
    const QString name = QStringLiteral("prompt41A.mtr");
    for (const auto &c : cases) {
        const std::string what = std::to_string(c.answer) + (c.leave ? " leaving" : " closing");
        WriteFile(name, m_template);
        Frame()->show();
        ZarnFormView *form = Open(name);
        ASSERT_NE(form, nullptr) << what;
        Type(form, 1048, QStringLiteral("777777"));
        ASSERT_TRUE(form->GetDocument()->IsModified()) << what;
        m_prompted.clear();
        m_messages.clear();
        m_answer = c.answer;
        if (c.leave)
            Frame()->close();
        else
            FrameOf(form)->close();
        Settle();
        EXPECT_EQ(m_prompted, QStringList { name }) << what;
        EXPECT_TRUE(m_messages.isEmpty()) << what << qPrintable(m_messages.join(QLatin1Char('|')));
        ZarnFormView *after = FormOf(name);
        if (c.answer == QMessageBox::Cancel) {
            ASSERT_EQ(after, form) << what << ": the window stays";
            EXPECT_EQ(form->GetField(1048), QStringLiteral("777777")) << what << ": with its edit";
            EXPECT_EQ(ReadFile(name), m_template) << what;
            if (c.leave) {
                EXPECT_TRUE(Frame()->isVisible()) << what << ": the program stays";
            }
            m_answer = QMessageBox::Discard;
            FrameOf(form)->close();
            Settle();
        } else {
            EXPECT_EQ(after, nullptr) << what << ": the window has closed";
            if (c.answer == QMessageBox::Save) {
                EXPECT_EQ(FileValue(name, "serial_num", 4), 777777u) << what;
            } else {
                EXPECT_EQ(ReadFile(name), m_template) << what;
            }
        }
        EXPECT_TRUE(m_app->DocManager()->Documents().isEmpty()) << what;
    }
}

// A Save that cannot write says so once, whether it came from File > Save or from the answer
// to the closing question; the window and its edits stay.
TEST_F(FormDialogs, FailedSaveSaysItOnceAndKeepsTheWindow)
{
    WriteFile(QStringLiteral("fail41A.mtr"), m_template);
    ZarnFormView *form = Open(QStringLiteral("fail41A.mtr"));
    ASSERT_NE(form, nullptr);
    Type(form, 1048, QStringLiteral("555555"));
    const QString unwritable
        = QDir::current().filePath(QStringLiteral("no-such-folder/fail41A.mtr"));
    form->GetDocument()->SetPathName(unwritable);
    const std::vector<std::pair<const char *, std::function<void()>>> ways = {
        { "File > Save", [&] { Frame()->Action(QStringLiteral("file_save"))->trigger(); } },
        { "closing, Save",
            [&] {
                m_answer = QMessageBox::Save;
                FrameOf(form)->close();
            } },
        { "leaving, Save",
            [&] {
                m_answer = QMessageBox::Save;
                Frame()->close();
            } },
    };
    for (const auto &[way, run] : ways) {
        m_messages.clear();
        run();
        Settle();
        ASSERT_EQ(m_messages.size(), 1)
            << way << ": " << qPrintable(m_messages.join(QLatin1Char('|')));
        EXPECT_TRUE(m_messages.first().startsWith(QStringLiteral("Could not save"))) << way;
        ASSERT_EQ(FormOf(QStringLiteral("fail41A.mtr")), form) << way << ": the window stays";
        EXPECT_EQ(form->GetField(1048), QStringLiteral("555555")) << way;
        EXPECT_TRUE(form->GetDocument()->IsModified()) << way;
    }
    EXPECT_FALSE(QFileInfo::exists(unwritable));
    EXPECT_EQ(ReadFile(QStringLiteral("fail41A.mtr")), m_template);
}

// "Calibration Due" takes a month-first or a day-first date; any other text is refused with a
// message when the field is left, the date before it comes back, and Save stores that date.
TEST_F(FormDialogs, CalibrationDueRefusesWhatIsNoDate)
{
    WriteFile(QStringLiteral("cal41A.mtr"), m_template);
    ZarnFormView *form = Open(QStringLiteral("cal41A.mtr"));
    ASSERT_NE(form, nullptr);
    const struct
    {
        const char *typed;
        const char *shown; // what the field holds after it is left
    } cases[] = {
        { "12/25/27", "12/25/27" },
        { "next year", "12/25/27" },
        { "25.11.27", "25.11.27" },
        { "11/45/27", "25.11.27" },
        { "13.13.13.13", "25.11.27" },
    };
    for (const auto &c : cases) {
        m_messages.clear();
        Type(form, 1054, QString::fromLatin1(c.typed));
        EXPECT_EQ(form->GetField(1054), QString::fromLatin1(c.shown)) << c.typed;
        const bool refused = QLatin1String(c.typed) != QLatin1String(c.shown);
        if (refused) {
            ASSERT_EQ(m_messages.size(), 1) << c.typed;
            EXPECT_TRUE(m_messages.first().startsWith(
                QStringLiteral("\"%1\" is not a calibration date.").arg(QLatin1String(c.typed))))
                << qPrintable(m_messages.first());
            EXPECT_TRUE(
                m_messages.first().contains(QStringLiteral("The date stored before is kept.")));
        } else {
            EXPECT_TRUE(m_messages.isEmpty()) << c.typed;
        }
    }
    ASSERT_TRUE(form->Save());
    FrameOf(form)->close();
    Settle();
    ZarnFormView *again = Open(QStringLiteral("cal41A.mtr"));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->GetField(1054), QStringLiteral("11/25/27"));
}

// A misread file's warning names what chose the layout: the meter the terminal identified
// (then changing the settings would not help), a version some window set, or the settings.
TEST_F(FormDialogs, MisreadWarningNamesWhatChoseTheLayout)
{
    WriteFile(QStringLiteral("misread41A.mtr"), m_template);
    const struct
    {
        const char *what;
        const char *settings;
        const char *inForce; // g_DocVersion when the file is opened
        const char *identified; // the terminal's identification line, or none
        const char *says;
        bool tellsToUseSettings;
    } cases[] = {
        { "meter", "4.0x", "4.0x", " 200 v4.0A Rev.A Meter#2",
            "The layout in force follows the meter identified in the terminal (firmware 4.0A), not "
            "the settings.",
            false },
        { "window", "4.1A", "4.0x", nullptr,
            "The firmware version in force (4.0x) was set by the last meter window opened or meter "
            "read, "
            "not by the settings (4.1A).",
            true },
        { "settings", "4.0x", "4.0x", nullptr, "but the settings select the firmware version 4.0x.",
            true },
    };
    for (const auto &c : cases) {
        ResetGlobals();
        {
            CPrefs prefs;
            prefs.SetVersion(QString::fromLatin1(c.settings));
            g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
        }
        g_DocVersion = QString::fromLatin1(c.inForce);
        if (c.identified) {
            const QByteArray screen = QByteArray(77, ' ') + QByteArray(c.identified);
            TermScreen::ScanIdentification(screen, AppServices::Meter());
        }
        m_messages.clear();
        ZarnFormView *form = Open(QStringLiteral("misread41A.mtr"));
        ASSERT_NE(form, nullptr) << c.what;
        ASSERT_EQ(m_messages.size(), 1) << c.what;
        const QString &text = m_messages.first();
        EXPECT_TRUE(text.startsWith(
            QStringLiteral("misread41A.mtr does not fit the meter layout in force")))
            << c.what << ": " << qPrintable(text);
        EXPECT_TRUE(text.contains(QString::fromLatin1(c.says)))
            << c.what << ": " << qPrintable(text);
        EXPECT_EQ(text.contains(QStringLiteral("in the settings and open the file again")),
            c.tellsToUseSettings)
            << c.what << ": " << qPrintable(text);
        EXPECT_TRUE(text.contains(QStringLiteral("[4.1A]")))
            << c.what << ": names the file's layout";
        // The misread file is not saved over.
        m_messages.clear();
        EXPECT_FALSE(form->Save()) << c.what;
        EXPECT_EQ(ReadFile(QStringLiteral("misread41A.mtr")), m_template) << c.what;
        m_app->DocManager()->CloseAllDocuments();
        Settle();
    }
}

// Read-only fields show the window's background, fields the user can type into the white of an
// entry field, on the Kelvane form (under both version rules), the Quixal form and the Modbus
// window.
TEST_F(FormDialogs, ReadOnlyFieldsLookReadOnly)
{
    WriteFile(QStringLiteral("look39G.mtr"), ReadFile(QStringLiteral("39G_Template.mtr")));
    WriteFile(QStringLiteral("look41A.mtr"), m_template);
    Open(QStringLiteral("look41A.mtr"));
    {
        CPrefs prefs;
        prefs.SetVersion(QStringLiteral("3.9G"));
        g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
    }
    Open(QStringLiteral("look39G.mtr"));
    TickClocks();
    m_app->OnNewQuixal();
    m_app->OnNewModbus();
    QApplication::processEvents();
    int readOnly = 0;
    int writable = 0;
    for (QMdiSubWindow *window : Frame()->MdiArea()->subWindowList()) {
        auto *frame = qobject_cast<CChildFrame *>(window);
        ASSERT_NE(frame, nullptr);
        frame->showMaximized();
        QApplication::processEvents();
        const QRgb windowColour = frame->View()->palette().color(QPalette::Window).rgb();
        for (QLineEdit *edit : frame->View()->findChildren<QLineEdit *>()) {
            if (!edit->isVisibleTo(frame) || edit->height() < 12 || edit->width() < 12)
                continue;
            const QRgb shown = Background(edit);
            if (edit->isReadOnly()) {
                ++readOnly;
                EXPECT_EQ(shown, windowColour)
                    << qPrintable(frame->windowTitle()) << " read-only field "
                    << qPrintable(edit->objectName());
            } else if (edit->isEnabled()) {
                ++writable;
                EXPECT_NE(shown, windowColour)
                    << qPrintable(frame->windowTitle()) << " writable field "
                    << qPrintable(edit->objectName());
            }
        }
        frame->showNormal();
    }
    EXPECT_GE(readOnly, 10);
    EXPECT_GE(writable, 40);
}

// Against the simulated meter: a meter file opened while a form is mid-read, a Save while a
// Send runs, and the settings changed while a read runs damage no file and leave no form
// half-collected.
TEST_F(FormDialogs, FilesAndFormsSurviveWhatHappensDuringAnExchange)
{
    WriteFile(QStringLiteral("bystander41A.mtr"), m_template);
    m_app->OnNewMeterForm();
    auto *reader = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(reader, nullptr);

    // 1. Another meter file opens while the read is half way (the version answer is in); a
    // picture of the program then for whoever asked for one.
    const QString shots = qEnvironmentVariable("TARVIK_TRUST_SHOTS");
    reader->OnReadActive();
    RunToLine(reader, ZarnFormView::kReadTimer, 7);
    ASSERT_EQ(reader->RunningList(), ZarnFormView::kReadTimer);
    if (!shots.isEmpty())
        Frame()->grab().save(shots + QStringLiteral("/read-progress-program.png"));
    ZarnFormView *bystander = Open(QStringLiteral("bystander41A.mtr"));
    ASSERT_NE(bystander, nullptr);
    const QString bystanderSerial = bystander->GetField(1048);
    ASSERT_GT(RunList(reader, ZarnFormView::kReadTimer), 0);
    TickClocks();
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
    EXPECT_EQ(reader->GetField(1048), QStringLiteral("31415"));
    EXPECT_EQ(reader->GetDocument()->Title(), QStringLiteral("31415_2"));
    EXPECT_EQ(bystander->GetField(1048), bystanderSerial);
    ASSERT_TRUE(bystander->Save());
    EXPECT_EQ(ReadFile(QStringLiteral("bystander41A.mtr")), m_template);

    // 2. Save on the sending form, and on another form, while the Send runs.
    Type(reader, 1012, QStringLiteral("2500"));
    // Half way through the image, a picture of the program for whoever asked for one.
    CSerialMeterLink appLink(CTarvikApp::MeterLink());
    HalfWayLink halfWay(&appLink, [&] {
        if (!shots.isEmpty())
            Frame()->grab().save(shots + QStringLiteral("/send-progress-program.png"));
    });
    ZarnFormView::SetMeterLink(&halfWay);
    reader->OnSendActive();
    RunToLine(reader, ZarnFormView::kSendTimer, 3);
    ASSERT_EQ(reader->RunningList(), ZarnFormView::kSendTimer);
    m_messages.clear();
    EXPECT_FALSE(reader->Save());
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().startsWith(QStringLiteral("A command list is exchanging data")));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("31415_2.mtr")));
    Type(bystander, 1011, QStringLiteral("1234"));
    ASSERT_TRUE(bystander->Save());
    EXPECT_EQ(FileValue(QStringLiteral("bystander41A.mtr"), "evalue[1]", 4), 1234u);
    m_messages.clear();
    ASSERT_GT(RunList(reader, ZarnFormView::kSendTimer), 0);
    ZarnFormView::SetMeterLink(nullptr);
    EXPECT_EQ(m_messages,
        QStringList { QStringLiteral("The meter acknowledged the configuration (not read back)") });
    EXPECT_EQ(FileValue(m_simImage, "evalue[2]", 4), 2500u);
    EXPECT_EQ(FileValue(m_simImage, "evalue[1]", 4),
        FileValue(QStringLiteral("41A_Template.mtr"), "evalue[1]", 4))
        << "the other form's edit went nowhere near the meter";
    ASSERT_TRUE(reader->Save());
    EXPECT_EQ(FileValue(QStringLiteral("31415_2.mtr"), "evalue[2]", 4), 2500u);
    const QByteArray saved = ReadFile(QStringLiteral("31415_2.mtr"));

    // 3. The settings choose another version while a read runs.
    m_messages.clear();
    reader->OnReadActive();
    RunToLine(reader, ZarnFormView::kReadTimer, 2);
    {
        CPrefs prefs;
        prefs.SetVersion(QStringLiteral("3.9G"));
        g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
    }
    TickClocks();
    ASSERT_GT(RunList(reader, ZarnFormView::kReadTimer), 0);
    TickClocks();
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
    EXPECT_EQ(reader->GetField(1012), QStringLiteral("2500"));
    EXPECT_EQ(reader->GetField(1048), QStringLiteral("31415"));
    ASSERT_TRUE(reader->Save());
    EXPECT_EQ(ReadFile(QStringLiteral("31415_2.mtr")), saved) << "read back and saved unchanged";
    ASSERT_TRUE(bystander->Save());
    EXPECT_EQ(FileValue(QStringLiteral("bystander41A.mtr"), "evalue[1]", 4), 1234u);
    EXPECT_EQ(FileValue(QStringLiteral("bystander41A.mtr"), "serial_num", 4),
        FileValue(QStringLiteral("41A_Template.mtr"), "serial_num", 4));
}

// Against the simulated meter at the program's real pacing: a Read and a Send keep the window
// responsive and show their progress, Cancel and a closed window end a read without applying
// half of it, a second list waits its turn with a word, and a port that is not open is said at
// once.
TEST_F(FormDialogs, ExchangesLeaveTheWindowResponsiveAndCancelCleanly)
{
    m_app->OnNewMeterForm();
    auto *form = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(form, nullptr);
    TickGaps ticks; // while the lists run

    // Cancel half way: the form and its document stay as they were, the port is free at once.
    const QString before = form->GetField(1048);
    const QString image = qobject_cast<CMeterDoc *>(form->GetDocument())->ImageToText();
    form->OnReadActive();
    CQueView *runner = form->Runner();
    ASSERT_NE(runner, nullptr);
    EXPECT_TRUE(CTarvikApp::MeterLink()->IsClaimed());
    RunToLine(form, ZarnFormView::kReadTimer, 4);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return runner->IsWaiting(); }, 5000));
    runner->CancelButton()->click();
    ASSERT_TRUE(TestEnv::WaitUntil(
        [&] { return form->RunningList() != ZarnFormView::kReadTimer; }, 250 + 500));
    // The run-mode command that winds the meter up holds the port only while it goes out.
    EXPECT_TRUE(TestEnv::WaitUntil([] { return !CTarvikApp::MeterLink()->IsClaimed(); }, 1000));
    EXPECT_EQ(form->GetField(1048), before);
    EXPECT_EQ(qobject_cast<CMeterDoc *>(form->GetDocument())->ImageToText(), image);

    // A whole read, with a second list pressed while it runs.
    m_messages.clear();
    form->OnReadActive();
    RunToLine(form, ZarnFormView::kReadTimer, 2);
    form->OnSendActive();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().startsWith(QStringLiteral("A command list is exchanging data")));
    EXPECT_NE(form->RunningList(), ZarnFormView::kSendTimer);
    m_messages.clear();
    ASSERT_EQ(RunList(form, ZarnFormView::kReadTimer), 1);
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
    EXPECT_EQ(form->GetField(1048), QStringLiteral("31415"));

    // A Send, with the bar measuring its bytes, then the meter's word.
    Type(form, 1012, QStringLiteral("2600"));
    form->OnSendActive();
    int barMax = 0;
    TestEnv::WaitUntil([&] {
        if (form->Runner())
            barMax = std::max(barMax, form->Runner()->ProgressBar()->maximum());
        return form->RunningList() != ZarnFormView::kSendTimer;
    });
    EXPECT_GT(barMax, 100) << "a long send measures its bytes";
    EXPECT_EQ(m_messages,
        QStringList { QStringLiteral("The meter acknowledged the configuration (not read back)") });
    EXPECT_EQ(FileValue(m_simImage, "evalue[2]", 4), 2600u);
    EXPECT_LT(ticks.LongestMs(), 1000) << "the event loop kept ticking";

    // A window closed while its read waits on the meter: nothing resumes into it, the port is
    // free, and another form reads.
    form->OnReadActive();
    RunToLine(form, ZarnFormView::kReadTimer, 4);
    m_answer = QMessageBox::Discard;
    FrameOf(form)->close();
    Settle();
    EXPECT_TRUE(TestEnv::WaitUntil([] { return !CTarvikApp::MeterLink()->IsClaimed(); }));
    m_app->OnNewMeterForm();
    auto *second = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(second, nullptr);
    second->OnReadActive();
    ASSERT_EQ(RunList(second, ZarnFormView::kReadTimer), 1);
    EXPECT_EQ(second->GetField(1048), QStringLiteral("31415"));

    // A port that is not open: said at once, with its name, and no list window opens.
    CTarvikApp::MeterLink()->ClosePort();
    m_messages.clear();
    QElapsedTimer clock;
    clock.start();
    second->OnReadActive();
    EXPECT_LT(clock.elapsed(), 250);
    EXPECT_EQ(second->Runner(), nullptr);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().contains(CTarvikApp::MeterLink()->PortText()));
}

// The form's Save and Read Active are lines of the audit trail, with the meter and the file.
TEST_F(FormDialogs, SaveAndReadAreLinesOfTheAuditTrail)
{
    QFile::remove(AuditSettings::TrailPath());
    WriteFile(QStringLiteral("audit41A.mtr"), m_template);
    ZarnFormView *form = Open(QStringLiteral("audit41A.mtr"));
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(form->Save());
    // Not read yet, the meter on the port is unknown: Send asks first, and No sends nothing.
    QStringList asked;
    const auto oldAsk = UserMessage::SetAskHandler(
        [&asked](const QString &text, const QString &) { return asked << text, false; });
    form->OnSendActive();
    UserMessage::SetAskHandler(oldAsk);
    EXPECT_EQ(form->Runner(), nullptr);
    EXPECT_TRUE(asked.value(0).contains(QStringLiteral("(serial number not read)")));
    form->OnReadActive();
    ASSERT_TRUE(
        TestEnv::WaitUntil([&] { return form->RunningList() != ZarnFormView::kReadTimer; }));
    const AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
    QFile::remove(AuditSettings::TrailPath());
    ASSERT_EQ(trail.records.size(), 2u);
    const AuditRecord &save = trail.records[0];
    EXPECT_EQ(save.action, QStringLiteral("save"));
    EXPECT_EQ(save.result, QStringLiteral("ok"));
    EXPECT_EQ(save.file, QFileInfo(QStringLiteral("audit41A.mtr")).absoluteFilePath());
    EXPECT_EQ(save.sha256, AuditLog::Sha256Of(QStringLiteral("audit41A.mtr")));
    EXPECT_EQ(save.series, QStringLiteral("Kelvane"));
    EXPECT_EQ(save.operatorName, QStringLiteral("Anon"));
    const AuditRecord &read = trail.records[1];
    EXPECT_EQ(read.action, QStringLiteral("read"));
    EXPECT_EQ(read.result, QStringLiteral("ok"));
    EXPECT_EQ(read.serial, QStringLiteral("31415"));
    EXPECT_TRUE(read.firmware.contains(QStringLiteral("4.1A"))) << qPrintable(read.firmware);

    // Save (Ctrl+S) of the file the read named lists it among the recent files as Save As
    // does; the send's success comes as information, not as a warning.
    QStringList informed;
    const auto oldInform = UserMessage::SetInformHandler(
        [&informed](const QString &text, const QString &) { informed << text; });
    Frame()->Action(QStringLiteral("file_save"))->trigger();
    EXPECT_EQ(m_app->DocManager()->RecentFiles().value(0),
        QFileInfo(QStringLiteral("31415_2.mtr")).absoluteFilePath());
    form->OnSendActive();
    EXPECT_EQ(RunList(form, ZarnFormView::kSendTimer), 1);
    UserMessage::SetInformHandler(oldInform);
    EXPECT_EQ(informed,
        QStringList { QStringLiteral("The meter acknowledged the configuration (not read back)") });

    // The save names the firmware as the read and send do; a read into a New form, no file.
    m_app->OnNewMeterForm();
    auto *fresh = qobject_cast<ZarnFormView *>(Frame()->ActiveView());
    ASSERT_NE(fresh, nullptr);
    fresh->OnReadActive();
    ASSERT_EQ(RunList(fresh, ZarnFormView::kReadTimer), 1);
    const std::vector<AuditRecord> lines = AuditLog(AuditSettings::TrailPath()).Load().records;
    ASSERT_GE(lines.size(), 3u);
    const AuditRecord &saved = lines.front(), &sent = lines[lines.size() - 2],
                      &fromTemplate = lines.back();
    EXPECT_EQ(
        (QStringList { saved.action, saved.firmware, sent.action, sent.firmware, read.firmware }),
        (QStringList { "save", "4.1A", "send", "4.1A", "4.1A" }));
    EXPECT_EQ((QStringList { fromTemplate.action, fromTemplate.series, fromTemplate.serial,
                  fromTemplate.file, fromTemplate.sha256 }),
        (QStringList { "read", "Kelvane", "31415", "", "" }));
}

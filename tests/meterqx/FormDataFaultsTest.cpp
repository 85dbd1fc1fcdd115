// Nothing read, typed or saved is lost or misreported: the meter forms against simulated meters
// of both series, files of the other series or of no layout, and the windows at Exit.
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace QXFieldId;

void RunList(ZarnFormBase *form, int timerId)
{
    TestEnv::WaitUntil([&] { return form->RunningList() != timerId; });
}

// The program on a simulated meter of `series` (none: no port), messages and questions recorded.
struct Program
{
    QStringList messages, questions;
    bool answer = true;
    QProcess sim;
    std::unique_ptr<CTarvikApp> app;

    Program(const char *series, const char *firmware, const char *serial = "55501",
        const char *version = ">= 4.1A")
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        // The sends here are the list alone, without the reads around it.
        AuditSettings::SetCompareBeforeSend(false);
        AuditSettings::SetReadBackAfterSend(false);
        TestEnv::ReseedWorkDir();
        QDir::setCurrent(TestEnv::WorkDir());
        UserMessage::SetHandler([this](const QString &text, const QString &) { messages << text; });
        UserMessage::SetAskHandler([this](const QString &text, const QString &) {
            questions << text;
            return answer;
        });
        QString port = QStringLiteral("/nonexistent/tty");
        if (series) {
            sim.start(TestEnv::MeterSimPath(),
                { "--series", series, "--firmware", firmware, "--serial", serial, "--range", "1",
                    "--interval", "600000", "--data-dir", TestEnv::DataDir() });
            sim.waitForReadyRead(5000);
            port = QString::fromLocal8Bit(sim.readLine()).trimmed();
        }
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), port);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QLatin1String(version));
        store.reset();
        LinkTiming timing;
        timing.pacingScale = 0.04;
        app = std::make_unique<CTarvikApp>(timing, false);
        app->InitInstance();
        messages.clear();
    }
    ~Program()
    {
        CDocManager::SetSavePrompt(nullptr);
        ZarnFormBase::SetSaveAsPrompt(nullptr);
        for (CDocument *doc : app->DocManager()->Documents())
            doc->SetModifiedFlag(false);
        app.reset();
        sim.kill();
        sim.waitForFinished(5000);
        UserMessage::SetHandler(nullptr);
        UserMessage::SetAskHandler(nullptr);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }
    template <class Form> Form *Newest() const
    {
        const QList<CDocument *> docs = app->DocManager()->Documents();
        return qobject_cast<Form *>(app->DocManager()->FramesOf(docs.last()).first()->View());
    }
    int Windows() const { return int(app->MainFrame()->MdiArea()->subWindowList().size()); }
};

// Picks units index and back: the value shown before comes back when each pick converts from
// the units the form shows (its document's context is left at other units first).
QString UnitsThereAndBack(ZarnFormBase *form, int unitsId, int index)
{
    auto *units = qobject_cast<QComboBox *>(form->Control(unitsId));
    if (auto *doc = qobject_cast<CMeterDoc *>(form->GetDocument()))
        doc->Context().units = 7;
    for (int pick : { index, units->currentIndex() }) {
        units->setCurrentIndex(pick);
        Q_EMIT units->activated(pick);
    }
    return form->GetField(1038);
}

TEST(FormData, AReadOfTheOtherSeriesTakesNothingAndNamesTheMeter)
{
    const struct
    {
        const char *series, *firmware;
        bool quixalForm;
        const char *says;
        bool besideOther = false; // a form of the other series, on its own firmware, open too
    } rows[] = {
        { "kelvane", "3.9G", true, "Kelvane meter (firmware 3.9G)" },
        { "kelvane", "4.1A", true, "Kelvane meter (firmware 4.1A)" },
        { "quixal", "1.4A", false, "Quixal meter (firmware 1.4A)" },
        { "kelvane", "3.9G", true, "Kelvane meter (firmware 3.9G)", true },
        { "quixal", "1.4A", false, "Quixal meter (firmware 1.4A)", true },
    };
    for (const auto &row : rows) {
        Program program(row.series, row.firmware);
        // The other form keeps its own layout, meter and fields through this form's read.
        const auto otherState = [](ZarnFormBase *other) {
            auto *doc = other ? qobject_cast<CMeterDoc *>(other->GetDocument()) : nullptr;
            return doc ? QStringList { doc->Vars()->SectionName(), doc->MeterVersion(),
                doc->ImageToText(), other->GetField(1049), other->GetField(1048) }
                       : QStringList();
        };
        ZarnFormBase *other = nullptr;
        if (row.besideOther) {
            row.quixalForm ? program.app->OnNewMeterForm() : program.app->OnNewQuixal();
            other = program.Newest<ZarnFormBase>();
        }
        const QStringList otherBefore = otherState(other);
        ASSERT_EQ(otherBefore.isEmpty(), !row.besideOther) << row.firmware;
        row.quixalForm ? program.app->OnNewQuixal() : program.app->OnNewMeterForm();
        auto *form = program.Newest<ZarnFormBase>();
        auto *doc = qobject_cast<CMeterDoc *>(form->GetDocument());
        const QStringList before = { doc->Title(), doc->ImageToText(), doc->Context().version,
            form->GetField(1048), form->GetField(1049) };
        auto *qx = qobject_cast<ZarnQXFormView *>(form);
        qx ? qx->OnRead() : qobject_cast<ZarnFormView *>(form)->OnReadActive();
        RunList(form, ZarnFormBase::kReadTimer);
        form->TimerTick(ZarnFormBase::kClockTimer);
        ASSERT_EQ(program.messages.size(), 1) << row.firmware;
        EXPECT_TRUE(program.messages.first().contains(QLatin1String(row.says))) << row.firmware;
        EXPECT_EQ(before,
            QStringList({ doc->Title(), doc->ImageToText(), doc->Context().version,
                form->GetField(1048), form->GetField(1049) }))
            << row.firmware;
        EXPECT_FALSE(doc->IsModified()) << row.firmware;
        if (other)
            other->TimerTick(ZarnFormBase::kClockTimer);
        EXPECT_EQ(otherState(other), otherBefore) << row.firmware;
    }
}

TEST(FormData, TheQuixalFormKeepsWhatWasReadTypedAndSaved)
{
    // A serial number longer than its field, and the stored default version "4.0A".
    Program program("quixal", "1.4A", "123456789", "4.0A");
    const QByteArray quixalTemplate = ReadFile(QStringLiteral("Quixal.qxm"));
    program.app->OnNewQuixal();
    auto *form = program.Newest<ZarnQXFormView>();
    auto *doc = qobject_cast<QXMeterDoc *>(form->GetDocument());

    // A read says once that the serial number is long, and is an unsaved edit; Send and Save
    // collect it again without a word.
    form->OnRead();
    RunList(form, ZarnFormBase::kReadTimer);
    EXPECT_EQ(program.messages.size(), 1);
    EXPECT_TRUE(doc->IsModified());
    form->OnSend();
    RunList(form, ZarnFormBase::kSendTimer);
    ASSERT_TRUE(form->Save());
    EXPECT_EQ(program.messages.size(), 2) << qPrintable(program.messages.join(QLatin1Char('|')));
    EXPECT_EQ(QFileInfo(doc->PathName()).fileName(), QStringLiteral("123456789_1.qxm"));
    EXPECT_EQ(ReadFile(QStringLiteral("Quixal.qxm")), quixalTemplate);

    const QString maxRange = form->GetField(MaxRange);
    EXPECT_EQ(UnitsThereAndBack(form, Units, 1), maxRange);
    EXPECT_TRUE(doc->IsModified());

    // Convert to "4.0A", which varsQX.dat lacks: refused with a word (a prompt shown would be
    // dismissed, converting nothing).
    program.messages.clear();
    const QString image = doc->ImageToText();
    QTimer::singleShot(0, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    form->OnCommand(AppCommand::Convert);
    EXPECT_EQ(doc->ImageToText(), image);
    ASSERT_EQ(program.messages.size(), 1);
    EXPECT_TRUE(program.messages.first().contains(QStringLiteral("4.0A")));

    // Typing is an unsaved edit: Read asks before replacing it, closing asks to save.
    ASSERT_TRUE(form->Save());
    auto *password = qobject_cast<QLineEdit *>(form->Control(Password));
    password->selectAll();
    QTest::keyClicks(password, QStringLiteral("4660"));
    program.answer = false;
    form->OnRead();
    EXPECT_EQ(program.questions.size(), 1);
    EXPECT_EQ(form->Runner(), nullptr);
    int asked = 0;
    CDocManager::SetSavePrompt([&asked](QWidget *, const QString &) {
        ++asked;
        return int(QMessageBox::Cancel);
    });
    program.app->DocManager()->FramesOf(doc).first()->close();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(password->text(), QStringLiteral("4660"));

    // Files of no layout (a newer firmware, say) or of the other series open with a warning and
    // are never saved over.
    const QByteArray noLayout = QByteArray("11 ").repeated(300);
    const std::pair<const char *, QByteArray> files[]
        = { { "nolayout.qxm", noLayout }, { "nolayout.mtr", noLayout },
              { "kelvane.qxm", ReadFile("41A_Template.mtr") }, { "quixal.mtr", quixalTemplate } };
    for (const auto &[name, bytes] : files) {
        WriteFile(QLatin1String(name), bytes);
        program.messages.clear();
        CDocument *opened = program.app->DocManager()->OpenDocumentFile(QLatin1String(name));
        ASSERT_NE(opened, nullptr) << name;
        EXPECT_EQ(program.messages.size(), 1) << name;
        EXPECT_FALSE(program.Newest<ZarnFormBase>()->Save()) << name;
        EXPECT_EQ(program.messages.size(), 2) << name;
        EXPECT_EQ(ReadFile(QLatin1String(name)), bytes) << name;
    }
}

TEST(FormData, TheKelvaneFormAndTheWindowsAroundIt)
{
    Program program("kelvane", "4.1A");
    program.app->OnNewDatalog();
    auto *datalog = program.Newest<Datalog>();
    program.app->OnNewMeterForm();
    auto *form = program.Newest<ZarnFormView>();
    auto *second = qobject_cast<ZarnFormView *>(
        program.app->DocManager()->NewWindow(form->GetDocument())->View());
    ASSERT_EQ(program.Windows(), 3);

    // Save right after K asks for a name: the template stays.
    const QByteArray kelvaneTemplate = ReadFile(QStringLiteral("41A_Template.mtr"));
    form->SetField(1045, QStringLiteral("4321"));
    int named = 0;
    ZarnFormBase::SetSaveAsPrompt([&named](QWidget *, const QString &) {
        ++named;
        return QString();
    });
    form->Save();
    EXPECT_EQ(named, 1);
    EXPECT_EQ(ReadFile(QStringLiteral("41A_Template.mtr")), kelvaneTemplate);

    // Change says why it cannot run before the active range is known. After a read and a
    // change, the form shows the new range, whichever clock ticks first; the terminal's old
    // identification does not undo it, a newer range does.
    form->SetField(1115, QStringLiteral("2"));
    form->OnChange();
    EXPECT_EQ(program.messages.size(), 1);
    form->OnReadActive();
    RunList(form, ZarnFormBase::kReadTimer);
    form->SetField(1115, QStringLiteral("2"));
    form->OnChange();
    RunList(form, ZarnFormView::kSelectTimer);
    second->TimerTick(ZarnFormBase::kClockTimer);
    for (const char *terminal : { "", "1", "2", "3" }) {
        if (*terminal)
            AppServices::Meter().SetRange(QLatin1String(terminal));
        form->TimerTick(ZarnFormBase::kClockTimer);
        EXPECT_EQ(form->GetField(1114), QLatin1String(*terminal == '3' ? "3" : "2")) << terminal;
    }
    const QString maxRange = form->GetField(1038);
    EXPECT_EQ(UnitsThereAndBack(form, 1004, 1), maxRange);

    // Exit, Cancel at the save question: every window stays, the terminal's too. A running log
    // asks before its window closes.
    program.app->OnNewTerminal();
    CDocManager::SetSavePrompt([](QWidget *, const QString &) { return int(QMessageBox::Cancel); });
    EXPECT_FALSE(program.app->MainFrame()->close());
    EXPECT_EQ(program.Windows(), 4);
    datalog->Core().state.loggingActive = true;
    program.answer = false;
    program.app->DocManager()->FramesOf(datalog->GetDocument()).first()->close();
    EXPECT_EQ(program.questions.size(), 1);
    EXPECT_EQ(program.Windows(), 4);
    datalog->Core().state.loggingActive = false;

    // A Quixal meter in the terminal: not this form's meter, and K says why it opens nothing.
    AppServices::Meter().SetModel(QStringLiteral("500"));
    AppServices::Meter().SetVersion(QStringLiteral("1.4A"));
    form->TimerTick(ZarnFormBase::kClockTimer);
    EXPECT_NE(form->GetField(1049), QStringLiteral("1.4A"));
    program.messages.clear();
    program.app->OnNewMeterForm();
    EXPECT_EQ(program.Windows(), 4);
    EXPECT_EQ(program.messages.size(), 1);

    // Send to a meter of another serial number asks first; No sends nothing.
    AppServices::Meter().SetModel(QString());
    AppServices::Meter().SetVersion(QString());
    AppServices::Meter().SetSerial(QStringLiteral("7777"));
    form->SetField(1048, QStringLiteral("1234"));
    form->OnSendActive();
    ASSERT_EQ(program.questions.size(), 2);
    EXPECT_EQ(program.questions.last(),
        QStringLiteral("Write the configuration of meter 1234 to meter 7777?"));
    EXPECT_EQ(form->Runner(), nullptr);
}

} // namespace

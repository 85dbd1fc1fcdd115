// Nothing a technician typed, read or saved is lost or misreported: the Quixal form against a
// simulated Quixal meter, each meter form against a meter of the other series, and the windows
// of the program at Exit and on the New commands.
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormView.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using namespace QXFieldId;

QByteArray Bytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void RunList(ZarnFormBase *form, int timerId)
{
    for (int tick = 0; tick < 200 && form->IsTimerActive(timerId); ++tick)
        form->TimerTick(timerId);
}

// The program with its meter link on a simulated meter (or on no port), every message and
// question recorded; questions are answered by `answer`.
class Program
{
public:
    QStringList messages;
    QStringList questions;
    bool answer = true;

    explicit Program(const QStringList &simArgs, const QString &version = QStringLiteral(">= 4.1A"))
    {
        ResetGlobals();
        TestEnv::ClearPreferences();
        TestEnv::ReseedWorkDir();
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldShow = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { messages.append(text); });
        m_oldAsk = UserMessage::SetAskHandler([this](const QString &text, const QString &) {
            questions.append(text);
            return answer;
        });
        QString port = QStringLiteral("/nonexistent/tty");
        if (!simArgs.isEmpty()) {
            m_sim.start(TestEnv::MeterSimPath(),
                simArgs
                    + QStringList { QStringLiteral("--interval"), QStringLiteral("600000"),
                        QStringLiteral("--data-dir"), TestEnv::DataDir() });
            m_sim.waitForStarted(5000);
            m_sim.waitForReadyRead(5000);
            port = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
        }
        {
            auto store = CPrefs::OpenStore();
            store->setValue(QStringLiteral("Port/COM"), port);
            store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
            store->setValue(QStringLiteral("Version/SELECTION"), version);
        }
        LinkTiming timing;
        timing.pacingScale = 0.04;
        app = std::make_unique<CTarvikApp>(timing, false);
        app->InitInstance();
        app->MainFrame()->resize(1366, 768);
        messages.clear();
    }
    ~Program()
    {
        CDocManager::SetSavePrompt(nullptr);
        ZarnFormBase::SetSaveAsPrompt(nullptr);
        for (CDocument *doc : app->DocManager()->Documents())
            doc->SetModifiedFlag(false);
        app.reset();
        m_sim.kill();
        m_sim.waitForFinished(5000);
        UserMessage::SetHandler(m_oldShow);
        UserMessage::SetAskHandler(m_oldAsk);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }
    template <class Form> Form *Newest() const
    {
        const QList<CDocument *> docs = app->DocManager()->Documents();
        if (docs.isEmpty())
            return nullptr;
        return qobject_cast<Form *>(app->DocManager()->FramesOf(docs.last()).first()->View());
    }
    int Windows() const { return int(app->MainFrame()->MdiArea()->subWindowList().size()); }

    std::unique_ptr<CTarvikApp> app;

private:
    QProcess m_sim;
    UserMessage::Handler m_oldShow;
    UserMessage::AskHandler m_oldAsk;
};

// ---------------------------------------------------------------------------------------------
// A meter of the other series: the read takes nothing and says which meter answered.

struct WrongMeter
{
    const char *series;
    const char *firmware;
    bool quixalForm;
    const char *says;
};

class WrongSeriesRead : public ::testing::TestWithParam<WrongMeter>
{
};

TEST_P(WrongSeriesRead, ChangesNothingAndNamesTheMeter)
{
    const WrongMeter row = GetParam();
    Program program(
        { QStringLiteral("--series"), QLatin1String(row.series), QStringLiteral("--firmware"),
            QLatin1String(row.firmware), QStringLiteral("--serial"), QStringLiteral("55501") });
    if (row.quixalForm)
        program.app->OnNewQuixal();
    else
        program.app->OnNewMeterForm();
    ZarnFormBase *form = row.quixalForm
        ? static_cast<ZarnFormBase *>(program.Newest<ZarnQXFormView>())
        : program.Newest<ZarnFormView>();
    ASSERT_NE(form, nullptr);
    CDocument *doc = form->GetDocument();
    const QString title = doc->Title();
    const QString serial = form->GetField(SerialNumber);
    const QString image = static_cast<CMeterDoc *>(doc)->ImageToText();
    const QString docVersion = g_DocVersion;
    program.messages.clear();

    if (row.quixalForm)
        static_cast<ZarnQXFormView *>(form)->OnRead();
    else
        static_cast<ZarnFormView *>(form)->OnReadActive();
    RunList(form, ZarnFormBase::kReadTimer);
    form->TimerTick(ZarnFormBase::kClockTimer);

    ASSERT_EQ(program.messages.size(), 1) << qPrintable(program.messages.join(QLatin1Char('|')));
    EXPECT_TRUE(program.messages.first().contains(QLatin1String(row.says)))
        << qPrintable(program.messages.first());
    EXPECT_TRUE(program.messages.first().contains(QLatin1String(row.firmware)));
    EXPECT_EQ(doc->Title(), title);
    EXPECT_EQ(form->GetField(SerialNumber), serial);
    EXPECT_EQ(static_cast<CMeterDoc *>(doc)->ImageToText(), image);
    EXPECT_EQ(g_DocVersion, docVersion);
    EXPECT_FALSE(doc->IsModified());
    if (row.quixalForm) {
        EXPECT_NE(form->GetField(MeterVersion), QLatin1String(row.firmware));
        EXPECT_NE(qobject_cast<QLabel *>(form->Control(1067))->text(), QLatin1String(row.firmware));
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, WrongSeriesRead,
    ::testing::Values(WrongMeter { "kelvane", "3.9G", true, "Kelvane meter" },
        WrongMeter { "kelvane", "4.1A", true, "Kelvane meter" },
        WrongMeter { "quixal", "1.4A", false, "Quixal meter" }),
    [](const ::testing::TestParamInfo<WrongMeter> &param) {
        return (param.param.quixalForm ? std::string("QuixalFormOn") : std::string("KelvaneFormOn"))
            + QString::fromLatin1(param.param.firmware).remove(QLatin1Char('.')).toStdString();
    });

// ---------------------------------------------------------------------------------------------
// The Quixal form keeps what was read, typed and saved.

TEST(QuixalFormData, NothingReadTypedOrSavedIsLost)
{
    // A meter whose serial number is longer than the field, and the stored default version.
    Program program(
        { QStringLiteral("--series"), QStringLiteral("quixal"), QStringLiteral("--firmware"),
            QStringLiteral("1.4A"), QStringLiteral("--serial"), QStringLiteral("123456789") },
        QStringLiteral("4.0A"));
    const QByteArray templateBytes = Bytes(QStringLiteral("Quixal.qxm"));
    program.app->OnNewQuixal();
    auto *form = program.Newest<ZarnQXFormView>();
    ASSERT_NE(form, nullptr);
    auto *doc = qobject_cast<QXMeterDoc *>(form->GetDocument());

    // Read: one word about the long serial number; the read values are unsaved edits.
    form->OnRead();
    RunList(form, ZarnFormBase::kReadTimer);
    EXPECT_EQ(program.messages.size(), 1) << qPrintable(program.messages.join(QLatin1Char('|')));
    EXPECT_EQ(form->GetField(SerialNumber), QStringLiteral("123456789"));
    EXPECT_TRUE(doc->IsModified()) << "a finished read is not in any file yet";

    // Send and Save collect the read-only field without a message each time.
    program.messages.clear();
    form->OnSend();
    RunList(form, ZarnFormBase::kSendTimer);
    EXPECT_EQ(program.messages, QStringList { QStringLiteral("Meter stored the configuration") });

    // Save writes the file the read named, beside the template, which stays as it was.
    program.messages.clear();
    ASSERT_TRUE(form->Save());
    EXPECT_EQ(Bytes(QStringLiteral("Quixal.qxm")), templateBytes);
    EXPECT_TRUE(program.messages.isEmpty()) << qPrintable(program.messages.join(QLatin1Char('|')));
    EXPECT_EQ(QFileInfo(doc->PathName()).fileName(), QStringLiteral("123456789_1.qxm"));
    EXPECT_FALSE(doc->IsModified());

    // Units: another window's units must not decide how this form converts. SCFH and back
    // gives the same Max Range.
    auto *units = qobject_cast<QComboBox *>(form->Control(Units));
    const int shown = units->currentIndex();
    const QString maxRange = form->GetField(MaxRange);
    g_FlowUnits = 7; // a Kelvane window showed another unit last
    units->setCurrentIndex(1); // SCFH
    Q_EMIT units->activated(1);
    units->setCurrentIndex(shown);
    Q_EMIT units->activated(shown);
    EXPECT_EQ(form->GetField(MaxRange), maxRange);
    EXPECT_TRUE(doc->IsModified());

    // Convert to the stored "4.0A": varsQX.dat has no such layout, so nothing moves.
    program.messages.clear();
    const QString section = doc->Vars()->SectionName();
    const QString image = doc->ImageToText();
    // Were the prompt shown, it is dismissed rather than left waiting.
    QTimer::singleShot(0, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    form->OnCommand(AppCommand::Convert);
    EXPECT_EQ(doc->Vars()->SectionName(), section);
    EXPECT_EQ(doc->ImageToText(), image);
    ASSERT_EQ(program.messages.size(), 1);
    EXPECT_TRUE(program.messages.first().contains(QStringLiteral("4.0A")));

    // Typing is an unsaved edit; Read over it asks first, and No reads nothing.
    ASSERT_TRUE(form->Save());
    EXPECT_FALSE(doc->IsModified());
    auto *password = qobject_cast<QLineEdit *>(form->Control(Password));
    password->setFocus();
    password->selectAll();
    QTest::keyClicks(password, QStringLiteral("4660"));
    EXPECT_TRUE(doc->IsModified());
    program.answer = false;
    form->OnRead();
    EXPECT_EQ(program.questions.size(), 1);
    EXPECT_EQ(form->Runner(), nullptr);
    EXPECT_EQ(password->text(), QStringLiteral("4660"));

    // Closing asks to save.
    int asked = 0;
    CDocManager::SetSavePrompt([&asked](QWidget *, const QString &) {
        ++asked;
        return int(QMessageBox::Cancel);
    });
    program.app->DocManager()->FramesOf(doc).first()->close();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(program.Windows(), 1);
}

// A file that is not a Quixal file, or fits no layout, opens with a warning and is never saved
// over; the same for a Quixal file renamed ".mtr".
TEST(QuixalFormData, FilesOfNoOrTheOtherLayoutAreKept)
{
    Program program({});
    const QByteArray kelvane = Bytes(QStringLiteral("41A_Template.mtr"));
    const QByteArray quixal = Bytes(QStringLiteral("Quixal.qxm"));
    const QByteArray unknown = QByteArray("11 ").repeated(300);
    const struct
    {
        const char *name;
        QByteArray bytes;
    } files[] = {
        { "nolayout.qxm", unknown }, // a newer firmware than any layout, say
        { "nolayout.mtr", unknown },
        { "kelvane.qxm", kelvane },
        { "quixal.mtr", quixal },
    };
    for (const auto &file : files) {
        const QString name = QLatin1String(file.name);
        QFile out(name);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file.bytes);
        out.close();
        program.messages.clear();
        CDocument *doc = program.app->DocManager()->OpenDocumentFile(name);
        ASSERT_NE(doc, nullptr) << file.name;
        EXPECT_EQ(program.messages.size(), 1) << file.name;
        auto *form = qobject_cast<ZarnFormBase *>(
            program.app->DocManager()->FramesOf(doc).first()->View());
        program.messages.clear();
        EXPECT_FALSE(form->Save()) << file.name;
        EXPECT_EQ(program.messages.size(), 1) << file.name;
        EXPECT_EQ(Bytes(name), file.bytes) << file.name;
    }
}

// ---------------------------------------------------------------------------------------------
// The program's windows: Exit, the New commands, the meter in the terminal.

TEST(ProgramWindows, ExitCancelKeepsEveryWindowAndTheNewCommandsSayWhyNot)
{
    Program program({});
    program.app->OnNewTerminal();
    program.app->OnNewDatalog();
    program.app->OnNewMeterForm();
    auto *kelvane = program.Newest<ZarnFormView>();
    ASSERT_NE(kelvane, nullptr);
    ASSERT_EQ(program.Windows(), 3);

    // Ctrl+S on the form opened from the K template asks for a name; the template stays.
    const QByteArray templateBytes = Bytes(QStringLiteral("41A_Template.mtr"));
    qobject_cast<QLineEdit *>(kelvane->Control(1045))->setText(QStringLiteral("4321"));
    bool askedName = false;
    ZarnFormBase::SetSaveAsPrompt([&askedName](QWidget *, const QString &) {
        askedName = true;
        return QString();
    });
    kelvane->Save();
    EXPECT_TRUE(askedName);
    EXPECT_EQ(Bytes(QStringLiteral("41A_Template.mtr")), templateBytes);

    // Exit, Cancel at the save question: every window stays.
    kelvane->GetDocument()->SetModifiedFlag(true);
    CDocManager::SetSavePrompt([](QWidget *, const QString &) { return int(QMessageBox::Cancel); });
    EXPECT_FALSE(program.app->MainFrame()->close());
    EXPECT_EQ(program.Windows(), 3);

    // The datalogger asks before a running log is cut; No keeps it open.
    Datalog *datalog = nullptr;
    CChildFrame *datalogFrame = nullptr;
    for (CDocument *doc : program.app->DocManager()->Documents()) {
        CChildFrame *frame = program.app->DocManager()->FramesOf(doc).first();
        if (auto *view = qobject_cast<Datalog *>(frame->View())) {
            datalog = view;
            datalogFrame = frame;
        }
    }
    ASSERT_NE(datalog, nullptr);
    datalog->Core().state.loggingActive = true;
    program.answer = false;
    datalogFrame->close();
    EXPECT_EQ(program.questions.size(), 1);
    EXPECT_EQ(program.Windows(), 3);
    datalog->Core().state.loggingActive = false;

    // A Quixal meter in the terminal: the Kelvane form does not name it as its meter, and the
    // K button says why it opens nothing.
    g_MeterModel = QStringLiteral("500");
    g_MeterVersion = QStringLiteral("1.4A");
    g_MeterRevision = QStringLiteral("B");
    kelvane->TimerTick(ZarnFormBase::kClockTimer);
    EXPECT_NE(kelvane->GetField(1049), QStringLiteral("1.4A"));
    program.messages.clear();
    program.app->OnNewMeterForm();
    EXPECT_EQ(program.Windows(), 3);
    ASSERT_EQ(program.messages.size(), 1);
    EXPECT_TRUE(program.messages.first().contains(QStringLiteral("Quixal")));

    // Send to a meter of another serial number asks first; No sends nothing.
    g_MeterModel.clear();
    g_MeterVersion.clear();
    g_MeterSerial = QStringLiteral("7777");
    kelvane->SetField(1048, QStringLiteral("1234"));
    program.questions.clear();
    kelvane->OnSendActive();
    ASSERT_EQ(program.questions.size(), 1);
    EXPECT_EQ(program.questions.first(),
        QStringLiteral("Write the configuration of meter 1234 to meter 7777?"));
    EXPECT_EQ(kelvane->Runner(), nullptr);
}

TEST(ProgramWindows, KelvaneFormKeepsItsOwnRangeAndUnits)
{
    Program program(
        { QStringLiteral("--series"), QStringLiteral("kelvane"), QStringLiteral("--firmware"),
            QStringLiteral("4.1A"), QStringLiteral("--range"), QStringLiteral("1") });
    program.app->OnNewMeterForm();
    auto *form = program.Newest<ZarnFormView>();
    ASSERT_NE(form, nullptr);
    // A second window onto the document ticks its clock too.
    CChildFrame *other = program.app->DocManager()->NewWindow(form->GetDocument());
    ASSERT_NE(other, nullptr);
    auto *second = qobject_cast<ZarnFormView *>(other->View());

    // Change with no known active range says why it does nothing.
    form->SetField(1115, QStringLiteral("2"));
    form->OnChange();
    ASSERT_EQ(program.messages.size(), 1);
    EXPECT_EQ(form->Runner(), nullptr);

    program.messages.clear();
    form->OnReadActive();
    RunList(form, ZarnFormBase::kReadTimer);
    ASSERT_EQ(form->GetField(1114), QStringLiteral("1"));
    form->SetField(1115, QStringLiteral("2"));
    form->OnChange();
    RunList(form, ZarnFormView::kSelectTimer);
    EXPECT_TRUE(program.messages.isEmpty()) << qPrintable(program.messages.join(QLatin1Char('|')));
    second->TimerTick(ZarnFormBase::kClockTimer);
    form->TimerTick(ZarnFormBase::kClockTimer);
    EXPECT_EQ(form->GetField(1114), QStringLiteral("2"));

    // The terminal's old identification line does not undo it; a newer range does.
    const struct
    {
        const char *terminalNumber;
        const char *active;
    } ticks[] = { { "1", "2" }, { "2", "2" }, { "3", "3" } };
    for (const auto &tick : ticks) {
        g_MeterNumber = QLatin1String(tick.terminalNumber);
        form->TimerTick(ZarnFormBase::kClockTimer);
        EXPECT_EQ(form->GetField(1114), QLatin1String(tick.active)) << tick.terminalNumber;
    }

    // Units: converted from this form's own units, whatever another form showed last.
    auto *units = qobject_cast<QComboBox *>(form->Control(1004));
    const int shown = units->currentIndex();
    const QString maxRange = form->GetField(1038);
    g_FlowUnits = 7;
    for (int index : { shown == 1 ? 2 : 1, shown }) {
        units->setCurrentIndex(index);
        Q_EMIT units->activated(index);
    }
    EXPECT_EQ(form->GetField(1038), maxRange);
}

} // namespace

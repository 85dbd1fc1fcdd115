// The meter form running its command lists: a real command-list document and runner, a real
// meter document, and a scripted meter behind the link.
#include "meter/ZarnFormView.h"

#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueDoc.h"
#include "lists/CQueView.h"
#include "lists/CSerialMeterLink.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"
#include "meter/SendWithChecks.h"
#include "meterform/HalfWayLink.h"
#include "support/ImmediateMeterLink.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {
class ScriptedMeter : public ImmediateMeterLink
{
public:
    QList<QByteArray> replies;
    QStringList sent;
    int Send(const QByteArray &text) override
    {
        sent.append(QString::fromLatin1(text));
        return 1;
    }
    void Read(QByteArray &reply, int, int) override
    {
        reply = replies.isEmpty() ? QByteArray() : replies.takeFirst();
    }
};

// Calls back whenever the watched widget paints.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(std::function<void()> painted)
        : m_painted(std::move(painted))
    {
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            m_painted();
        return false;
    }

private:
    std::function<void()> m_painted;
};

class FormListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        // The sends here are the list alone, without the reads around it.
        AuditSettings::SetCompareBeforeSend(false);
        AuditSettings::SetReadBackAfterSend(false);
        QDir::setCurrent(TestEnv::WorkDir());
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        ZarnFormView::SetMeterLink(&m_meter);
        m_oldOpener = ZarnFormView::SetListOpener([this](const QString &name) -> CQueView * {
            ++m_opens[name];
            auto it = m_lists.find(name);
            if (it != m_lists.end())
                return it->second.second.get(); // an open list comes forward
            auto doc = std::make_unique<CQueDoc>();
            if (!doc->OnOpenDocument(name))
                return nullptr;
            auto view = std::make_unique<CQueView>(doc.get());
            CQueView *runner = view.get();
            m_lists[name] = { std::move(doc), std::move(view) };
            return runner;
        });
        m_document = std::make_unique<CMeterDoc>(QStringLiteral("4.1A"));
        ASSERT_TRUE(m_document->OnOpenDocument(QStringLiteral("41A_Template.mtr")));
        m_document->SetPathName(QDir::current().filePath(QStringLiteral("41A_Template.mtr")));
        m_form = std::make_unique<ZarnFormView>(m_document.get());
        m_form->OnInitialUpdate();
    }

    void TearDown() override
    {
        m_form.reset();
        m_lists.clear();
        m_document.reset();
        ZarnFormView::SetListOpener(m_oldOpener);
        ZarnFormView::SetMeterLink(nullptr);
        UserMessage::SetHandler(m_oldHandler);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    // Runs the event loop until the form's list has stopped: 1, 0 when none ran, -1 when it
    // never stopped.
    int RunList(int listId)
    {
        if (m_form->RunningList() != listId)
            return 0;
        return TestEnv::WaitUntil([&] { return m_form->RunningList() != listId; }) ? 1 : -1;
    }
    // Runs the event loop until the form's list has run its line at index.
    void RunToLine(int index)
    {
        TestEnv::WaitUntil(
            [&] { return !m_form->Runner() || m_form->Runner()->LineIndex() >= index; });
    }

    // The image text of the template with a serial number and active range of our own.
    QString MeterImage(quint32 serial, int range)
    {
        CMeterDoc meter;
        EXPECT_TRUE(meter.OnOpenDocument(QStringLiteral("41A_Template.mtr")));
        meter.Vars()->SetValue(QStringLiteral("serial_num"), 4, serial);
        const quint32 mode = meter.Vars()->Value(QStringLiteral("mode"), 1) & 0xF0;
        meter.Vars()->SetValue(
            QStringLiteral("mode"), 1, mode | quint32(range - 1) | quint32(range - 1) << 2);
        return meter.ImageToText();
    }

    ScriptedMeter m_meter;
    std::map<QString, int> m_opens;
    std::map<QString, std::pair<std::unique_ptr<CQueDoc>, std::unique_ptr<CQueView>>> m_lists;
    std::unique_ptr<CMeterDoc> m_document;
    std::unique_ptr<ZarnFormView> m_form;
    QStringList m_messages;
    UserMessage::Handler m_oldHandler;
    ZarnFormView::ListOpener m_oldOpener;
};

const QByteArray kReadList = "// reads version and image\n"
                             " Send(0, 10, 10, \"110\", \">\", Fail)\n"
                             " Read(\"VER=\", 4, 4, 1049)\n"
                             " Read(\"REV=\", 4, 1, 1084)\n"
                             " Read(\"IMG=\", 4, 768, 1051)\n"
                             " End\n"
                             "Fail: End\n";
} // namespace

TEST_F(FormListTest, ReadActiveFillsTheFormAndTitlesTheDocument)
{
    WriteFile(QStringLiteral("read20.que"), kReadList);
    const QString image = MeterImage(7654321, 3);
    m_meter.replies.append("\r\nVER=4.1A REV=C\r\nIMG=" + image.toLatin1() + "\r\nEND\r\n>");
    m_form->OnReadActive();
    EXPECT_EQ(m_form->RunningList(), ZarnFormView::kReadTimer);
    EXPECT_GT(RunList(ZarnFormView::kReadTimer), 0);
    EXPECT_EQ(m_meter.sent, QStringList({ QStringLiteral("110\r") }));
    EXPECT_EQ(m_form->GetField(1048), QStringLiteral("7654321"));
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("3"));
    EXPECT_EQ(m_document->Title(), QStringLiteral("7654321_3"));
    EXPECT_EQ(m_form->GetField(1049), QStringLiteral("4.1A"));
    EXPECT_EQ(m_form->GetField(1084), QStringLiteral("C"));
    EXPECT_EQ(m_document->ImageToText(), image);
    EXPECT_EQ(qobject_cast<QTreeWidget *>(m_form->Control(1047))->topLevelItemCount(), 10);
    EXPECT_EQ(qobject_cast<QLabel *>(m_form->Control(1052))->text(), QStringLiteral("="));
    EXPECT_EQ(m_form->Runner(), nullptr);
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(FormListTest, TwoQuickPressesStartOneList)
{
    WriteFile(QStringLiteral("read20.que"), kReadList);
    m_meter.replies.append(">");
    m_form->OnReadActive();
    RunToLine(1); // the comment line, then the exchange
    CQueView *runner = m_form->Runner();
    ASSERT_NE(runner, nullptr);
    m_form->OnReadActive();
    m_form->OnSendActive(); // another list waits as well
    EXPECT_EQ(m_opens[QStringLiteral("read20.que")], 2);
    EXPECT_EQ(m_form->Runner(), runner);
    EXPECT_GE(runner->LineIndex(), 1); // not started over
    EXPECT_EQ(m_form->RunningList(), ZarnFormView::kReadTimer);
    EXPECT_NE(m_form->RunningList(), ZarnFormView::kSendTimer);
    EXPECT_EQ(m_meter.sent.size(), 1);
}

TEST_F(FormListTest, ReadWithoutImageLeavesTheForm)
{
    WriteFile(QStringLiteral("read20.que"), kReadList);
    const QString serial = m_form->GetField(1048);
    const QString title = m_document->Title();
    m_meter.replies.append("\r\n>"); // a prompt, nothing else
    m_form->OnReadActive();
    EXPECT_GT(RunList(ZarnFormView::kReadTimer), 0);
    EXPECT_EQ(m_form->GetField(1048), serial);
    EXPECT_EQ(m_document->Title(), title);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.last().contains(QLatin1String("no configuration image")));

    // A cut or garbled image: the user learns how much of it came, the form stays as it was.
    const QString image = MeterImage(7654321, 3);
    const QString image41 = m_document->ImageToText();
    const int bytes = int(image.size() / 3);
    const struct
    {
        QString text;
        int arrived;
    } cases[] = {
        { image.left(3 * 40), 40 },
        { image.left(3 * 100) + QStringLiteral("ZZ ") + image.mid(3 * 101), 100 },
        { QStringLiteral("ERR 7"), 0 },
    };
    for (const auto &c : cases) {
        m_messages.clear();
        m_meter.replies.append("\r\nVER=4.1A REV=C\r\nIMG=" + c.text.toLatin1() + "\r\n>");
        m_form->OnReadActive();
        EXPECT_GT(RunList(ZarnFormView::kReadTimer), 0);
        EXPECT_EQ(m_form->GetField(1048), serial);
        EXPECT_EQ(m_document->Title(), title);
        EXPECT_EQ(m_document->ImageToText(), image41);
        ASSERT_EQ(m_messages.size(), 1) << qPrintable(c.text);
        EXPECT_TRUE(m_messages.last().contains(
            QStringLiteral("%1 of the %2 bytes").arg(c.arrived).arg(bytes)))
            << qPrintable(m_messages.last());
    }

    // A meter of the other series: its identity is not shown either.
    const QString version = m_form->GetField(1049), revision = m_form->GetField(1084);
    m_messages.clear();
    m_meter.replies.append("\r\nVER=1.4A REV=D\r\nIMG=" + image.toLatin1() + "\r\n>");
    m_form->OnReadActive();
    EXPECT_GT(RunList(ZarnFormView::kReadTimer), 0);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.last().contains(QLatin1String("is a Quixal meter")));
    EXPECT_EQ(m_form->GetField(1049), version);
    EXPECT_EQ(m_form->GetField(1084), revision);
    EXPECT_EQ(m_form->GetField(1048), serial);
}

TEST_F(FormListTest, ReadWithVersionButNoImageKeepsTheDocument)
{
    WriteFile(QStringLiteral("read20.que"), kReadList);
    const QString image = m_document->ImageToText();
    m_meter.replies.append("\r\nVER=3.9G REV=B\r\n>"); // the image never comes
    m_form->OnReadActive();
    EXPECT_GT(RunList(ZarnFormView::kReadTimer), 0);
    EXPECT_EQ(m_document->Vars()->SectionName(), QStringLiteral("[4.1A]"));
    EXPECT_EQ(m_document->ImageToText(), image);
    EXPECT_EQ(m_document->Context().version, QStringLiteral(">= 4.1A"));
    // The user cancels a read half-way: the same.
    m_meter.replies.append("\r\nVER=3.9G REV=B\r\n>");
    m_form->OnReadActive();
    RunToLine(2);
    ASSERT_NE(m_form->Runner(), nullptr);
    m_form->Runner()->Cancel();
    EXPECT_EQ(RunList(ZarnFormView::kReadTimer), 1);
    EXPECT_EQ(m_document->ImageToText(), image);
}

TEST_F(FormListTest, ListWithoutEndStopsAfterItsLastLine)
{
    // Past its last line a list keeps answering "ended"; the form takes that once and stops.
    WriteFile(QStringLiteral("read20.que"), "// nothing to do\n");
    m_form->SetField(1051, QStringLiteral("zz"));
    m_form->OnReadActive();
    EXPECT_EQ(RunList(ZarnFormView::kReadTimer), 1);
    EXPECT_EQ(m_form->Runner(), nullptr);
}

TEST_F(FormListTest, SendActiveSendsTheEditedImage)
{
    WriteFile(QStringLiteral("send20.que"),
        " Send(1051, 10, 10, \"\", \"*\", Fail)\n"
        " End\n"
        "Fail: End\n");
    m_form->SetField(1048, QStringLiteral("424242"));
    m_form->SetField(1011, QStringLiteral("1500"));
    m_meter.replies.append("IMAGE STORED*");
    m_form->OnSendActive();
    EXPECT_EQ(m_form->RunningList(), ZarnFormView::kSendTimer);
    EXPECT_TRUE(m_form->GetField(1051).contains(QLatin1Char('\r')));
    EXPECT_GT(RunList(ZarnFormView::kSendTimer), 0);
    ASSERT_EQ(m_meter.sent.size(), 1);
    // The meter receives the image whose serial number and relay value are the edited ones.
    CMeterDoc sent;
    sent.SetVersion(QStringLiteral("4.1A"));
    sent.ImageFromText(m_meter.sent.first());
    EXPECT_EQ(sent.Vars()->Value(QStringLiteral("serial_num"), 4), 424242u);
    EXPECT_EQ(sent.Vars()->Value(QStringLiteral("evalue[1]"), 4), 1500u);
    EXPECT_EQ(sent.Vars()->Value(QStringLiteral("key"), 1), 0xAAu);
}

// The end of a Send says whether the meter stored the image, through the program's own
// send20.que: stored, refused, no answer, and a send cancelled between two lines.
TEST_F(FormListTest, SendSaysWhetherTheMeterStoredTheImage)
{
    const QString cancelled
        = QStringLiteral("Sending was cancelled before the meter confirmed that it had "
                         "stored the configuration.\nRead the meter to see what it holds.");
    const struct
    {
        const char *what;
        QList<QByteArray> replies;
        int cancelAfterTicks; // 0: runs to its end
        QString message;
    } cases[] = {
        { "stored", { ">", ">", "IMAGE STORED*", "RUN" }, 0,
            QStringLiteral("The meter acknowledged the configuration (not read back)") },
        { "refused", { ">", ">", "IMAGE REFUSED KEY", "RUN" }, 0,
            QStringLiteral("Meter refused the configuration") },
        { "no answer", { "", "RUN" }, 0, QStringLiteral("Meter did not answer") },
        { "cancelled", { ">", ">" }, 3, cancelled },
    };
    for (const auto &c : cases) {
        m_messages.clear();
        m_meter.sent.clear();
        m_meter.replies = c.replies;
        m_form->OnSendActive();
        ASSERT_NE(m_form->Runner(), nullptr) << c.what;
        if (c.cancelAfterTicks) {
            RunToLine(c.cancelAfterTicks - 1);
            m_form->Runner()->Cancel();
        }
        EXPECT_GT(RunList(ZarnFormView::kSendTimer), 0) << c.what;
        EXPECT_EQ(m_messages, QStringList { c.message }) << c.what;
        EXPECT_EQ(m_form->Runner(), nullptr) << c.what;
        m_lists.clear(); // the list's window has closed
    }
}

TEST_F(FormListTest, ChangeRunsOnlyForAKnownOtherRange)
{
    WriteFile(QStringLiteral("select20.que"),
        " Send(1115, 10, 10, \"\", \"*\", Fail)\n"
        " End\n"
        "Fail: Goto(Meter refused the range change)\n");
    const struct
    {
        const char *meterNumber;
        int desired;
        bool runs;
    } cases[] = { { "", 2, false }, { "5", 2, false }, { "2", 2, false }, { "1", 2, true } };
    for (const auto &c : cases) {
        m_opens.clear();
        AppServices::Meter().SetRange(QString::fromLatin1(c.meterNumber));
        m_form->TimerTick(ZarnFormView::kClockTimer);
        m_form->SetField(1115, QString::number(c.desired));
        m_form->OnChange();
        EXPECT_EQ(m_opens[QStringLiteral("select20.que")], c.runs ? 1 : 0) << c.meterNumber;
    }
    m_meter.replies.append("RANGE 2 ACTIVE*");
    EXPECT_GT(RunList(ZarnFormView::kSelectTimer), 0);
    EXPECT_EQ(m_meter.sent.first(), QStringLiteral("2\r"));
    // The change's own end, with no clock tick, makes the new range the active one and puts the
    // meter back in run mode.
    EXPECT_TRUE(TestEnv::WaitUntil([&] { return m_meter.sent.size() == 2; }));
    EXPECT_EQ(m_form->GetField(1114), QStringLiteral("2"));
    EXPECT_EQ(AppServices::Meter().Range(), QStringLiteral("2"));
    EXPECT_EQ(m_meter.sent.last(), QStringLiteral("rrrrrrrrr"));

    // A change the meter does not confirm: Active shows "?" (and a change is refused) until the
    // meter tells of its range again; the same old number rescanned does not count.
    m_messages.clear();
    m_form->SetField(1115, QStringLiteral("3"));
    m_form->OnChange();
    m_meter.replies.append("RANGE REFUSED");
    RunList(ZarnFormView::kSelectTimer);
    EXPECT_EQ(m_messages.join('|').toStdString(), "Meter refused the range change");
    for (const char *told : { "2", "2", "4" }) {
        AppServices::Meter().SetRange(QString::fromLatin1(told));
        m_form->TimerTick(ZarnFormView::kClockTimer);
        EXPECT_EQ(m_form->GetField(1114), QString::fromLatin1(told == QByteArray("4") ? "4" : "?"));
    }
    EXPECT_EQ(m_meter.sent.last(), QStringLiteral("3\r")); // no run mode after a refused change
}

TEST_F(FormListTest, SaveTakesTheNameTheReadGave)
{
    WriteFile(QStringLiteral("read20.que"), kReadList);
    m_meter.replies.append("VER=4.1A REV=A IMG=" + MeterImage(555, 2).toLatin1() + "\r\n>");
    m_form->OnReadActive();
    RunList(ZarnFormView::kReadTimer);
    ASSERT_EQ(m_document->Title(), QStringLiteral("555_2"));
    m_form->SetField(1010, QStringLiteral("77"));
    // A file of that name from an earlier visit is replaced only when the user agrees.
    const QString saved = QDir::current().filePath(QStringLiteral("555_2.mtr"));
    WriteFile(saved, "earlier visit\n");
    int asked = 0;
    const auto oldAsk = UserMessage::SetAskHandler(
        [&asked](const QString &, const QString &) { return ++asked > 1; });
    m_form->OnCommand(AppCommand::Save);
    EXPECT_EQ(ReadFile(saved), "earlier visit\n");
    ASSERT_TRUE(m_form->OnCommand(AppCommand::Save));
    UserMessage::SetAskHandler(oldAsk);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(m_document->PathName(), saved);
    CMeterDoc reread;
    ASSERT_TRUE(reread.OnOpenDocument(saved));
    EXPECT_EQ(reread.Vars()->Value(QStringLiteral("serial_num"), 4), 555u);
    EXPECT_EQ(reread.Vars()->Value(QStringLiteral("evalue[0]"), 4), 77u);
    // The template itself is untouched.
    CMeterDoc original;
    ASSERT_TRUE(original.OnOpenDocument(QStringLiteral("41A_Template.mtr")));
    EXPECT_NE(original.Vars()->Value(QStringLiteral("serial_num"), 4), 555u);
}

TEST_F(FormListTest, SaveAsProposesTheSerialNumber)
{
    m_form->SetField(1048, QStringLiteral("98/76"));
    QString proposed;
    auto old = ZarnFormView::SetSaveAsPrompt([&](QWidget *, const QString &name) {
        proposed = name;
        return QDir::current().filePath(QStringLiteral("chosen"));
    });
    EXPECT_TRUE(m_form->OnCommand(AppCommand::SaveAs));
    ZarnFormView::SetSaveAsPrompt(old);
    EXPECT_EQ(QFileInfo(proposed).fileName(), QStringLiteral("98_76_"));
    EXPECT_EQ(m_document->PathName(), QDir::current().filePath(QStringLiteral("chosen.mtr")));
    CMeterDoc reread;
    ASSERT_TRUE(reread.OnOpenDocument(QStringLiteral("chosen.mtr")));
    EXPECT_EQ(reread.Vars()->Value(QStringLiteral("serial_num"), 4), 98u);

    // After a read the name it gave is proposed, range and all; a cancel keeps that title.
    WriteFile(QStringLiteral("read20.que"), kReadList);
    m_meter.replies.append("VER=4.1A REV=A IMG=" + MeterImage(555, 2).toLatin1() + "\r\n>");
    m_form->OnReadActive();
    RunList(ZarnFormView::kReadTimer);
    old = ZarnFormView::SetSaveAsPrompt(
        [&](QWidget *, const QString &name) { return proposed = name, QString(); });
    m_form->OnCommand(AppCommand::SaveAs);
    ZarnFormView::SetSaveAsPrompt(old);
    EXPECT_EQ(QFileInfo(proposed).fileName(), QStringLiteral("555_2"));
    EXPECT_EQ(m_document->Title(), QStringLiteral("555_2"));
}

// End to end: the form reads a simulated meter through the real link and the data/ command
// lists, edits are sent back, and the simulator's meter file then holds them.
TEST_F(FormListTest, ReadEditAndSendAgainstTheSimulatedMeter)
{
    for (const char *list : { "read20.que", "send20.que" }) {
        if (!QFile::exists(QString::fromLatin1(list)))
            GTEST_SKIP() << list << " is not among the data files";
    }
    const QString simImage = QDir::current().filePath(QStringLiteral("sim-meter.mtr"));
    QFile::remove(simImage);
    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--firmware"), QStringLiteral("4.1A"), QStringLiteral("--serial"),
            QStringLiteral("31415"), QStringLiteral("--range"), QStringLiteral("2"),
            QStringLiteral("--interval"), QStringLiteral("600000"), QStringLiteral("--image"),
            simImage, QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000));
    const auto stopSim = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished(5000);
    });
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    ASSERT_FALSE(pty.isEmpty());

    LinkTiming timing;
    timing.pacingScale = 0.04; // 1 ms per command byte
    CSerial serial(pty, timing);
    serial.SetBaudText(QStringLiteral("9600"));
    ASSERT_EQ(serial.OpenPort(), 1) << qPrintable(serial.LastError());
    CSerialMeterLink link(&serial);
    ZarnFormView::SetMeterLink(&link);

    m_form->OnReadActive();
    ASSERT_GT(RunList(ZarnFormView::kReadTimer), 0);
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join(QLatin1Char('|')));
    EXPECT_EQ(m_form->GetField(1048), QStringLiteral("31415"));
    EXPECT_EQ(m_document->Title(), QStringLiteral("31415_2"));

    // Edit the primary coefficient C and the Relay #2 OFF value as a user does.
    auto *primary = qobject_cast<QTreeWidget *>(m_form->Control(1047));
    ASSERT_EQ(primary->topLevelItemCount(), 10);
    Q_EMIT primary->itemClicked(primary->topLevelItem(2), 1);
    qobject_cast<QLineEdit *>(m_form->Control(1051))->setText(QStringLiteral("1.25"));
    m_form->OnCommand(AppCommand::Enter);
    EXPECT_EQ(primary->topLevelItem(2)->text(1), QStringLiteral("1.25"));
    qobject_cast<QLineEdit *>(m_form->Control(1012))->setText(QStringLiteral("2500"));

    // Half way through the image, a picture of the list's window for whoever asked for one.
    CQueView *runner = nullptr;
    const QString shots = qEnvironmentVariable("TARVIK_TRUST_SHOTS");
    HalfWayLink halfWay(&link, [&] {
        if (!shots.isEmpty() && runner)
            runner->grab().save(shots + QStringLiteral("/send-progress.png"));
    });
    ZarnFormView::SetMeterLink(&halfWay);
    m_form->OnSendActive();
    // The list's window is on screen while it runs: what its bar shows at each paint.
    runner = m_form->Runner();
    ASSERT_NE(runner, nullptr);
    runner->resize(410, 130);
    runner->show();
    QApplication::processEvents();
    struct Shown
    {
        int value, maximum;
        QString line;
    };
    QList<Shown> paints;
    PaintWatch watch([&] {
        paints.append({ runner->ProgressBar()->value(), runner->ProgressBar()->maximum(),
            runner->LineLabel()->text() });
    });
    runner->ProgressBar()->installEventFilter(&watch);
    ASSERT_GT(RunList(ZarnFormView::kSendTimer), 0);
    EXPECT_EQ(m_messages,
        QStringList { QStringLiteral("The meter acknowledged the configuration (not read back)") });
    m_messages.clear();
    // The image (three characters a byte and a carriage return) moved the bar from empty to
    // full in many visible steps, always forward, with the count of bytes beside it.
    const int total = int(m_form->GetField(1051).size()) + 1;
    ASSERT_GT(total, 600);
    QList<int> imageSteps;
    for (const Shown &shown : paints)
        if (shown.maximum == total)
            imageSteps.append(shown.value);
    // The window paints as the event loop gets to it while the bytes go out (about one paint a
    // frame), not once per percent.
    EXPECT_GE(imageSteps.size(), 20);
    EXPECT_TRUE(std::is_sorted(imageSteps.begin(), imageSteps.end()));
    EXPECT_LE(imageSteps.value(0, -1), total / 10);
    EXPECT_EQ(imageSteps.value(imageSteps.size() - 1), total);
    const QRegularExpression sending(
        QStringLiteral("Sending (\\d+) of %1 bytes to the meter").arg(total));
    EXPECT_TRUE(std::any_of(paints.begin(), paints.end(), [&](const Shown &s) {
        const QRegularExpressionMatch match = sending.match(s.line);
        const int sentSoFar = match.hasMatch() ? match.captured(1).toInt() : -1;
        return sentSoFar > total / 3 && sentSoFar < 2 * total / 3;
    })) << "half way";
    const QString sent = QStringLiteral("Sent %1 bytes, waiting for the meter's answer").arg(total);
    EXPECT_TRUE(
        std::any_of(paints.begin(), paints.end(), [&](const Shown &s) { return s.line == sent; }));
    ZarnFormView::SetMeterLink(&m_meter);
    serial.ClosePort();

    CMeterDoc stored;
    ASSERT_TRUE(stored.OnOpenDocument(simImage));
    const quint32 bits = stored.Vars()->Value(QStringLiteral("coeff[2]"), 4);
    float coefficient = 0;
    std::memcpy(&coefficient, &bits, sizeof coefficient);
    EXPECT_FLOAT_EQ(coefficient, 1.25f);
    EXPECT_EQ(stored.Vars()->Value(QStringLiteral("evalue[2]"), 4), 2500u);
    EXPECT_EQ(stored.Vars()->Value(QStringLiteral("serial_num"), 4), 31415u);
}

namespace {
float FloatOf(CMeterDoc &doc, const char *name)
{
    const quint32 bits = doc.Vars()->Value(QString::fromLatin1(name), 4);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
} // namespace

TEST_F(FormListTest, UnitsChangeReExpressesTheRanges)
{
    auto *units = qobject_cast<QComboBox *>(m_form->Control(1004));
    ASSERT_GT(units->count(), 1);
    m_form->SetField(1039, QStringLiteral("2.000000"));
    m_form->SetField(1038, QStringLiteral("50.000000"));
    m_form->SetField(1018, QStringLiteral("40.000000"));
    m_form->SetField(1004, QStringLiteral("SCFM")); // code 0: cubic feet per minute
    m_form->OnCommand(AppCommand::Save); // collects the form in SCFM
    ASSERT_EQ(m_document->Context().units, 0);
    const int scfh = units->findText(QStringLiteral("SCFH"), Qt::MatchStartsWith);
    ASSERT_GE(scfh, 0);
    units->setCurrentIndex(scfh);
    Q_EMIT units->activated(scfh);
    EXPECT_EQ(m_document->Context().units, 1);
    EXPECT_EQ(m_document->Vars()->Value(QStringLiteral("flow_func"), 1), 1u);
    // Per hour shows sixty times the per-minute ranges; the cross-section stays.
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(m_form->GetField(1038)), 3000.0);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(m_form->GetField(1018)), 2400.0);
    EXPECT_DOUBLE_EQ(ZarnFormRules::LeadingNumber(m_form->GetField(1039)), 2.0);
}

TEST_F(FormListTest, LeavingAParameterCollectsTheForm)
{
    m_form->SetField(1004, QStringLiteral("SCFM"));
    m_form->SetField(1039, QStringLiteral("1.000000"));
    auto *fullScale = qobject_cast<QLineEdit *>(m_form->Control(1018));
    fullScale->setText(QStringLiteral("90"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(fullScale, &out);
    EXPECT_FLOAT_EQ(FloatOf(*m_document, "meter_s"), 90.0f);
    // A field outside the parameters is collected only with the rest.
    auto *value = qobject_cast<QLineEdit *>(m_form->Control(1010));
    value->setText(QStringLiteral("321"));
    QApplication::sendEvent(value, &out);
    EXPECT_NE(m_document->Vars()->Value(QStringLiteral("evalue[0]"), 4), 321u);
}

// A number field keeps only a text that is all one usable number: a refused text gives way to
// what the field held before the typing, and a message names the field. Save and Send check a
// field still being typed into; a field left while a list runs leaves the document to the list.
TEST_F(FormListTest, TypedNumbersAreCheckedBeforeTheyReachTheDocument)
{
    m_form->SetField(1004, QStringLiteral("SCFM"));
    m_form->SetField(1039, QStringLiteral("1.000000"));
    m_form->SetField(1018, QStringLiteral("80"));
    const auto typeInto = [this](int id, const char *text) {
        auto *edit = qobject_cast<QLineEdit *>(m_form->Control(id));
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &in);
        const QString before = edit->text();
        edit->setText(QLatin1String(text));
        Q_EMIT edit->textEdited(edit->text());
        return std::make_pair(edit, before);
    };
    const struct
    {
        int id;
        const char *typed;
        const char *said; // empty: the text stands
    } rows[] = {
        { 1039, "abc", "X-Sect accepts a decimal number" },
        { 1036, "1,5", "Use a point as the decimal separator" },
        { 1018, "1e999", "Full Scale accepts" },
        { 1036, "3.5e38", "C Factor accepts" }, // a finite double beyond a float
        { 1035, "200", "Modbus Addr accepts a whole number from 0 to 127" },
        { 1045, "65536", "Password accepts a whole number from 0 to 65535" },
        { 1053, "nan", "Zero Cutoff % accepts" },
        { 1037, "2.5x", "Zero Offset accepts" },
        { 1045, "12.5", "Password accepts a whole number" },
        { 1010, "", "Value (Relay #1 OFF) accepts" },
        { 1018, "0x1p4", "" }, // the C library reads 16
        { 1035, " 17 ", "" },
        { 1069, "-1.5e-3", "" },
    };
    for (const auto &row : rows) {
        m_messages.clear();
        const auto [edit, before] = typeInto(row.id, row.typed);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
        const bool refused = std::strlen(row.said) > 0;
        EXPECT_EQ(edit->text(), refused ? before : QLatin1String(row.typed)) << row.typed;
        EXPECT_EQ(m_messages.size(), refused ? 1 : 0) << row.typed;
        if (refused) {
            EXPECT_TRUE(m_messages.value(0).contains(QLatin1String(row.said)))
                << qPrintable(m_messages.value(0));
        }
    }
    EXPECT_FLOAT_EQ(FloatOf(*m_document, "meter_s"), 16.0f);

    // Save and Send with a refused text still in its field: nothing stored, nothing sent.
    const QString path = m_document->PathName();
    const QByteArray file = ReadFile(path);
    m_messages.clear();
    const auto [xsect, xsectBefore] = typeInto(1039, "abc");
    EXPECT_FALSE(m_form->Save());
    EXPECT_EQ(ReadFile(path), file);
    EXPECT_EQ(xsect->text(), xsectBefore);
    typeInto(1036, "1,5");
    m_form->OnSendActive();
    EXPECT_TRUE(m_opens.empty());
    EXPECT_EQ(m_messages.size(), 2);

    // A field left while a read runs: the typed text waits in its field.
    WriteFile(QStringLiteral("read20.que"), kReadList);
    m_form->OnReadActive();
    ASSERT_NE(m_form->Runner(), nullptr);
    const QString image = m_document->ImageToText();
    QLineEdit *typed = typeInto(1039, "2.5").first;
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(typed, &out);
    EXPECT_EQ(m_document->ImageToText(), image);
    EXPECT_EQ(typed->text(), QStringLiteral("2.5"));
}

TEST_F(FormListTest, ConvertAsksThenMovesTheDataToTheChosenVersion)
{
    {
        CPrefs prefs;
        prefs.SetVersion(QStringLiteral("3.9G"));
        g_DocVersion = prefs.GetVersion(); // as Settings puts it in force
    }
    m_form->SetField(1048, QStringLiteral("8642"));
    m_form->OnCommand(AppCommand::Save);
    for (const bool accept : { false, true }) {
        QTimer::singleShot(0, [accept] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                accept ? dialog->accept() : dialog->reject();
        });
        EXPECT_TRUE(m_form->OnCommand(AppCommand::Convert));
        EXPECT_EQ(m_document->Vars()->SectionName(),
            accept ? QStringLiteral("[3.9G]") : QStringLiteral("[4.1A]"));
    }
    EXPECT_EQ(m_form->GetField(1048), QStringLiteral("8642"));
    m_form->TimerTick(ZarnFormView::kClockTimer);
    EXPECT_EQ(m_form->GetField(1067), QStringLiteral("3.9G"));
    EXPECT_TRUE(qobject_cast<QLineEdit *>(m_form->Control(1068))->isReadOnly());
}

// End to end with the checks around a send: the question lists exactly the edits (meter value ->
// form value), a No sends nothing, a Yes writes them and the read back confirms them, the as-found
// copies hold what the meter held, the trail carries the changes; a meter that stores a byte
// wrong is caught. (With both checks off, the other send tests here run the list alone.)
TEST_F(FormListTest, SendComparesWritesAndReadsBackAgainstTheSimulatedMeter)
{
    QDir(QStringLiteral("checks")).removeRecursively();
    AuditSettings::SetFolder(QDir::current().filePath(QStringLiteral("checks")));
    AuditSettings::SetAsFoundFolder(QDir::current().filePath(QStringLiteral("checks")));
    AuditSettings::SetCompareBeforeSend(true);
    AuditSettings::SetReadBackAfterSend(true);
    QStringList asked;
    bool answer = false;
    const auto oldAsk = UserMessage::SetAskHandler([&](const QString &text, const QString &) {
        asked << text;
        return answer;
    });
    const QString simImage = QDir::current().filePath(QStringLiteral("checks-sim.mtr"));
    QFile::remove(simImage);
    std::unique_ptr<QProcess> sim;
    std::unique_ptr<CSerial> serial;
    std::unique_ptr<CSerialMeterLink> link;
    const auto stopSim = [&] {
        ZarnFormView::SetMeterLink(&m_meter);
        link.reset();
        serial.reset();
        if (sim) {
            sim->kill();
            sim->waitForFinished(5000);
        }
    };
    const auto restore = qScopeGuard([&] {
        stopSim();
        UserMessage::SetAskHandler(oldAsk);
        AuditSettings::SetFolder(QString());
        AuditSettings::SetAsFoundFolder(QString());
    });
    const auto startSim = [&](const QStringList &extra) {
        sim = std::make_unique<QProcess>();
        sim->start(TestEnv::MeterSimPath(),
            QStringList { "--firmware", "4.1A", "--serial", "31415", "--range", "2", "--interval",
                "600000", "--image", simImage, "--data-dir", TestEnv::DataDir() }
                + extra);
        ASSERT_TRUE(sim->waitForStarted(5000) && sim->waitForReadyRead(5000));
        LinkTiming timing;
        timing.pacingScale = 0.04;
        serial
            = std::make_unique<CSerial>(QString::fromLocal8Bit(sim->readLine()).trimmed(), timing);
        serial->SetBaudText(QStringLiteral("9600"));
        ASSERT_EQ(serial->OpenPort(), 1) << qPrintable(serial->LastError());
        link = std::make_unique<CSerialMeterLink>(serial.get());
        ZarnFormView::SetMeterLink(link.get());
    };
    // Presses Send, lets the form's own timers run it to its last word; the trail's last line.
    const auto send = [&](const char *relay) {
        qobject_cast<QLineEdit *>(m_form->Control(1012))->setText(QLatin1String(relay));
        m_messages.clear();
        asked.clear();
        const size_t lines = AuditLog(AuditSettings::TrailPath()).Load().records.size();
        m_form->OnSendActive();
        std::vector<AuditRecord> trail;
        EXPECT_TRUE(TestEnv::WaitUntil([&] {
            trail = AuditLog(AuditSettings::TrailPath()).Load().records;
            return !m_form->Runner() && trail.size() > lines && (!answer || !m_messages.isEmpty());
        }));
        return trail.empty() ? AuditRecord() : trail.back();
    };
    const auto changes
        = [&] { return asked.value(0).split(QLatin1Char('\n')).filter(QStringLiteral(" -> ")); };

    startSim({});
    m_form->OnReadActive();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !m_form->Runner(); }));
    ASSERT_EQ(m_form->GetField(1048), QStringLiteral("31415"));
    const QString relay = m_form->GetField(1012).trimmed();
    const QString modbus = m_form->GetField(1035).trimmed();
    ASSERT_NE(modbus, QStringLiteral("17"));
    const QByteArray held = ReadFile(simImage);
    qobject_cast<QLineEdit *>(m_form->Control(1035))->setText(QStringLiteral("17"));

    EXPECT_EQ(send("2500").result, QStringLiteral("cancelled")); // answered No
    EXPECT_EQ(m_opens[QStringLiteral("send20.que")], 0);
    EXPECT_EQ(ReadFile(simImage), held);
    answer = true;
    const AuditRecord sent = send("2500");
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(changes(),
        (QStringList { QStringLiteral("Relay #2 OFF Value: %1 -> 2500").arg(relay),
            QStringLiteral("Modbus Addr: %1 -> 17").arg(modbus) }));
    EXPECT_FALSE(asked.first().contains(QLatin1String("but the meter connected is")));
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Meter stored the configuration") });
    EXPECT_EQ(m_opens[QStringLiteral("read20.que")], 4) << "the read, two compares, a read back";
    CMeterDoc stored;
    ASSERT_TRUE(stored.OnOpenDocument(simImage));
    EXPECT_EQ(stored.Vars()->Value(QStringLiteral("evalue[2]"), 4), 2500u);
    EXPECT_EQ((QStringList { sent.result, sent.serial, sent.message }),
        (QStringList { "ok", "31415", "Meter stored the configuration" }));
    EXPECT_EQ(sent.changes,
        (std::vector<AuditRecord::Change> { { "Relay #2 OFF Value", 1012, relay, "2500" },
            { "Modbus Addr", 1035, modbus, "17" } }));
    const QStringList found = QDir(QStringLiteral("checks/as-found"))
                                  .entryList({ QStringLiteral("31415_*.mtr") }, QDir::Files);
    ASSERT_EQ(found.size(), 2) << "declined and confirmed";
    for (const QString &name : found)
        EXPECT_EQ(ReadFile(QStringLiteral("checks/as-found/") + name), held);

    // What the meter holds already: nothing is asked, sent or kept as found.
    const int sends = m_opens[QStringLiteral("send20.que")];
    EXPECT_EQ(send("2500").result, QStringLiteral("unchanged"));
    EXPECT_TRUE(asked.isEmpty() && m_opens[QStringLiteral("send20.que")] == sends);
    EXPECT_TRUE(m_messages.value(0).startsWith(QLatin1String(SendWithChecks::kAlreadyHeldText)));
    EXPECT_EQ(QDir(QStringLiteral("checks/as-found")).entryList(QDir::Files).size(), 2);

    // A meter that stores one byte wrong: the read back names it, and no success is said.
    stopSim();
    startSim({ "--store-wrong", "40" });
    const AuditRecord wrong = send("2600");
    EXPECT_EQ(changes(), QStringList { QStringLiteral("Relay #2 OFF Value: 2500 -> 2600") });
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().startsWith(
        QLatin1String("The meter did not store the configuration as sent:\n")))
        << qPrintable(m_messages.first());
    EXPECT_EQ((QStringList { wrong.result, wrong.message }),
        (QStringList { "mismatch", m_messages.first() }));
}

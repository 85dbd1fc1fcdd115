// The Quixal form inside the program against the simulated Quixal meter: the New Quixal
// command, Read and Send with the data/ command lists over the application's meter link.
#include "meterqx/ZarnQXFormView.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "meter/MeterVars.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "support/ImmediateMeterLink.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>

#include <gtest/gtest.h>

namespace {

using namespace QXFieldId;

// The simulator's meter file as bytes (it writes "%02X " per byte).
QByteArray ImageBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QByteArray::fromHex(file.readAll().simplified().replace(' ', ""));
}

// Runs the event loop until the form's list has stopped: 1, or 0 when none ran, or -1 when it
// never stopped.
int RunList(ZarnQXFormView *form, int timerId)
{
    if (form->RunningList() != timerId)
        return 0;
    return TestEnv::WaitUntil([&] { return form->RunningList() != timerId; }) ? 1 : -1;
}

class SilentMeter : public ImmediateMeterLink
{
public:
    int exchanges = 0;
    int Send(const QByteArray &) override { return 1; }
    void Read(QByteArray &reply, int, int) override
    {
        ++exchanges;
        reply.clear();
    }
};

struct Firmware
{
    const char *version;
    const char *section; // the layout the read builds
    const char *serial;
};

class QXSimTest : public ::testing::TestWithParam<Firmware>
{
};

TEST_P(QXSimTest, ReadEditSendAgainstTheSimulatedMeter)
{
    const Firmware fw = GetParam();
    ResetGlobals();
    TestEnv::ClearPreferences();
    QStringList messages;
    auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    const auto restore = qScopeGuard([oldHandler] {
        UserMessage::SetHandler(oldHandler);
        ZarnFormBase::SetMeterLink(nullptr);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    const QString imageFile = QDir(TestEnv::WorkDir()).filePath(QStringLiteral("sim-meter.img"));
    QFile::remove(imageFile);
    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--series"), QStringLiteral("quixal"), QStringLiteral("--firmware"),
            QLatin1String(fw.version), QStringLiteral("--serial"), QLatin1String(fw.serial),
            QStringLiteral("--image"), imageFile, QStringLiteral("--interval"),
            QStringLiteral("600000"), QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000));
    const auto stopSim = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished(5000);
    });
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral(">= 4.1A"));
    }
    LinkTiming timing;
    timing.pacingScale = 0.04;
    CTarvikApp app(timing, false);
    ASSERT_TRUE(app.InitInstance());
    messages.clear();
    app.MainFrame()->resize(1366, 768);

    CDocManager *manager = app.DocManager();
    app.OnNewQuixal();
    ASSERT_EQ(manager->Documents().size(), 1);
    auto *doc = qobject_cast<QXMeterDoc *>(manager->Documents().first());
    ASSERT_NE(doc, nullptr);
    CChildFrame *frame = manager->FramesOf(doc).first();
    auto *form = qobject_cast<ZarnQXFormView *>(frame->View());
    ASSERT_NE(form, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(frame->size(), QSize(842, 540));
    EXPECT_EQ(g_DocKind, 5);
    EXPECT_EQ(doc->Vars()->SectionName(), QStringLiteral("[1.4A]"));

    // Read: the version answer builds the layout, the image fills the form, the title follows.
    qobject_cast<QPushButton *>(form->Control(Read))->click();
    ASSERT_NE(form->Runner(), nullptr);
    EXPECT_EQ(form->RunningList(), ZarnFormBase::kReadTimer);
    EXPECT_GE(RunList(form, ZarnFormBase::kReadTimer), 1);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
    EXPECT_EQ(doc->Vars()->SectionName(), QLatin1String(fw.section));
    EXPECT_EQ(form->GetField(SerialNumber), QLatin1String(fw.serial));
    EXPECT_EQ(doc->Title(), QLatin1String(fw.serial) + QStringLiteral("_1"));
    // The caption, less the desktop's modified marker (the read is not saved yet).
    EXPECT_EQ(frame->windowTitle().remove(QStringLiteral("[*]")), doc->Title());
    EXPECT_EQ(form->GetField(MeterVersion), QLatin1String(fw.version));
    const QByteArray meterBefore = ImageBytes(imageFile);
    ASSERT_FALSE(meterBefore.isEmpty());
    EXPECT_EQ(doc->Vars()->ImageToText().simplified().remove(QLatin1Char(' ')).toLatin1(),
        meterBefore.toHex().toUpper())
        << "the form holds the meter's image";
    const QString shot = qEnvironmentVariable("TARVIK_QX_APP_SHOT");
    if (!shot.isEmpty())
        frame->grab().save(shot.arg(QLatin1String(fw.version)));

    // Edit two fields and Send: exactly their bytes change in the meter. The send compares
    // with the meter first, asks with exactly the two edits, and reads the meter back after.
    QStringList asked;
    const auto oldAsk = UserMessage::SetAskHandler([&asked](const QString &text, const QString &) {
        asked << text;
        return true;
    });
    const auto restoreAsk = qScopeGuard([oldAsk] { UserMessage::SetAskHandler(oldAsk); });
    // The read's list window, closed as its run ended, is gone before the same list reads
    // again (a user's press comes long after).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qobject_cast<QLineEdit *>(form->Control(Password))->setText(QStringLiteral("4660"));
    qobject_cast<QCheckBox *>(form->Control(HoldFlow))->setChecked(true);
    auto *send = qobject_cast<QPushButton *>(form->Control(Send));
    send->click();
    CQueView *runner = form->Runner();
    ASSERT_NE(runner, nullptr);
    send->click(); // a second press only brings the list forward
    EXPECT_EQ(form->Runner(), runner);
    EXPECT_EQ(form->RunningList(), ZarnFormBase::kCompareTimer);
    EXPECT_GE(RunList(form, ZarnFormBase::kCompareTimer), 1);
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return form->RunningList() == ZarnFormBase::kSendTimer; }))
        << qPrintable(messages.join(QLatin1Char('|')));
    ASSERT_EQ(asked.size(), 1);
    const QStringList changes
        = asked.first().split(QLatin1Char('\n')).filter(QStringLiteral(" -> "));
    ASSERT_EQ(changes.size(), 2) << qPrintable(asked.first());
    EXPECT_EQ(changes.filter(QRegularExpression(QStringLiteral(" -> 4660$"))).size(), 1)
        << qPrintable(asked.first());
    EXPECT_EQ(changes.filter(QRegularExpression(QStringLiteral(": FALSE -> TRUE$"))).size(), 1)
        << qPrintable(asked.first());
    EXPECT_GE(RunList(form, ZarnFormBase::kSendTimer), 1);
    EXPECT_TRUE(TestEnv::WaitUntil(
        [&] { return !messages.isEmpty() && form->RunningList() != ZarnFormBase::kVerifyTimer; }));
    // The end of the send says the meter took the image, once it was read back.
    EXPECT_EQ(messages, QStringList { QStringLiteral("Meter stored the configuration") });
    messages.clear();
    const QByteArray meterAfter = ImageBytes(imageFile);
    ASSERT_EQ(meterAfter.size(), meterBefore.size());
    MeterVars *vars = doc->Vars();
    const int lockout = vars->IndexOf(QStringLiteral("lockout"));
    const int hold2 = vars->IndexOf(QStringLiteral("hold2"));
    for (int i = 0; i < meterBefore.size(); ++i) {
        // The file holds each variable most significant byte first.
        const bool edited = i == lockout || i == lockout + 1 || i == hold2;
        if (!edited) {
            EXPECT_EQ(meterAfter.at(i), meterBefore.at(i)) << "byte " << i;
        }
    }
    EXPECT_EQ(quint8(meterAfter.at(lockout)), 0x12);
    EXPECT_EQ(quint8(meterAfter.at(lockout + 1)), 0x34);
    EXPECT_EQ(quint8(meterAfter.at(hold2)), quint8(meterBefore.at(hold2)) | 0x80);

    // A meter that does not answer: the list says so and ends.
    SilentMeter silent;
    ZarnFormBase::SetMeterLink(&silent);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the read back's list
    const QString title = doc->Title();
    form->OnRead();
    EXPECT_GE(RunList(form, ZarnFormBase::kReadTimer), 1);
    EXPECT_GT(silent.exchanges, 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first(), QStringLiteral("Meter did not answer"));
    EXPECT_EQ(doc->Title(), title);
    EXPECT_EQ(doc->Vars()->SectionName(), QLatin1String(fw.section))
        << "a failed read keeps the table";
}

INSTANTIATE_TEST_SUITE_P(Firmware, QXSimTest,
    ::testing::Values(Firmware { "1.4A", "[1.4A]", "14001" },
        Firmware { "1.3A", "[1.0A]", "13002" }, Firmware { "1.2B", "[4.1A]", "12003" }),
    [](const ::testing::TestParamInfo<Firmware> &param) {
        return QString::fromLatin1(param.param.version).remove(QLatin1Char('.')).toStdString();
    });

} // namespace

// The datalogger window while it talks to tarvik-metersim: the event loop keeps ticking during
// a dialogue, the window shows what runs and how far, Cancel ends it at once and leaves the
// port free and the status "IDLE"; a cancelled log transfer keeps what arrived and a repeat
// completes; a port that is not open, or held by another window, is said at once.
#include "../../bench/StallMeter.h"
#include "../metersim/SimHarness.h"
#include "DialogueWait.h"

#include "base/AppTitle.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "datalog/LogFileWriter.h"
#include "datalog/MeterDialogue.h"
#include "link/CSerial.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The simulator, the meter link on it with the real waits (sends paced a tenth as long) and a
// datalogger window, recording the messages the user would see.
struct WindowRig
{
    explicit WindowRig(QStringList args)
    {
        args << QStringLiteral("--interval") << QStringLiteral("200");
        if (sim.Start(args) != 1)
            return;
        sim.ClosePort();
        LinkTiming timing;
        timing.pacingScale = 0.1;
        link = std::make_unique<CSerial>(sim.SlavePath(), timing);
        link->SetPortText(sim.SlavePath());
        link->SetBaudText(QStringLiteral("9600"));
        if (!link->OpenPort())
            return;
        previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            messages << caption.trimmed() + QLatin1Char('|') + text;
        });
        previousInform
            = UserMessage::SetInformHandler([this](const QString &text, const QString &caption) {
                  messages << QStringLiteral("(i) ") + caption.trimmed() + QLatin1Char('|') + text;
              });
        previousAsk = UserMessage::SetAskHandler([this](const QString &text, const QString &) {
            asked << text;
            return answer;
        });
        view = std::make_unique<Datalog>(nullptr, link.get());
        view->OnInitialUpdate();
        view->Core().fields.fileName = dir.filePath(QStringLiteral("meter.log"));
        view->FieldsChanged();
        started = true;
    }
    ~WindowRig()
    {
        view.reset();
        if (previous) {
            UserMessage::SetHandler(previous);
            UserMessage::SetInformHandler(previousInform);
            UserMessage::SetAskHandler(previousAsk);
        }
    }
    DatalogCore &Core() { return view->Core(); }
    QPushButton *Button(Datalog::Button b) { return view->ButtonOf(b); }
    // Runs the event loop until done() holds; the longest gap between 10 ms ticks meanwhile.
    qint64 TickUntil(const std::function<bool()> &done, int timeoutMs, bool *reached = nullptr)
    {
        StallMeter meter;
        meter.Start();
        const bool ok = TestEnv::WaitUntil(done, timeoutMs);
        meter.Stop();
        if (reached)
            *reached = ok;
        return meter.MaxGapMs();
    }

    QTemporaryDir dir;
    SimHarness sim;
    std::unique_ptr<CSerial> link;
    std::unique_ptr<Datalog> view;
    QStringList messages;
    QStringList asked;
    bool answer = false;
    UserMessage::Handler previous;
    UserMessage::Handler previousInform;
    UserMessage::AskHandler previousAsk;
    bool started = false;
};

// A stored log of about size bytes with LF line ends, as the simulator keeps it.
QByteArray StoredLog(int size)
{
    QByteArray text = "\"Serial#  1   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
                      "\"Snapshot Interval = 5 secs   Flow Units = LBPM   Total Units = LBP\n\n"
                      "\"Options Selected:\r\n;Line ; Flow \n";
    for (int row = 1; text.size() < size - 40; ++row)
        text += "; " + QByteArray::number(row) + "; 12.25 \n";
    return text + "\n\"Stop Ocurred 01/31/2007 02:20:00 PM\n";
}

} // namespace

TEST(DatalogCancel, UpdateOnASilentMeterIsCancelledAndThePortIsFreeAtOnce)
{
    WindowRig rig({ QStringLiteral("--silent") });
    ASSERT_TRUE(rig.started);
    rig.Button(Datalog::Update)->click();
    EXPECT_TRUE(rig.Core().IsBusy());
    EXPECT_TRUE(rig.link->IsClaimed());
    // One second in: the window ticks, says what it does and how far, and offers Cancel only.
    bool reached = false;
    QElapsedTimer clock;
    clock.start();
    EXPECT_LT(rig.TickUntil([&clock] { return clock.elapsed() >= 1000; }, 5000), 1000);
    EXPECT_EQ(rig.view->StatusLabel()->text(), QStringLiteral("Contacting Meter"));
    EXPECT_EQ(rig.view->ModeLabel()->text(), QStringLiteral("METER Comm Mode"));
    EXPECT_EQ(rig.view->ProgressLabel()->text(), QStringLiteral("waiting for the meter to answer"));
    for (Datalog::Button b :
        { Datalog::Update, Datalog::StartPc, Datalog::TransferLog, Datalog::SendConfig,
            Datalog::ReadConfig, Datalog::StartMeter, Datalog::StopMeter, Datalog::Load })
        EXPECT_FALSE(rig.Button(b)->isEnabled()) << b;
    EXPECT_TRUE(rig.Button(Datalog::Cancel)->isEnabled());
    if (const QString shot = qEnvironmentVariable("TARVIK_DATALOG_SCREENSHOT"); !shot.isEmpty())
        rig.view->grab().save(shot + QStringLiteral(".dialogue.png"));

    // Cancel: the dialogue ends at its wait, the status is "IDLE" at once, the meter is sent
    // back to run mode (11 paced bytes) and the port is free.
    rig.Button(Datalog::Cancel)->click();
    clock.restart();
    const qint64 gap
        = rig.TickUntil([&rig] { return rig.view->StatusLabel()->text() == QLatin1String("IDLE"); },
            5000, &reached);
    EXPECT_TRUE(reached);
    EXPECT_LT(clock.elapsed(), 250);
    EXPECT_LT(gap, 1000);
    EXPECT_TRUE(rig.TickUntil([&rig] { return !rig.Core().IsBusy(); }, 5000) < 1000);
    EXPECT_FALSE(rig.link->IsClaimed());
    EXPECT_EQ(rig.view->ModeLabel()->text(), QString());
    EXPECT_EQ(rig.view->ProgressLabel()->text(), QString());
    EXPECT_TRUE(rig.Button(Datalog::Update)->isEnabled());
    EXPECT_FALSE(rig.Button(Datalog::Cancel)->isEnabled());
    EXPECT_TRUE(rig.messages.isEmpty()) << qPrintable(rig.messages.join('\n'));
    EXPECT_FALSE(rig.Core().state.meterParametersRead);

    // Another window's dialogue holds the port: said at once, nothing sent, status kept.
    {
        SerialPort::Claim other(rig.link.get(), &rig);
        rig.Button(Datalog::Update)->click();
        EXPECT_FALSE(rig.Core().IsBusy());
        EXPECT_EQ(rig.messages,
            QStringList(QStringLiteral("Flow Meter Communication Error|")
                + QLatin1String(MeterDialogue::kPortBusyText)));
    }
    // A port that is not open: said at once with the port's name, not run into the waits.
    rig.messages.clear();
    rig.link->ClosePort();
    clock.restart();
    for (Datalog::Button b : { Datalog::Update, Datalog::TransferLog, Datalog::SendConfig,
             Datalog::ReadConfig, Datalog::StartMeter, Datalog::StartPc })
        rig.Button(b)->click();
    EXPECT_LT(clock.elapsed(), 250);
    EXPECT_FALSE(rig.Core().IsBusy());
    EXPECT_EQ(rig.messages.size(), 6);
    EXPECT_EQ(rig.messages.value(0),
        QStringLiteral("Flow Meter Communication Error|") + rig.link->NotOpenText());
    EXPECT_TRUE(rig.link->NotOpenText().contains(rig.sim.SlavePath()));
    EXPECT_EQ(rig.view->StatusLabel()->text(), QStringLiteral("IDLE"));

    // Closed in the middle of a dialogue: the window goes, the port is released.
    rig.link->ReopenPort();
    ASSERT_EQ(rig.link->IsEnabled(), 1) << qPrintable(rig.link->LastError());
    rig.messages.clear();
    rig.Button(Datalog::Update)->click();
    clock.restart();
    rig.TickUntil([&clock] { return clock.elapsed() >= 300; }, 2000);
    EXPECT_TRUE(rig.link->IsClaimed());
    rig.view.reset();
    EXPECT_FALSE(rig.link->IsClaimed());
    rig.TickUntil([&clock] { return clock.elapsed() >= 600; }, 2000);
    EXPECT_TRUE(rig.messages.isEmpty()) << qPrintable(rig.messages.join('\n'));
}

TEST(DatalogCancel, TransferCancelledHalfWayThenRepeatedToCompletion)
{
    // 12,000 bytes at 19,200 baud: over 6 s on the line.
    QTemporaryDir dir;
    const QByteArray stored = StoredLog(12000);
    const QString logPath = dir.filePath(QStringLiteral("stored.bin"));
    WriteFile(logPath, stored);
    WindowRig rig(
        { QStringLiteral("--log"), logPath, QStringLiteral("--baud"), QStringLiteral("19200") });
    ASSERT_TRUE(rig.started);
    const QString file = rig.Core().fields.fileName;
    const QString partial = rig.dir.filePath(QStringLiteral("meter.partial.log"));
    const QByteArray earlier = "\"an earlier log the transfer must not cut\r\n";
    WriteFile(file, earlier);
    const QByteArray header = "\"Halvren - Flow Meter Datalog Filename " + file.toLatin1()
        + "\r\n\"Full Scale Flow Rate = 80.000000\r\n";
    QByteArray onDisk = stored;
    onDisk.replace('\n', "\r\n");
    // What the user is told after stopping a transfer: which file holds what, as information.
    const auto cutNotice = [&](const QString &kept, const QByteArray &arrived) {
        return QStringLiteral("(i) %1|The transfer of the meter's log was cancelled.\n%2; what "
                              "arrived (%3 of %4 bytes) is kept in %5.")
            .arg(QLatin1String(kAppTitle), kept)
            .arg(arrived.size() - arrived.count('\n')) // the file's line ends gained a CR each
            .arg(stored.size())
            .arg(partial);
    };
    const QString leftAsItWas = file + QStringLiteral(" is left as it was");
    const QString draining = QStringLiteral("Waiting for the meter to finish sending its log");

    bool reached = false;
    const auto halfWay = [&rig] {
        const QString p = rig.view->ProgressLabel()->text();
        return p.endsWith(QLatin1String(" bytes"))
            && p.section(QLatin1Char(' '), 0, 0).toInt() >= 6000;
    };
    // Back in run mode, once the rest of the log is out, the meter streams readings again, and
    // nothing of the log is left to be taken for the next dialogue's reply (unless a second
    // Cancel cut the wait for it short).
    const auto streamsAgain = [&rig](bool logLeft = false) {
        QByteArray stream;
        TestEnv::WaitUntil(
            [&] {
                unsigned char b = 0;
                while (rig.link->ReadByte(&b) == 1)
                    stream.append(char(b));
                return stream.contains("SCFM");
            },
            15000);
        return stream.contains("SCFM") && (logLeft || !stream.contains("12.25"))
            ? std::string()
            : stream.right(200).toStdString();
    };

    // Cancel half way; a second Cancel while the rest drains ends the wait at once.
    for (const bool twice : { false, true }) {
        SCOPED_TRACE(twice ? "Cancel twice" : "Cancel once");
        rig.messages.clear();
        rig.Button(Datalog::TransferLog)->click();
        EXPECT_LT(rig.TickUntil(halfWay, 30000, &reached), 1000);
        ASSERT_TRUE(reached) << qPrintable(rig.view->ProgressLabel()->text());
        EXPECT_EQ(rig.view->StatusLabel()->text(), QStringLiteral("Data Transfer in Progress"));
        EXPECT_TRUE(rig.view->ProgressLabel()->text().endsWith(
            QStringLiteral(" of %1 bytes").arg(stored.size())));

        rig.Button(Datalog::Cancel)->click();
        rig.TickUntil([&] { return rig.view->StatusLabel()->text() == draining; }, 5000, &reached);
        EXPECT_TRUE(reached) << qPrintable(rig.view->StatusLabel()->text());
        QElapsedTimer clock;
        clock.start();
        if (twice)
            rig.Button(Datalog::Cancel)->click();
        rig.TickUntil([&rig] { return rig.view->StatusLabel()->text() == QLatin1String("IDLE"); },
            30000, &reached);
        EXPECT_TRUE(reached);
        if (twice) {
            EXPECT_LT(clock.elapsed(), 1000);
        }
        EXPECT_LT(rig.TickUntil([&rig] { return !rig.Core().IsBusy(); }, 5000), 1000);
        EXPECT_FALSE(rig.link->IsClaimed());
        EXPECT_EQ(ReadFile(file), earlier);
        const QByteArray cut = ReadFile(partial);
        ASSERT_TRUE(cut.startsWith(header)) << cut.left(200).constData();
        const QByteArray arrived = cut.mid(header.size());
        EXPECT_GE(arrived.size(), 6000);
        EXPECT_LT(arrived.size(), onDisk.size());
        EXPECT_TRUE(onDisk.startsWith(arrived));
        EXPECT_TRUE(rig.Core().log.snapshotList.isEmpty());
        EXPECT_EQ(rig.messages, QStringList(cutNotice(leftAsItWas, arrived)));
        EXPECT_EQ(streamsAgain(twice), std::string());
    }

    // Again, to its end: the whole log replaces the earlier one and is loaded into the lists.
    rig.messages.clear();
    rig.Button(Datalog::TransferLog)->click();
    EXPECT_LT(rig.TickUntil([&rig] { return !rig.Core().IsBusy(); }, 90000, &reached), 1000);
    EXPECT_TRUE(reached);
    EXPECT_EQ(ReadFile(file).toStdString(), (header + onDisk).toStdString());
    EXPECT_FALSE(QFile::exists(partial));
    EXPECT_EQ(rig.view->StatusLabel()->text(), QStringLiteral("IDLE"));
    EXPECT_EQ(rig.Core().log.logFlowUnits, QStringLiteral("LBPM"));
    EXPECT_GE(rig.Core().log.snapshotList.size(), 100);
    EXPECT_EQ(rig.Core().log.stopList.value(0).trimmed(),
        QStringLiteral("\"Stop Ocurred 01/31/2007 02:20:00 PM"));
    EXPECT_TRUE(rig.messages.isEmpty()) << qPrintable(rig.messages.join('\n'));

    // The window closed half way through a transfer, once the user agreed (No is the default
    // and changes nothing): the link itself lets the rest of the log go by, holding the port,
    // then sends the meter back to run mode as soon as the log has ended (not after the
    // meter's idle apostrophes), and the application says what came of which file: here none
    // was there before, and none is written.
    ASSERT_TRUE(QFile::remove(file));
    rig.Button(Datalog::TransferLog)->click();
    rig.TickUntil(halfWay, 30000, &reached);
    ASSERT_TRUE(reached) << qPrintable(rig.view->ProgressLabel()->text());
    EXPECT_FALSE(rig.view->CanClose());
    EXPECT_EQ(rig.asked, QStringList(Datalog::kCloseWhileTransferringText));
    EXPECT_TRUE(rig.Core().IsBusy());
    rig.answer = true;
    EXPECT_TRUE(rig.view->CanClose());
    QElapsedTimer sinceClose;
    sinceClose.start();
    rig.view.reset();
    EXPECT_TRUE(rig.link->IsClaimed());
    EXPECT_TRUE(TestEnv::WaitUntil([&rig] { return !rig.link->IsClaimed(); }, 30000));
    const QByteArray cut = ReadFile(partial).mid(header.size());
    // The rest of the log at 19,200 baud (1,920 bytes a second), with room for a loaded machine
    // well short of the 10 s of apostrophes.
    EXPECT_LT(
        sinceClose.elapsed(), (stored.size() - cut.size() + cut.count('\n')) * 1000 / 1920 + 5000);
    EXPECT_EQ(streamsAgain(), std::string());
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(rig.messages,
        QStringList(cutNotice(QStringLiteral("Nothing was written to ") + file, cut)));
}

// A transfer that cannot end in a whole file (disk full, name not replaceable, empty memory) keeps
// the earlier log and says why.
TEST(DatalogCancel, TransferEndsWholeOrKeepsTheEarlierLog)
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("stored.bin"));
    WriteFile(logPath, StoredLog(600));
    // A full disk with no earlier log must not claim to have left one as it was.
    enum Fault { DiskFull, TargetIsAFolder, EmptyMemory, DiskFullNoEarlier };
    const char *const said[]
        = { "is left as it was", "could not replace", nullptr, "Nothing was written to" };
    for (const Fault fault : { DiskFull, TargetIsAFolder, EmptyMemory, DiskFullNoEarlier }) {
        SCOPED_TRACE(int(fault));
        const char *const expected = said[fault];
        const bool diskFull = fault == DiskFull || fault == DiskFullNoEarlier;
        if (diskFull && !QFile::exists(QStringLiteral("/dev/full")))
            continue;
        WindowRig rig(fault == EmptyMemory ? QStringList()
                                           : QStringList({ QStringLiteral("--log"), logPath }));
        ASSERT_TRUE(rig.started);
        const QString file = rig.Core().fields.fileName;
        const QString partial = rig.dir.filePath(QStringLiteral("meter.partial.log"));
        const QByteArray earlier = "\"the earlier log\r\n";
        if (fault == TargetIsAFolder)
            ASSERT_TRUE(QDir(rig.dir.path()).mkpath(QStringLiteral("meter.log/inside")));
        else if (fault != DiskFullNoEarlier)
            WriteFile(file, earlier);
        if (diskFull) {
            ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), partial));
        }
        bool reached = false;
        rig.Button(Datalog::TransferLog)->click();
        rig.TickUntil([&rig] { return !rig.Core().IsBusy(); }, 30000, &reached);
        ASSERT_TRUE(reached);
        TestEnv::WaitUntil([&] { return !rig.messages.isEmpty(); }, expected ? 5000 : 300);
        EXPECT_EQ(rig.messages.size(), expected ? 1 : 0) << qPrintable(rig.messages.join('\n'));
        if (expected) {
            EXPECT_TRUE(rig.messages.value(0).contains(QLatin1String(expected)));
        }
        if (fault == TargetIsAFolder) {
            EXPECT_TRUE(QFileInfo(file).isDir());
            // The whole log is kept under the other name, and shown.
            EXPECT_TRUE(ReadFile(partial).endsWith("02:20:00 PM\r\n"));
            EXPECT_FALSE(rig.Core().log.snapshotList.isEmpty());
        } else if (fault == DiskFullNoEarlier) {
            EXPECT_FALSE(QFileInfo::exists(file));
        } else {
            EXPECT_EQ(ReadFile(file), earlier);
            EXPECT_FALSE(QFileInfo::exists(partial));
        }
        EXPECT_EQ(rig.view->StatusLabel()->text(), QStringLiteral("IDLE"));
    }
}

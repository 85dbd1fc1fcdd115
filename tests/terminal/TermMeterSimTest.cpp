// The terminal from end to end: the program's New terminal command on a simulated meter.
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/AppServices.h"
#include "base/CChildFrame.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "link/CSerial.h"
#include "meter/ZarnFormFrame.h"
#include "meter/ZarnFormView.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"

#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct SimMeter
{
    const char *name;
    const char *firmware;
    const char *model;
    const char *revision;
    int range;
};

void PrintTo(const SimMeter &c, std::ostream *os)
{
    *os << c.name;
}

class TerminalOnMeterSim : public ::testing::TestWithParam<SimMeter>
{
protected:
    void SetUp() override
    {
        TestEnv::ClearPreferences();
        ResetGlobals();
        ZarnFormFrame::ResetSmallFrameCount();
    }
    void TearDown() override
    {
        if (m_sim.state() != QProcess::NotRunning) {
            m_sim.terminate();
            if (!m_sim.waitForFinished(3000))
                m_sim.kill();
        }
        ResetGlobals();
        ZarnFormFrame::ResetSmallFrameCount();
    }

    // Starts the simulator; its first output line is the pseudo-terminal's path.
    QString StartSim(const QStringList &arguments)
    {
        m_sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sim.start(TestEnv::MeterSimPath(), arguments);
        if (!m_sim.waitForStarted(5000))
            return QString();
        while (!m_sim.canReadLine()) {
            if (!m_sim.waitForReadyRead(5000))
                return QString();
        }
        return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
    }

    QProcess m_sim;
};

TEST_P(TerminalOnMeterSim, NewTerminalIdentifiesTheMeter)
{
    const SimMeter &c = GetParam();
    const QString port = StartSim({ QStringLiteral("--firmware"), QLatin1String(c.firmware),
        QStringLiteral("--model"), QLatin1String(c.model), QStringLiteral("--rev"),
        QLatin1String(c.revision), QStringLiteral("--range"), QString::number(c.range) });
    ASSERT_FALSE(port.isEmpty()) << "tarvik-metersim did not start";
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), port);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    }
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 1);

    app.OnNewTerminal();
    auto *view = qobject_cast<CTermView *>(app.MainFrame()->ActiveView());
    ASSERT_NE(view, nullptr) << "no terminal window";
    EXPECT_EQ(view->Link(), CTarvikApp::MeterLink());
    EXPECT_TRUE(view->IsTimerRunning());
    const QList<CChildFrame *> frames = app.DocManager()->FramesOf(view->GetDocument());
    ASSERT_EQ(frames.size(), 1);
    EXPECT_EQ(frames.first()->FrameGeometry(), ZarnFormFrame::kSmallGeometry);
    EXPECT_EQ(g_DocKind, 2);

    // The window's own timer puts the meter's answer to "[[[[[[[" on the screen.
    const TermScreen &screen = view->Document()->Screen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen.Text().contains("SELECT: "); }, 5000))
        << screen.Text().constData();
    EXPECT_EQ(AppServices::Meter().Model(), QLatin1String(c.model));
    EXPECT_EQ(AppServices::Meter().Version(), QLatin1String(c.firmware));
    EXPECT_EQ(AppServices::Meter().Revision(), QLatin1String(c.revision));
    EXPECT_EQ(AppServices::Meter().Range(), QString::number(c.range));
    EXPECT_TRUE(screen.RowText(1).contains(QByteArray(c.model) + " v" + c.firmware));

    const QString png = qEnvironmentVariable("TARVIK_TERMINAL_APP_PNG");
    if (!png.isEmpty())
        app.MainFrame()->grab().save(png.arg(QLatin1String(c.firmware)));
}

const SimMeter kSimMeters[] = {
    { "Kelvane41A", "4.1A", "500", "C", 2 },
    { "Kelvane40B", "4.0B", "240", "D", 3 },
};

INSTANTIATE_TEST_SUITE_P(CTermView, TerminalOnMeterSim, ::testing::ValuesIn(kSimMeters),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace

namespace {

// Keys typed into the terminal inside the program's main window: Return is the "enter"
// command and goes out once; the Ctrl+S accelerator saves and sends nothing.
TEST(TerminalInTheProgram, AcceleratorsAndEnterKey)
{
    TestEnv::ClearPreferences();
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
    PtyPair meter;
    ASSERT_TRUE(meter.IsValid());
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), meter.SlavePath());
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    }
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    app.OnNewTerminal();
    // The greeting is the window's own dialogue: it goes out while the event loop runs.
    QByteArray greeting;
    TestEnv::WaitUntil(
        [&] {
            greeting += meter.Receive(10, 10);
            return greeting.size() >= 7;
        },
        3000);
    EXPECT_EQ(greeting, QByteArray("[[[[[[["));
    auto *view = qobject_cast<CTermView *>(app.MainFrame()->ActiveView());
    ASSERT_NE(view, nullptr);
    app.MainFrame()->activateWindow();
    view->setFocus();

    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(meter.Receive(300), QByteArray("\r"));
    QTest::keyClicks(view, QStringLiteral("i2"));
    EXPECT_EQ(meter.Receive(300), QByteArray("i2"));
    QTest::keyClick(view, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(meter.Receive(300).isEmpty());
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
}

} // namespace

namespace {

// A terminal window open while a meter form reads the simulated meter takes none of the reply:
// the read holds the link, the terminal's 40 ms timer leaves it alone, and the form gets the
// whole configuration.
TEST(TerminalInTheProgram, TakesNoneOfAFormsReadReply)
{
    TestEnv::ClearPreferences();
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--serial"), QStringLiteral("271828"), QStringLiteral("--range"),
            QStringLiteral("4"), QStringLiteral("--interval"), QStringLiteral("600000"),
            QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000));
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), port);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.1A"));
    }
    {
        LinkTiming timing;
        timing.pacingScale = 0.04;
        CTarvikApp app(timing, false);
        ASSERT_TRUE(app.InitInstance());
        // The terminal's window without its greeting: only the form talks to the meter.
        CDocument *terminalDoc
            = app.DocManager()->OpenDocumentFile(QStringLiteral("Terminal.trm"), false);
        ASSERT_NE(terminalDoc, nullptr);
        ASSERT_EQ(app.DocManager()->FramesOf(terminalDoc).size(), 1);
        auto *terminal
            = qobject_cast<CTermView *>(app.DocManager()->FramesOf(terminalDoc).first()->View());
        ASSERT_NE(terminal, nullptr);
        ASSERT_TRUE(terminal->IsTimerRunning());

        app.OnNewMeterForm();
        auto *form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
        ASSERT_NE(form, nullptr);
        qobject_cast<QPushButton *>(form->Control(1040))->click(); // Read Active
        ASSERT_EQ(form->RunningList(), ZarnFormView::kReadTimer);
        int ticksWhileHeld = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (CTarvikApp::MeterLink()->IsClaimed())
                ++ticksWhileHeld;
        });
        watch.start(40);
        EXPECT_TRUE(TestEnv::WaitUntil(
            [&] { return form->RunningList() != ZarnFormView::kReadTimer; }, 60000));
        EXPECT_GT(ticksWhileHeld, 5); // the terminal's timer ran through the read
        EXPECT_EQ(form->GetDocument()->Title(), QStringLiteral("271828_4"));
        EXPECT_EQ(terminal->BytesReceived(), 0);
        EXPECT_EQ(terminal->Document()->Screen().Text().trimmed(), QByteArray());
        app.DocManager()->CloseAllDocuments();
    }
    sim.terminate();
    sim.waitForFinished(3000);
    ResetGlobals();
    ZarnFormFrame::ResetSmallFrameCount();
}

} // namespace

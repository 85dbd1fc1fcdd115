// The Modbus network window offscreen: its checks, its buttons and timers, and sweeps against
// tarvik-metersim --modbus.
#include "ModbusFrames.h"
#include "SimProcess.h"

#include "base/ReadingSink.h"
#include "support/TestEnv.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusFrame.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

using F = Modbus::Field;

// A reading sink that keeps what it is given: "ADDRESS[@SERIAL] name=textunit ...failure".
struct SeenSink : ReadingSink
{
    QStringList seen;
    void ModbusReading(const QDateTime &, int address, const QString &serial,
        const std::vector<Value> &values, const QString &failure) override
    {
        QString line = QString::number(address);
        if (!serial.isEmpty())
            line += QLatin1Char('@') + serial;
        for (const Value &v : values)
            line += QLatin1Char(' ') + v.name + QLatin1Char('=') + v.text.trimmed() + v.unit;
        seen << line + failure;
    }
    void MeterReading(const QDateTime &, const QString &, const std::vector<Value> &) override { }
};

class ModbusView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetGlobals();
        g_ModbusEnabled = 1;
        Modbus::SetSweepIndex(1);
        // Every test starts with the default: stop at the first failure.
        CPrefs::OpenStore()->remove(QStringLiteral("MBPoll/KEEPPOLLING"));
        m_oldHandler = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            m_messages.append(text);
            m_captions.append(caption);
        });
        m_oldProvider = Modbus::SetPortProvider([this] { return m_port.get(); });
    }
    void TearDown() override
    {
        m_view.reset();
        UserMessage::SetHandler(m_oldHandler);
        Modbus::SetPortProvider(m_oldProvider);
        ResetGlobals();
    }

    // The window on the simulator's network; null port when the simulator is not given.
    void Open(SimProcess *sim = nullptr)
    {
        if (sim) {
            ASSERT_TRUE(sim->Ok());
            m_port = std::make_unique<mbCSerial>(sim->Path());
            m_port->SetPortText(sim->Path());
            m_port->SetBaudText(QStringLiteral("9600"));
            m_port->SetParityText(QStringLiteral("1 8 EVEN 1"));
            ASSERT_EQ(m_port->OpenPort(), 1);
        }
        m_view = std::make_unique<Modbus>(&m_doc);
        m_view->resize(1225, 440);
        m_view->show();
        m_view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_view.get()));
        m_view->OnInitialUpdate();
    }

    // Types text into a panel's address field between its focus entry and exit.
    void EnterAddress(int panel, const QString &text)
    {
        m_view->OnAddressFocusIn(panel);
        m_view->FieldEdit(panel, F::Address)->setText(text);
        m_view->OnAddressFocusOut(panel);
    }

    void SetPanels(const QStringList &addresses)
    {
        for (int n = 1; n <= addresses.size(); ++n)
            EnterAddress(n, addresses.at(n - 1));
        ASSERT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join('|'));
    }

    // Waits until the window's polling (or static read), and the messages that end it, are over.
    void WaitIdle()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !m_view->Polling(); }, 20000));
    }

    bool Filled(int panel) const
    {
        for (F field : { F::Flow, F::Totalizer, F::Temperature }) {
            const QString text = m_view->FieldText(panel, field);
            if (text == QStringLiteral("-----") || text.isEmpty())
                return false;
        }
        return true;
    }

    ModbusDoc m_doc;
    std::unique_ptr<mbCSerial> m_port;
    std::unique_ptr<Modbus> m_view;
    QStringList m_messages;
    QStringList m_captions;
    UserMessage::Handler m_oldHandler;
    Modbus::PortProvider m_oldProvider;
};

} // namespace

TEST_F(ModbusView, OpensWithPlaceholdersAndDefaults)
{
    Open();
    for (int n = 1; n <= Modbus::kPanels; ++n) {
        for (F field : { F::Flow, F::FlowUnits, F::Totalizer, F::TotalizerUnits, F::Temperature,
                 F::SerialNumber, F::MaxRange, F::FullScale })
            EXPECT_EQ(m_view->FieldText(n, field), QStringLiteral("-----")) << n << field;
        EXPECT_EQ(m_view->FieldText(n, F::TemperatureUnit), QString::fromUtf8("\u00b0F"));
        EXPECT_EQ(
            m_view->FieldText(n, F::Address), n == 1 ? QStringLiteral("1") : QStringLiteral("-"));
        EXPECT_TRUE(
            m_view->PanelBox(n)->title().startsWith(QStringLiteral("Modbus Slave Flow Meter")));
    }
    EXPECT_EQ(m_view->SamplesText(), QStringLiteral("0"));
    EXPECT_EQ(m_view->PeriodEdit()->text(), QStringLiteral("2"));
    EXPECT_FALSE(m_view->UpdateOn());
    EXPECT_EQ(m_view->SelectedMeters(), 1);
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("CMD 3"));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(m_view->PortFieldText(i).isEmpty()); // no Modbus port object
}

TEST_F(ModbusView, PanelsSitInTheirPlaces)
{
    Open();
    auto pos = [this](int n) { return m_view->PanelBox(n)->geometry().topLeft(); };
    // In address order: top row 1..4 from left to right, bottom row 5..8 under them.
    for (int n = 1; n <= 8; ++n) {
        EXPECT_EQ(pos(n).y(), pos(n > 4 ? 5 : 1).y()) << n;
        EXPECT_TRUE(n % 4 == 1 || pos(n).x() > pos(n - 1).x()) << n;
        EXPECT_TRUE(n <= 4 || (pos(n).x() == pos(n - 4).x() && pos(n).y() > pos(1).y())) << n;
    }
}

TEST_F(ModbusView, AddressChecks)
{
    Open();
    struct Row
    {
        int panel;
        const char *text;
        const char *message; // null: accepted
        const char *after; // the field's text afterwards
        int selected;
    };
    const Row rows[] = {
        { 3, "128", "Modbus Address Range is 1 to 127", "-", 1 },
        { 3, "0", "Modbus Address Range is 1 to 127", "-", 1 },
        { 1, "0", "Modbus Address Range is 1 to 127\r\n Enter - To dDsable This Meter", "1", 1 },
        { 1, "", "Modbus Address Range is 1 to 127\r\n Enter - To dDsable This Meter", "1", 1 },
        { 2, "1", "Modbus Address Already Taken", "-", 1 },
        { 2, "2", nullptr, "2", 2 },
        { 3, "127", nullptr, "127", 3 },
        { 3, "2", "Modbus Address Already Taken", "127", 3 },
        { 2, "-", nullptr, "-", 2 },
        { 1, "-", nullptr, "-", 1 },
        { 5, "2", nullptr, "2", 2 },
    };
    for (const Row &row : rows) {
        m_messages.clear();
        EnterAddress(row.panel, QString::fromLatin1(row.text));
        if (row.message)
            EXPECT_EQ(m_messages, QStringList { QString::fromLatin1(row.message) }) << row.text;
        else
            EXPECT_TRUE(m_messages.isEmpty()) << row.text;
        EXPECT_EQ(m_view->FieldText(row.panel, F::Address), QString::fromLatin1(row.after))
            << row.panel << " " << row.text;
        EXPECT_EQ(m_view->SelectedMeters(), row.selected) << row.panel << " " << row.text;
    }
}

TEST_F(ModbusView, ChangedAddressClearsThePanel)
{
    Open();
    m_view->FieldEdit(1, F::Flow)->setText(QStringLiteral("12.000000"));
    m_view->FieldEdit(1, F::SerialNumber)->setText(QStringLiteral("4711"));
    EnterAddress(1, QStringLiteral("1")); // unchanged: kept
    EXPECT_EQ(m_view->FieldText(1, F::Flow), QStringLiteral("12.000000"));
    EnterAddress(1, QStringLiteral("9"));
    EXPECT_EQ(m_view->FieldText(1, F::Flow), QStringLiteral("-----"));
    EXPECT_EQ(m_view->FieldText(1, F::SerialNumber), QStringLiteral("-----"));
    EXPECT_EQ(m_view->FieldText(1, F::TemperatureUnit), QString::fromUtf8("\u00b0F"));
}

TEST_F(ModbusView, PeriodChecks)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3") });
    Open(&sim);

    // Every panel off: the dynamic button says so and the period becomes ".1".
    EnterAddress(1, QStringLiteral("-"));
    ASSERT_EQ(m_view->SelectedMeters(), 0);
    m_view->OnDynamicButton();
    EXPECT_EQ(m_messages.value(0), QStringLiteral("No Meters are Selected"));
    EXPECT_EQ(m_view->PeriodEdit()->text(), QStringLiteral(".1"));

    // Three meters and 0.01 s: raised to the minimum itself, focus back on the period.
    m_messages.clear();
    SetPanels({ "1", "2", "3" });
    m_view->FieldEdit(1, F::Address)->setFocus();
    m_view->PeriodEdit()->setText(QStringLiteral("0.01"));
    m_view->OnPeriodFocusOut();
    EXPECT_EQ(m_messages,
        QStringList { QStringLiteral("     Min Update Rate\n\r.01 * (# of Selected Meters)") });
    EXPECT_EQ(m_view->PeriodEdit()->text(), QStringLiteral("0.03"));
    EXPECT_TRUE(m_view->PeriodEdit()->hasFocus());
    m_messages.clear();
    m_view->OnPeriodFocusOut(); // the minimum itself passes
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(ModbusView, PortOffOrClosed)
{
    Open();
    m_view->SetPortSwitch([] { return g_ModbusEnabled == 1; });
    g_ModbusEnabled = 0;
    m_view->OnDynamicButton();
    m_view->OnStaticButton();
    ASSERT_EQ(m_messages.size(), 2);
    EXPECT_TRUE(
        m_messages[0].startsWith(QStringLiteral("***** Modbus Comm Port is Turned OFF *****")));
    EXPECT_EQ(m_messages[0], m_messages[1]);
    m_messages.clear();
    g_ModbusEnabled = 1; // enabled, but no port could be opened
    m_view->OnDynamicButton();
    m_view->OnStaticButton();
    ASSERT_EQ(m_messages.size(), 2);
    EXPECT_EQ(m_messages[0],
        QStringLiteral("***** Can't Open Modbus Communication port *****\n\nClick View found "
                       "above the Toolbar\n\nClick Settings and Configure Modbus Comm Port"));
    EXPECT_FALSE(m_view->Polling());
}

TEST_F(ModbusView, OneSweepFillsThreePanels)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3") });
    Open(&sim);
    EXPECT_EQ(m_view->PortFieldText(0), sim.Path());
    EXPECT_EQ(m_view->PortFieldText(1), QStringLiteral("9600"));
    EXPECT_EQ(m_view->PortFieldText(2), QStringLiteral("1 8 EVEN 1"));
    SetPanels({ "1", "2", "3" });

    m_view->OnDynamicButton();
    EXPECT_EQ(m_view->SamplesText(), QStringLiteral("1"));
    EXPECT_TRUE(m_view->Polling());
    WaitIdle(); // one sweep only
    for (int n : { 1, 2, 3 })
        EXPECT_TRUE(Filled(n)) << n;
    EXPECT_EQ(Modbus::SweepIndex(), 1);
    EXPECT_EQ(Modbus::SampleCount(), 1);
    EXPECT_TRUE(m_messages.isEmpty());
    // Flow around 25 x address; the temperature "%4.1f".
    EXPECT_NEAR(m_view->FieldText(3, F::Flow).toDouble(), 75, 75 * 0.16);
    EXPECT_EQ(m_view->FieldText(2, F::Temperature).size(), 4);

    // A picture of the window for the eye, when asked for.
    const QString shot = qEnvironmentVariable("TARVIK_MODBUS_SCREENSHOT");
    if (!shot.isEmpty()) {
        m_view->OnStaticButton();
        WaitIdle();
        m_view->grab().save(shot);
    }
}

TEST_F(ModbusView, SilentMeterStopsTheSweepAndTheNextStartGoesOn)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3,4"),
        QStringLiteral("--silent"), QStringLiteral("3") });
    Open(&sim);
    m_view->Master().SetTiming({ 150, 100 });
    SetPanels({ "1", "2", "3", "-", "4" });
    m_view->OnUpdateClicked();
    ASSERT_TRUE(m_view->UpdateOn());
    m_view->PeriodEdit()->setText(QStringLiteral("0.1"));
    m_view->OnDynamicButton();
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("STOP"));
    EXPECT_EQ(m_view->SamplesText(), QStringLiteral("0"));
    WaitIdle(); // panel 3 is silent: polling ends there
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Address 3: Response Timed Out   ") });
    EXPECT_EQ(m_captions, QStringList { QStringLiteral("ERROR") });
    EXPECT_TRUE(Filled(1));
    EXPECT_TRUE(Filled(2));
    EXPECT_EQ(m_view->SamplesText(), QStringLiteral("1"));
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("CMD 3"));
    EXPECT_FALSE(m_view->UpdateOn());
    EXPECT_EQ(Modbus::SweepIndex(), 4);
    EXPECT_FALSE(Filled(5));

    // The next start begins at panel 4 (off), so panel 5 is the first one read.
    m_messages.clear();
    m_view->FieldEdit(1, F::Flow)->setText(QStringLiteral("kept"));
    m_view->OnDynamicButton();
    WaitIdle();
    EXPECT_TRUE(Filled(5));
    EXPECT_EQ(m_view->FieldText(1, F::Flow), QStringLiteral("kept"));
    EXPECT_TRUE(m_messages.isEmpty());
}

// The network's adapter goes away between two sweeps (the far end closed): the failure and the
// port field name the gone port; back under the same name, the next start opens it by itself.
TEST_F(ModbusView, AGonePortIsNamedAndTakenUpWhenItIsBack)
{
    QTemporaryDir names;
    const QString name = names.filePath(QStringLiteral("bus"));
    const QStringList args = { QStringLiteral("--addr"), QStringLiteral("1") };
    auto sim = std::make_unique<SimProcess>(args);
    ASSERT_TRUE(sim->Ok());
    ASSERT_TRUE(QFile::link(sim->Path(), name));
    m_port = std::make_unique<mbCSerial>(name);
    m_port->SetPortText(name);
    m_port->SetBaudText(QStringLiteral("9600"));
    m_port->SetParityText(QStringLiteral("1 8 EVEN 1"));
    ASSERT_EQ(m_port->OpenPort(), 1);
    Open();
    SetPanels({ "1" });
    const auto sweep = [this] {
        m_view->OnDynamicButton();
        WaitIdle();
    };
    sweep();
    ASSERT_TRUE(Filled(1));
    ASSERT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join('|'));

    sim.reset();
    ASSERT_TRUE(QFile::remove(name));
    const QString gone
        = name + QStringLiteral(" is gone: the adapter was unplugged or the device closed");
    sweep();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_messages[0].trimmed(), QStringLiteral("Address 1: ") + gone);
    EXPECT_EQ(m_view->PortFieldText(0), name + QStringLiteral(" (gone)"));

    sim = std::make_unique<SimProcess>(args);
    ASSERT_TRUE(sim->Ok());
    ASSERT_TRUE(QFile::link(sim->Path(), name));
    m_messages.clear();
    m_view->FieldEdit(1, F::Flow)->clear();
    Modbus::SetSweepIndex(1); // the next start would go on after the panel that failed
    sweep();
    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join('|'));
    EXPECT_TRUE(Filled(1));
    EXPECT_EQ(m_view->PortFieldText(0), name);
}

TEST_F(ModbusView, StopEndsRepeatedPolling)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1") });
    Open(&sim);
    m_view->OnUpdateClicked();
    m_view->PeriodEdit()->setText(QStringLiteral("0.5"));
    m_view->OnDynamicButton();
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("STOP"));
    // With the real timers running, samples are counted.
    EXPECT_TRUE(QTest::qWaitFor([] { return Modbus::SampleCount() >= 2; }, 3000));
    // Between two sweeps: the next comes a period after the last one's start.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_view->Busy(); }, 20000));
    EXPECT_TRUE(m_view->Polling());
    EXPECT_EQ(m_view->SamplesText(), QString::number(Modbus::SampleCount()));
    EXPECT_TRUE(Filled(1));
    m_view->OnStaticButton(); // does nothing while polling
    EXPECT_EQ(m_view->FieldText(1, F::SerialNumber), QStringLiteral("-----"));
    m_view->OnDynamicButton();
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("CMD 3"));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !m_view->Polling(); }, 1000));
    EXPECT_TRUE(m_messages.isEmpty());
}

TEST_F(ModbusView, StaticReadFillsEveryPanelAndGoesOnAfterAFailure)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3"), QStringLiteral("--badcrc"),
        QStringLiteral("2") });
    Open(&sim);
    SetPanels({ "1", "2", "3" });
    m_view->OnStaticButton();
    EXPECT_EQ(m_view->StaticCaption(), QStringLiteral("Sending"));
    WaitIdle();
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Address 2: CRC Error   ") });
    EXPECT_EQ(m_view->StaticCaption(), QStringLiteral("CMD 3"));
    for (int n : { 1, 3 }) {
        EXPECT_EQ(m_view->FieldText(n, F::SerialNumber), QString::number(20260000 + n));
        EXPECT_EQ(m_view->FieldText(n, F::FlowUnits), QStringLiteral("SCFM"));
        EXPECT_EQ(m_view->FieldText(n, F::TotalizerUnits), QStringLiteral("SCF "));
        EXPECT_EQ(m_view->FieldText(n, F::MaxRange), QString::asprintf("%.6f", 1000.0 * n));
        EXPECT_EQ(m_view->FieldText(n, F::FullScale), QString::asprintf("%.6f", 500.0 * n));
    }
    EXPECT_EQ(m_view->FieldText(2, F::SerialNumber), QStringLiteral("-----"));
    // The sweep after it hands each reading on with the serial read (none where it failed; the
    // failure ends the sweep).
    SeenSink sink;
    ReadingSink *const previousSink = ReadingSink::Install(&sink);
    m_view->OnDynamicButton();
    WaitIdle();
    ReadingSink::Install(previousSink);
    ASSERT_EQ(sink.seen.size(), 2) << qPrintable(sink.seen.join(QLatin1Char('|')));
    EXPECT_TRUE(sink.seen[0].startsWith(QLatin1String("1@20260001 flow=")));
    EXPECT_TRUE(sink.seen[1].startsWith(QLatin1String("2Address 2: CRC Error")));
}

TEST(ModbusWindow, FrameAndDocument)
{
    ModbusFrame frame;
    EXPECT_EQ(frame.FrameGeometry(), QRect(200, 0, 1237, 477));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Modbus RTU Network"));

    // Saving never empties the file the window was opened from.
    QFile file(QStringLiteral("notes.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep me\n");
    file.close();
    ModbusDoc doc;
    EXPECT_TRUE(doc.OnOpenDocument(QStringLiteral("notes.txt")));
    EXPECT_FALSE(doc.OnOpenDocument(QStringLiteral("missing.txt")));
    EXPECT_TRUE(doc.OnSaveDocument(QStringLiteral("notes.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me\n"));
    file.close();
    // Save As to a new name leaves an empty file there.
    EXPECT_TRUE(doc.OnSaveDocument(QStringLiteral("network.txt")));
    EXPECT_TRUE(QFileInfo(QStringLiteral("network.txt")).isFile());
    EXPECT_EQ(QFileInfo(QStringLiteral("network.txt")).size(), 0);
    EXPECT_FALSE(doc.OnSaveDocument(QStringLiteral("no-such-folder/network.txt")));
    EXPECT_FALSE(doc.StoresContent());
}

TEST_F(ModbusView, RealFocusMovesRunTheChecks)
{
    Open();
    QLineEdit *second = m_view->FieldEdit(2, F::Address);
    second->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(second->hasFocus());
    second->selectAll();
    QTest::keyClicks(second, QStringLiteral("1"));
    EXPECT_EQ(second->text(), QStringLiteral("1"));
    m_view->FieldEdit(3, F::Address)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Modbus Address Already Taken") });
    EXPECT_EQ(second->text(), QStringLiteral("-"));
    EXPECT_TRUE(second->hasFocus());

    m_messages.clear();
    second->selectAll();
    QTest::keyClicks(second, QStringLiteral("2"));
    m_view->PeriodEdit()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(m_view->SelectedMeters(), 2);
    m_view->PeriodEdit()->selectAll();
    QTest::keyClicks(m_view->PeriodEdit(), QStringLiteral("0"));
    m_view->FieldEdit(1, F::Address)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_view->PeriodEdit()->text(), QStringLiteral("0.02"));
    EXPECT_TRUE(m_view->PeriodEdit()->hasFocus());
}

TEST(ModbusWindow, NewModbusCommandOpensTheWindowOnTheApplicationsPort)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1") });
    ASSERT_TRUE(sim.Ok());
    struct Row
    {
        QString preference;
        QStringList portFields;
        QString message; // shown by the dynamic button, empty when it reads the meter
    };
    const Row rows[] = {
        { sim.Path(), { sim.Path(), "9600", "1 8 EVEN 1" }, {} },
        { "OFF", { "", "", "" }, "***** Modbus Comm Port is Turned OFF *****" },
    };
    for (const Row &row : rows) {
        TestEnv::ClearPreferences();
        ResetGlobals();
        Modbus::SetSweepIndex(1);
        CPrefs::OpenStore()->setValue(QStringLiteral("MBPort/MBCOM"), row.preference);
        QStringList messages;
        const auto old = UserMessage::SetHandler(
            [&messages](const QString &text, const QString &) { messages.append(text); });
        {
            CTarvikApp app({}, false);
            ASSERT_TRUE(app.InitInstance());
            messages.clear();
            app.OnNewModbus();
            auto *view = qobject_cast<Modbus *>(app.MainFrame()->ActiveView());
            ASSERT_NE(view, nullptr) << qPrintable(row.preference);
            auto *frame = qobject_cast<ModbusFrame *>(
                app.DocManager()->FramesOf(view->GetDocument()).value(0));
            ASSERT_NE(frame, nullptr);
            // Its own place and height; wider than its own 1237 where the panels need more, so
            // that no meter is cut off at the right.
            EXPECT_EQ(frame->geometry().topLeft(), QPoint(200, 0));
            EXPECT_EQ(frame->height(), 477);
            EXPECT_GE(frame->width(), 1237);
            EXPECT_EQ(frame->windowTitle(), QStringLiteral("Modbus RTU Network"));
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(view->PortFieldText(i), row.portFields[i]) << i;

            view->OnDynamicButton();
            if (row.message.isEmpty()) {
                EXPECT_TRUE(QTest::qWaitFor([view] { return !view->Polling(); }, 10000));
                EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join('|'));
                EXPECT_NE(view->FieldText(1, F::Flow), QStringLiteral("-----"));
                // Everything fits the frame's first size: no part of the view is cut off.
                EXPECT_GE(view->width(), view->minimumSizeHint().width());
                EXPECT_GE(view->height(), view->minimumSizeHint().height());
                const QString shot = qEnvironmentVariable("TARVIK_MODBUS_SCREENSHOT");
                if (!shot.isEmpty())
                    frame->grab().save(shot + QStringLiteral(".frame.png"));
            } else {
                ASSERT_EQ(messages.size(), 1);
                EXPECT_TRUE(messages[0].startsWith(row.message));
            }
            // As at exit: the documents close before the application goes.
            EXPECT_TRUE(app.DocManager()->CloseAllDocuments());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        UserMessage::SetHandler(old);
    }
    ResetGlobals();
}

namespace {

// The longest time the event loop did not tick a 10 ms timer while it lived.
class LoopGap : public QObject
{
public:
    LoopGap()
    {
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this,
            [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_timer.start(10);
    }
    qint64 LongestMs() const { return std::max(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

} // namespace

// Polling through errors on the simulated network with a silent meter, keys being typed into
// the window all the while: every key arrives, many while a slave is being waited for; no
// message box; the silent panel counts its failures and shows the last; the other meters are
// read every sweep; the event loop never stops for long.
TEST_F(ModbusView, KeepsPollingThroughASilentMeterWhileKeysAreTyped)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1,2,3"), QStringLiteral("--silent"),
        QStringLiteral("2") });
    Open(&sim);
    SetPanels({ "1", "2", "3" });
    ASSERT_FALSE(m_view->KeepPolling()); // off unless the user chose it
    m_view->KeepPollingBox()->click();
    ASSERT_TRUE(m_view->KeepPolling());
    m_view->OnUpdateClicked();
    m_view->PeriodEdit()->setText(QStringLiteral("0.5"));
    QLineEdit *typed = m_view->PeriodEdit();
    typed->setCursorPosition(typed->text().size());
    int keys = 0;
    int keysDuringExchange = 0;
    QObject::connect(typed, &QLineEdit::textEdited, m_view.get(), [this, &keysDuringExchange] {
        if (m_view->Busy())
            ++keysDuringExchange;
    });

    // Every reading and failure also goes to the installed reading sink (the MQTT publisher).
    SeenSink sink;
    ReadingSink *const previousSink = ReadingSink::Install(&sink);

    LoopGap gap;
    m_view->OnDynamicButton();
    ASSERT_EQ(m_view->DynamicCaption(), QStringLiteral("STOP"));
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, m_view.get(), [typed, &keys] {
        QCoreApplication::postEvent(
            typed, new QKeyEvent(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1")));
        QCoreApplication::postEvent(typed,
            new QKeyEvent(QEvent::KeyRelease, Qt::Key_1, Qt::NoModifier, QStringLiteral("1")));
        ++keys;
    });
    typist.start(25);
    EXPECT_TRUE(QTest::qWaitFor([this] { return m_view->FailureCount(2) >= 2; }, 20000));
    typist.stop();
    m_view->OnDynamicButton(); // STOP: the sweep under way ends with its remaining panels
    WaitIdle();
    QCoreApplication::sendPostedEvents();

    EXPECT_TRUE(m_messages.isEmpty()) << qPrintable(m_messages.join('|'));
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("CMD 3"));
    EXPECT_TRUE(m_view->UpdateOn()); // no failure turned polling off
    EXPECT_GE(Modbus::SampleCount(), 2);
    EXPECT_GE(m_view->FailureCount(2), 2);
    EXPECT_EQ(m_view->FailureCount(1), 0);
    EXPECT_EQ(m_view->FailureCount(3), 0);
    EXPECT_EQ(m_view->FailureText(2),
        QStringLiteral("Failures: %1 - Response Timed Out").arg(m_view->FailureCount(2)));
    EXPECT_TRUE(m_view->FailureText(1).isEmpty());
    EXPECT_TRUE(Filled(1));
    EXPECT_TRUE(Filled(3));
    EXPECT_FALSE(Filled(2));
    EXPECT_GT(keys, 20);
    EXPECT_EQ(typed->text(), QStringLiteral("0.5") + QString(keys, QLatin1Char('1')));
    EXPECT_GT(keysDuringExchange, 10); // taken while a slave was being waited for
    EXPECT_LT(gap.LongestMs(), 1000);
    ReadingSink::Install(previousSink);
    // Failures with their reason; the last reading of a meter is the one its panel shows (no
    // static read yet: flow and totalizer carry no unit).
    EXPECT_TRUE(sink.seen.contains(QStringLiteral("2Address 2: Response Timed Out")));
    for (int panel : { 1, 3 }) {
        const QStringList mine
            = sink.seen.filter(QRegularExpression(QStringLiteral("^%1").arg(panel)));
        EXPECT_EQ(mine.value(mine.size() - 1),
            QStringLiteral("%1 flow=%2 totalizer=%3 temperature=%4°F")
                .arg(panel)
                .arg(m_view->FieldText(panel, F::Flow).trimmed(),
                    m_view->FieldText(panel, F::Totalizer).trimmed(),
                    m_view->FieldText(panel, F::Temperature).trimmed()));
    }
    EXPECT_EQ(
        sink.seen.filter(QRegularExpression(QStringLiteral("^[123]"))).size(), sink.seen.size());

    const QString shot = qEnvironmentVariable("TARVIK_MODBUS_SCREENSHOT");
    if (!shot.isEmpty())
        m_view->grab().save(shot + QStringLiteral(".keep.png"));

    // A new start counts afresh.
    m_view->OnUpdateClicked();
    m_view->OnDynamicButton();
    EXPECT_EQ(m_view->FailureCount(2), 0);
    EXPECT_TRUE(m_view->FailureText(2).isEmpty());
}

// "Keep polling through errors" is off by default and kept in the preferences as the user left it.
TEST_F(ModbusView, KeepPollingIsKeptInThePreferences)
{
    TestEnv::ClearPreferences();
    Open();
    EXPECT_FALSE(m_view->KeepPolling());
    m_view->KeepPollingBox()->click();
    EXPECT_EQ(CPrefs::OpenStore()->value(QStringLiteral("MBPoll/KEEPPOLLING")).toString(),
        QStringLiteral("1"));
    m_view = std::make_unique<Modbus>(&m_doc);
    EXPECT_TRUE(m_view->KeepPolling());
    m_view->OnKeepPollingClicked(false);
    EXPECT_FALSE(m_view->KeepPolling());
    m_view = std::make_unique<Modbus>(&m_doc);
    EXPECT_FALSE(m_view->KeepPolling());
}

// A port that could not be opened is said at once by both buttons, with its name and the
// system's reason after the window's own message; nothing is tried.
TEST_F(ModbusView, APortThatIsNotOpenIsSaidAtOnce)
{
    const QString path = TestEnv::WorkDir() + QStringLiteral("/no-such-tty");
    m_port = std::make_unique<mbCSerial>(path);
    m_port->SetPortText(path);
    m_port->SetBaudText(QStringLiteral("9600"));
    ASSERT_EQ(m_port->OpenPort(), 0);
    m_port->SetEnabled(0);
    Open();
    m_view->OnDynamicButton();
    m_view->OnStaticButton();
    ASSERT_EQ(m_messages.size(), 2);
    for (const QString &message : m_messages) {
        EXPECT_TRUE(message.startsWith(QStringLiteral(
            "***** Can't Open Modbus Communication port *****\n\nClick View found above the "
            "Toolbar\n\nClick Settings and Configure Modbus Comm Port\n\n")))
            << qPrintable(message);
        EXPECT_TRUE(message.contains(path));
        EXPECT_TRUE(message.contains(m_port->LastError()));
        EXPECT_FALSE(m_port->LastError().isEmpty());
    }
    EXPECT_FALSE(m_view->Polling());
    EXPECT_EQ(m_view->StaticCaption(), QStringLiteral("CMD 3"));
}

// A Settings change of the port while a slave is being waited for ends the exchange and the
// polling at once (no message, the port free); closing the window mid-exchange ends it too, and
// nothing of it resumes afterwards. A second window's static read meanwhile is refused.
TEST_F(ModbusView, PortChangeOrClosingEndsTheExchange)
{
    SimProcess sim({ QStringLiteral("--addr"), QStringLiteral("1"), QStringLiteral("--silent"),
        QStringLiteral("1") });
    Open(&sim);
    m_view->Master().SetTiming({ 150, 100 });
    m_view->OnUpdateClicked();
    m_view->PeriodEdit()->setText(QStringLiteral("0.1"));
    m_view->OnDynamicButton();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_view->Busy(); }, 5000));
    EXPECT_TRUE(m_port->IsClaimed());

    ModbusDoc otherDoc;
    auto other = std::make_unique<Modbus>(&otherDoc);
    other->Master().SetTiming({ 150, 100 });
    other->OnStaticButton();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral("The Modbus port is in use")));
    EXPECT_EQ(other->StaticCaption(), QStringLiteral("CMD 3"));
    m_messages.clear();

    m_port->CancelDialogue(); // what Settings does before closing the port
    EXPECT_FALSE(m_view->Busy());
    EXPECT_FALSE(m_view->Polling());
    EXPECT_FALSE(m_port->IsClaimed());
    EXPECT_EQ(m_view->DynamicCaption(), QStringLiteral("CMD 3"));

    // The port is usable at once: the other window's static read of the silent meter runs
    // through its three attempts, as long as the ended exchange's would have: only its own
    // message comes. Started again, it is closed mid-way.
    const QString silent = QStringLiteral("Address 1: Response Timed Out   ");
    other->OnStaticButton();
    EXPECT_EQ(other->StaticCaption(), QStringLiteral("Sending"));
    EXPECT_TRUE(m_port->IsClaimed());
    EXPECT_TRUE(QTest::qWaitFor([&other] { return !other->Polling(); }, 20000));
    EXPECT_EQ(m_messages, QStringList { silent });
    EXPECT_FALSE(m_view->Busy());
    m_messages.clear();
    other->OnStaticButton();
    EXPECT_TRUE(m_port->IsClaimed());
    m_view->OnStaticButton(); // refused: the other window holds the port
    EXPECT_EQ(m_messages.size(), 1);
    m_messages.clear();
    other.reset();
    EXPECT_FALSE(m_port->IsClaimed());

    // A static read says which meter it waits for; its button stops it at once.
    m_view->OnStaticButton();
    EXPECT_TRUE(m_view->Busy());
    QString progress;
    for (const QPushButton *button : m_view->findChildren<QPushButton *>())
        if (button->text() == QLatin1String("Sending"))
            progress = button->toolTip();
    EXPECT_TRUE(progress.startsWith(QStringLiteral("Reading the static data of meter 1 at "
                                                   "address 1; 0 more to read.")))
        << qPrintable(progress);
    m_view->OnStaticButton();
    EXPECT_FALSE(m_view->Busy());
    EXPECT_FALSE(m_port->IsClaimed());
    EXPECT_EQ(m_view->StaticCaption(), QStringLiteral("CMD 3"));
    // A sweep through the same time-outs: its own message is the only one.
    m_view->OnDynamicButton();
    WaitIdle();
    EXPECT_EQ(m_messages, QStringList { silent });
}

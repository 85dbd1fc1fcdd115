#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "link/mbCSerial.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {
// Records the messages the program would have shown.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        m_old = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            m_texts << text;
            m_captions << caption;
        });
    }
    ~MessageRecorder() { UserMessage::SetHandler(m_old); }
    QStringList m_texts;
    QStringList m_captions;

private:
    UserMessage::Handler m_old;
};

void StorePreference(const QString &key, const QString &value)
{
    auto store = CPrefs::OpenStore();
    store->setValue(key, value);
}

class Startup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestEnv::ClearPreferences();
        ResetGlobals();
    }
};
} // namespace

TEST_F(Startup, UnopenablePortsGiveTheirMessagesAndDisabledPorts)
{
    StorePreference(QStringLiteral("Port/COM"), QStringLiteral("/dev/tarvik-no-such-port"));
    StorePreference(QStringLiteral("MBPort/MBCOM"), QStringLiteral("/dev/tarvik-no-such-bus"));
    MessageRecorder messages;
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(messages.m_texts.size(), 2);
    EXPECT_TRUE(
        messages.m_texts[0].startsWith(QStringLiteral("Can't Open RS232 Communication port\n")));
    EXPECT_TRUE(
        messages.m_texts[1].startsWith(QStringLiteral("Can't Open Modbus Communication port\n")));
    // The operating system's reason follows on the second line.
    EXPECT_GT(messages.m_texts[0].section(QLatin1Char('\n'), 1).size(), 0);
    EXPECT_EQ(messages.m_captions[0], QStringLiteral("Tarvik V2.16"));
    EXPECT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 0);
    ASSERT_NE(CTarvikApp::ModbusPort(), nullptr);
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 0);
    EXPECT_EQ(g_ModbusEnabled, 1);
    // A disabled link sends nothing and says so.
    DialogueRunner runner;
    EXPECT_EQ(
        RunToEnd(runner, CTarvikApp::MeterLink()->SendCommandAsync(runner, QByteArrayLiteral("X"))),
        0);
}

TEST_F(Startup, BothPortsOnOneDeviceNameTheMeterLinkAsTheHolder)
{
    PtyPair meter;
    ASSERT_TRUE(meter.IsValid());
    StorePreference(QStringLiteral("Port/COM"), meter.SlavePath());
    StorePreference(QStringLiteral("MBPort/MBCOM"), meter.SlavePath());
    MessageRecorder messages;
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(messages.m_texts.size(), 1) << messages.m_texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(messages.m_texts[0],
        QStringLiteral("Can't Open Modbus Communication port\n%1: held by this program's meter "
                       "link (both are set to %1). Choose another port for one of them in "
                       "View > Settings.")
            .arg(meter.SlavePath()));
    EXPECT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 1);
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 0);
}

TEST_F(Startup, ModbusOffCreatesNoPortAndShowsNoMessage)
{
    PtyPair meter;
    ASSERT_TRUE(meter.IsValid());
    StorePreference(QStringLiteral("Port/COM"), meter.SlavePath());
    StorePreference(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
    MessageRecorder messages;
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_TRUE(messages.m_texts.isEmpty())
        << messages.m_texts.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(CTarvikApp::ModbusPort(), nullptr);
    EXPECT_EQ(g_ModbusEnabled, 0);
    EXPECT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 1);
    EXPECT_EQ(CTarvikApp::MeterLink()->PortText(), meter.SlavePath());
}

TEST_F(Startup, PortTextKeepsTheWholePreferenceWhileTheDeviceNameIsCut)
{
    StorePreference(QStringLiteral("Port/COM"), QStringLiteral("COM1/HS"));
    StorePreference(QStringLiteral("MBPort/MBCOM"), QStringLiteral("COM2 RS485"));
    MessageRecorder messages;
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(CTarvikApp::MeterLink()->PortText(), QStringLiteral("COM1/HS"));
    EXPECT_EQ(CTarvikApp::ModbusPort()->PortText(), QStringLiteral("COM2 RS485"));
    EXPECT_EQ(CPrefs::DeviceName(QStringLiteral("COM1/HS")), QStringLiteral("COM1"));
    EXPECT_EQ(CPrefs::DeviceName(QStringLiteral("COM2 RS485")), QStringLiteral("COM2"));
    EXPECT_EQ(
        CPrefs::DeviceName(QStringLiteral("/dev/ttyUSB0 spare")), QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(Startup, StoreHoldsAllSixValuesAfterARun)
{
    {
        MessageRecorder messages;
        CTarvikApp app({}, false);
        ASSERT_TRUE(app.InitInstance());
    }
    auto store = CPrefs::OpenStore();
    EXPECT_EQ(store->value(QStringLiteral("Version/SELECTION")).toString(), QStringLiteral("4.0A"));
    EXPECT_EQ(store->value(QStringLiteral("Port/COM")).toString(), QStringLiteral("COM1"));
    EXPECT_EQ(store->value(QStringLiteral("232Baud/BAUD")).toString(), QStringLiteral("9600"));
    EXPECT_EQ(store->value(QStringLiteral("MBPort/MBCOM")).toString(), QStringLiteral("COM1"));
    EXPECT_EQ(store->value(QStringLiteral("MBBaud/MBBAUD")).toString(), QStringLiteral("9600"));
    EXPECT_EQ(
        store->value(QStringLiteral("485Parity/PARITY")).toString(), QStringLiteral("1 8 EVEN 1"));
}

TEST_F(Startup, NonsenseInTheStoreReadsAsDefaults)
{
    const QString path = CPrefs::OpenStore()->fileName();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(
        "\x00\xff[[[Version\n=SELECTION=\x01\n[Port]\nCOM=a, b, c\n[232Baud\nBAUD\n", 52));
    file.close();
    CPrefs prefs;
    EXPECT_EQ(prefs.GetVersion(), QStringLiteral("4.0A"));
    EXPECT_EQ(prefs.GetPort(), QStringLiteral("COM1"));
    EXPECT_EQ(prefs.GetBaud(), QStringLiteral("9600"));
    EXPECT_EQ(prefs.GetParity(), QStringLiteral("1 8 EVEN 1"));
}

TEST_F(Startup, MainFrameHasItsTitleToolbarAndStatusBar)
{
    MessageRecorder messages;
    CTarvikApp app({}, false);
    ASSERT_TRUE(app.InitInstance());
    CMainFrame *frame = app.MainFrame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Tarvik V2.16"));
    EXPECT_TRUE(frame->isMaximized() || (frame->windowState() & Qt::WindowMaximized));
    EXPECT_EQ(frame->statusBar()->currentMessage(), QStringLiteral("Ready"));
    QStringList buttons;
    for (QAction *action : frame->ToolBar()->actions())
        buttons << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
    EXPECT_EQ(buttons.join(QLatin1Char(' ')),
        QStringLiteral("file_new file_open file_save_as | file_print app_about | new_terminal "
                       "new_meter_form new_datalog new_quixal new_modbus"));
    EXPECT_EQ(frame->Action(QStringLiteral("new_terminal"))->statusTip(),
        QStringLiteral("Open new terminal window"));
    EXPECT_EQ(frame->Action(QStringLiteral("new_terminal"))->toolTip(), QStringLiteral("Terminal"));
    EXPECT_EQ(frame->Action(QStringLiteral("file_new"))->shortcut(),
        QKeySequence(QStringLiteral("Ctrl+N")));
    // With no document open, commands no window handles are disabled.
    EXPECT_FALSE(frame->Action(QStringLiteral("file_save"))->isEnabled());
}

// A message box is wide enough for its caption, however short its text.
TEST(MessageBoxes, CaptionIsNeverCutOff)
{
    const struct
    {
        const char *text;
        const char *caption;
    } cases[] = {
        { "Meter did not answer", "Bad jump lable on line 14" },
        { "OK", "               Field Not Supported" },
        { "x", "A caption far longer than any text the box would otherwise be sized for" },
    };
    for (const auto &c : cases) {
        auto box = CTarvikApp::MakeMessageBox(
            QString::fromLatin1(c.text), QString::fromLatin1(c.caption), nullptr);
        QFont title = QApplication::font("QMdiSubWindowTitleBar");
        title.setBold(true);
        const int captionWidth = QFontMetrics(title).horizontalAdvance(QLatin1String(c.caption));
        box->show();
        EXPECT_GE(box->width(), captionWidth + 100) << c.caption;
        EXPECT_EQ(box->windowTitle(), QLatin1String(c.caption));
        box->hide();
    }
}

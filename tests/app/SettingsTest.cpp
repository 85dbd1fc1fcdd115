#include "app/CAuditPage.h"
#include "app/CComm232BaudPage.h"
#include "app/CCommPage.h"
#include "app/CMainFrame.h"
#include "app/CPublishPage.h"
#include "app/CSetup.h"
#include "app/CTarvikApp.h"
#include "app/CVersPage.h"
#include "app/CommSettings.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "link/mbCSerial.h"
#include "publish/MqttPublisher.h"
#include "records/RecordsDelivery.h"
#include "support/PtyPair.h"
#include "support/TestEnv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void Store(const QString &key, const QString &value)
{
    CPrefs::OpenStore()->setValue(key, value);
}

QString Stored(const QString &key)
{
    return CPrefs::OpenStore()->value(key).toString();
}

QString Selected(const QListWidget *list)
{
    const auto items = list->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

// An application started against two pseudo-terminals, messages recorded.
class Settings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestEnv::ClearPreferences();
        ResetGlobals();
        m_old = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages << text; });
        Store(QStringLiteral("Port/COM"), m_meter.SlavePath());
        Store(QStringLiteral("MBPort/MBCOM"), m_bus.SlavePath());
        Store(QStringLiteral("485Parity/PARITY"), QStringLiteral("1 8 NONE 1"));
        m_app = std::make_unique<CTarvikApp>(LinkTiming {}, false);
        ASSERT_TRUE(m_app->InitInstance());
        m_messages.clear();
    }
    void TearDown() override
    {
        m_app.reset();
        UserMessage::SetHandler(m_old);
    }

    PtyPair m_meter;
    PtyPair m_bus;
    std::unique_ptr<CTarvikApp> m_app;
    QStringList m_messages;
    UserMessage::Handler m_old;
};
} // namespace

TEST(SettingsLists, FirstPrefixWinsIgnoringCase)
{
    const QStringList ports = CommSettings::PortList(false);
    ASSERT_GE(ports.size(), 49);
    EXPECT_EQ(ports.first(), QStringLiteral("COM1"));
    EXPECT_EQ(ports.at(48), QStringLiteral("COM49"));
    EXPECT_EQ(CommSettings::PortList(true).first(), QStringLiteral("OFF"));
    const struct
    {
        const char *stored;
        const char *expected; // empty: nothing selected
    } cases[] = {
        { "COM1", "COM1" },
        { "com1", "COM1" },
        { "COM10", "COM10" },
        { "COM4", "COM4" },
        { "COM50", "" },
        { "LPT1", "" },
    };
    for (const auto &c : cases) {
        const int index = CommSettings::FirstPrefixMatch(ports, QLatin1String(c.stored));
        EXPECT_EQ(index < 0 ? QString() : ports.at(index), QLatin1String(c.expected)) << c.stored;
    }
    EXPECT_EQ(
        CommSettings::FirstPrefixMatch(CommSettings::VersionList(), QStringLiteral("4.0A")), -1);
    EXPECT_EQ(
        CommSettings::FirstPrefixMatch(CommSettings::VersionList(), QStringLiteral("4.0x")), 1);
    EXPECT_EQ(CommSettings::BaudList().at(4), QStringLiteral("33400"));
}

TEST_F(Settings, PagesSelectTheStoredValues)
{
    CSetup sheet(m_app.get());
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Settings"));
    ASSERT_EQ(sheet.Tabs()->count(), 5);
    EXPECT_EQ(sheet.Tabs()->tabText(0), QStringLiteral("Terminal Comm Port"));
    EXPECT_EQ(sheet.Tabs()->tabText(1), QStringLiteral("Modbus Comm Port"));
    EXPECT_EQ(sheet.Tabs()->tabText(2), QStringLiteral("Versions"));
    EXPECT_EQ(sheet.Tabs()->tabText(3), QStringLiteral("Sending and Audit"));
    EXPECT_EQ(sheet.Tabs()->tabText(4), QStringLiteral("Publish"));
    EXPECT_TRUE(sheet.TerminalPage()->WasShown());
    EXPECT_FALSE(sheet.ModbusPage()->WasShown());
    sheet.Tabs()->setCurrentIndex(1);
    sheet.Tabs()->setCurrentIndex(2);
    // A device path in force is offered and selected, so OK keeps it.
    EXPECT_EQ(Selected(sheet.TerminalPage()->PortList()), m_meter.SlavePath());
    EXPECT_EQ(Selected(sheet.ModbusPage()->PortList()), m_bus.SlavePath());
    EXPECT_EQ(Selected(sheet.TerminalPage()->BaudList()), QStringLiteral("9600"));
    EXPECT_EQ(Selected(sheet.ModbusPage()->ParityList()), QStringLiteral("1 8 NONE 1"));
    // The default version "4.0A" begins no entry of the list.
    EXPECT_EQ(Selected(sheet.VersionsPage()->VersionList()), QString());
}

TEST_F(Settings, OkKeepsADevicePathInForce)
{
    CSetup sheet(m_app.get());
    sheet.Tabs()->setCurrentIndex(1);
    sheet.OnOK();
    EXPECT_EQ(Stored(QStringLiteral("Port/COM")), m_meter.SlavePath());
    EXPECT_EQ(Stored(QStringLiteral("MBPort/MBCOM")), m_bus.SlavePath());
    EXPECT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 1);
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 1);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(Settings, OkAfterVisitingVersionsStoresEmptyVersion)
{
    CSetup sheet(m_app.get());
    sheet.Tabs()->setCurrentIndex(2);
    g_DocVersion = QStringLiteral("4.0A");
    sheet.OnOK();
    EXPECT_EQ(Stored(QStringLiteral("Version/SELECTION")), QString());
    EXPECT_TRUE(g_DocVersion.isEmpty());
    // The next reading falls back to the default.
    EXPECT_EQ(CPrefs().GetVersion(), QStringLiteral("4.0A"));
}

TEST_F(Settings, OkWithoutVisitingAppliesOnlyTheTerminalPage)
{
    Store(QStringLiteral("Port/COM"), QStringLiteral("COM3"));
    CSetup sheet(m_app.get());
    EXPECT_EQ(Selected(sheet.TerminalPage()->PortList()), QStringLiteral("COM3"));
    const QString busBefore = Stored(QStringLiteral("MBPort/MBCOM"));
    sheet.OnOK();
    // The link was closed and reopened on COM3 (which does not open here).
    EXPECT_EQ(CTarvikApp::MeterLink()->PortText(), QStringLiteral("COM3"));
    EXPECT_EQ(Stored(QStringLiteral("Port/COM")), QStringLiteral("COM3"));
    // The Modbus page was never shown: its port is untouched and still open.
    EXPECT_EQ(CTarvikApp::ModbusPort()->PortText(), m_bus.SlavePath());
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 1);
    EXPECT_EQ(Stored(QStringLiteral("MBPort/MBCOM")), busBefore);
}

TEST_F(Settings, ModbusOffThenOnCreatesANewPortObject)
{
    mbCSerial *first = CTarvikApp::ModbusPort();
    ASSERT_NE(first, nullptr);
    CommSettings::ApplyModbusPort(m_app->ModbusPortSlot(), QStringLiteral("OFF"),
        QStringLiteral("9600"), QStringLiteral("1 8 NONE 1"));
    EXPECT_EQ(g_ModbusEnabled, 0);
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 0); // the object stays, closed
    EXPECT_TRUE(m_messages.isEmpty());

    PtyPair other;
    CommSettings::ApplyModbusPort(m_app->ModbusPortSlot(), other.SlavePath(),
        QStringLiteral("19200"), QStringLiteral("1 8 EVEN 1"));
    EXPECT_EQ(g_ModbusEnabled, 1);
    ASSERT_NE(CTarvikApp::ModbusPort(), nullptr);
    EXPECT_EQ(CTarvikApp::ModbusPort()->PortText(), other.SlavePath());
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 1);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(Stored(QStringLiteral("MBBaud/MBBAUD")), QStringLiteral("19200"));
    EXPECT_EQ(Stored(QStringLiteral("485Parity/PARITY")), QStringLiteral("1 8 EVEN 1"));
}

TEST_F(Settings, ModbusPortThatCannotOpenSaysWhereToGo)
{
    CommSettings::ApplyModbusPort(m_app->ModbusPortSlot(),
        QStringLiteral("/dev/tarvik-no-such-bus"), QStringLiteral("9600"),
        QStringLiteral("1 8 EVEN 1"));
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].startsWith(QStringLiteral(
        "***** Can't Open Modbus Communication port *****\n\nClick View found above the Toolbar\n\n"
        "Click Settings and Configure Modbus Comm Port")));
    EXPECT_EQ(CTarvikApp::ModbusPort()->IsEnabled(), 0);
}

// A device path can be typed under either port list; after another port was chosen the path
// is still offered, in the list and in the field, when the sheet opens again.
TEST_F(Settings, TypedDevicePathIsTakenAndOfferedAgain)
{
    const QString path = m_meter.SlavePath();
    {
        CSetup sheet(m_app.get());
        CComm232BaudPage *page = sheet.TerminalPage();
        EXPECT_EQ(page->PathField()->text(), path);
        page->PortList()->setCurrentRow(1);
        sheet.OnOK();
    }
    EXPECT_EQ(Stored(QStringLiteral("Port/COM")), QStringLiteral("COM2"));
    m_messages.clear(); // COM2 does not open here
    {
        CSetup sheet(m_app.get());
        CComm232BaudPage *page = sheet.TerminalPage();
        EXPECT_EQ(Selected(page->PortList()), QStringLiteral("COM2"));
        EXPECT_FALSE(page->PortList()->findItems(path, Qt::MatchExactly).isEmpty());
        EXPECT_EQ(page->PathField()->text(), path);
        page->PathField()->clear();
        QTest::keyClicks(page->PathField(), path);
        EXPECT_EQ(Selected(page->PortList()), QString());
        sheet.OnOK();
    }
    EXPECT_EQ(Stored(QStringLiteral("Port/COM")), path);
    EXPECT_EQ(CTarvikApp::MeterLink()->PortText(), path);
    EXPECT_EQ(CTarvikApp::MeterLink()->IsEnabled(), 1);
    EXPECT_TRUE(m_messages.isEmpty()) << m_messages.join(QLatin1Char('|')).toStdString();
}

// Network port texts typed in either port field are taken as they are, and the port connects to
// them (a listening socket of the test's own); a meter link refuses a Modbus TCP text.
TEST_F(Settings, TypedNetworkPortTextsAreTaken)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
    const QString port = QString::number(ntohs(address.sin_port));
    const struct
    {
        bool modbus; // typed on the Modbus page, else on the terminal page
        QString text;
        bool opens;
    } rows[] = {
        { false, "tcp://127.0.0.1:" + port, true },
        { false, "rfc2217://localhost:" + port, true },
        { true, "modbus-tcp://127.0.0.1:" + port, true },
        { true, "tcp://127.0.0.1:" + port, true },
        { false, "modbus-tcp://127.0.0.1:" + port, false },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        m_messages.clear();
        {
            CSetup sheet(m_app.get());
            sheet.Tabs()->setCurrentIndex(1);
            QLineEdit *field
                = row.modbus ? sheet.ModbusPage()->PathField() : sheet.TerminalPage()->PathField();
            field->clear();
            QTest::keyClicks(field, row.text);
            sheet.OnOK();
        }
        SerialPort *serial = row.modbus ? static_cast<SerialPort *>(CTarvikApp::ModbusPort())
                                        : CTarvikApp::MeterLink();
        EXPECT_EQ(Stored(row.modbus ? "MBPort/MBCOM" : "Port/COM"), row.text);
        EXPECT_EQ(serial->PortText(), row.text);
        EXPECT_EQ(serial->IsOpen(), row.opens);
        EXPECT_EQ(m_messages.isEmpty(), row.opens) << m_messages.join('|').toStdString();
        if (!row.opens) {
            EXPECT_TRUE(m_messages.join('|').contains("Modbus TCP is for the Modbus port only"));
        }
        if (row.modbus) {
            EXPECT_EQ(CTarvikApp::ModbusPort()->IsModbusTcp(), row.text.startsWith("modbus-tcp"));
        }
    }
    ::close(listener);
}

// Publish: OK refuses what cannot work (the sheet stays open, nothing stored), then stores and
// starts what can; the status bar shows the broker's state (none listens here) and the queue.
TEST_F(Settings, PublishPageRefusesBadSettingsAndStartsGoodOnes)
{
    CSetup sheet(m_app.get());
    sheet.Tabs()->setCurrentIndex(4);
    CPublishPage *page = sheet.PublishPage();
    EXPECT_EQ(page->PrefixEdit()->text() + page->QosBox()->currentText(),
        QStringLiteral("tarvik1 - at least once"));
    QLabel *status = m_app->MainFrame()->PublishLabel();
    EXPECT_FALSE(status->isVisible());
    page->EnabledBox()->setChecked(true);
    for (const char *url : { "mqtt://127.0.0.1", "mqtt://127.0.0.1:1" }) {
        page->UrlEdit()->setText(QLatin1String(url));
        page->PrefixEdit()->setText(QStringLiteral("plant/#"));
        sheet.OnOK();
    }
    page->PrefixEdit()->setText(QStringLiteral("plant/hall2"));
    page->CertFileEdit()->setText(QCoreApplication::applicationFilePath());
    sheet.OnOK(); // a certificate without its key
    EXPECT_NE(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(m_messages.size(), 3);
    EXPECT_TRUE(m_messages.value(0).contains(QLatin1String("gives no port")));
    EXPECT_TRUE(m_messages.value(1).contains(QLatin1String("\"+\" or \"#\"")));
    EXPECT_TRUE(m_messages.value(2).contains(QLatin1String("needs its key file")));
    EXPECT_EQ(Stored(QStringLiteral("Publish/URL")), QString());
    EXPECT_FALSE(m_app->Publisher()->Started());
    page->CertFileEdit()->clear();
    page->DiscoveryBox()->setChecked(true);
    page->QosBox()->setCurrentIndex(0);
    sheet.OnOK();
    EXPECT_EQ(Stored(QStringLiteral("Publish/DISCOVERY")), QStringLiteral("true"));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(QStringLiteral("Publish/PREFIX")), QStringLiteral("plant/hall2"));
    EXPECT_EQ(Stored(QStringLiteral("Publish/QOS")), QStringLiteral("0"));
    EXPECT_TRUE(TestEnv::WaitUntil([status] {
        return status->text().contains(QLatin1String("(Connection refused)"));
    })) << qPrintable(status->text());
    m_app->Publisher()->ModbusReading(QDateTime::currentDateTime(), 1, {}, {}, QStringLiteral("x"));
    EXPECT_TRUE(status->isVisible() && status->text().endsWith(QLatin1String("1 queued")));
    EXPECT_TRUE(TestEnv::WaitUntil([status] { return status->width() >= status->minimumWidth(); }))
        << "the whole text is shown";
}

// Publish: a password an earlier program left in the preferences is not lost when the page is
// saved untouched (it moves to the keyring where one runs); a typed one replaces it; the page
// says where it is, and the preferences hold it only without a keyring.
TEST_F(Settings, PublishPasswordMovesToTheKeyringWithoutBeingLost)
{
    Store(QStringLiteral("Publish/ENABLED"), QStringLiteral("true"));
    Store(QStringLiteral("Publish/URL"), QStringLiteral("mqtt://127.0.0.1:1"));
    Store(QStringLiteral("Publish/USER"), QStringLiteral("meter"));
    Store(QStringLiteral("Publish/PASSWORD"), QStringLiteral("old"));
    CSetup sheet(m_app.get());
    sheet.Tabs()->setCurrentIndex(4);
    CPublishPage *page = sheet.PublishPage();
    EXPECT_TRUE(page->PasswordEdit()->text().isEmpty());
    EXPECT_TRUE(page->PasswordNote()->text().contains(QLatin1String("preferences file")));
    const auto kept = [page](const char *password) {
        return Stored(QStringLiteral("Publish/PASSWORD")) == QLatin1String(password)
            ? page->PasswordNote()->text().contains(QLatin1String("preferences file"))
            : Stored(QStringLiteral("Publish/PASSWORD")).isEmpty()
                && page->PasswordNote()->text().contains(QLatin1String("keyring."));
    };
    m_app->Publisher()->Stop();
    sheet.OnOK();
    EXPECT_TRUE(TestEnv::WaitUntil([this] { return m_app->Publisher()->Started(); }));
    EXPECT_TRUE(kept("old")) << qPrintable(Stored(QStringLiteral("Publish/PASSWORD")));

    sheet.Tabs()->setCurrentIndex(4);
    page->PasswordEdit()->setText(QStringLiteral("new"));
    m_app->Publisher()->Stop();
    sheet.OnOK();
    EXPECT_TRUE(page->PasswordEdit()->text().isEmpty());
    EXPECT_TRUE(TestEnv::WaitUntil([this] { return m_app->Publisher()->Started(); }));
    EXPECT_TRUE(kept("new")) << qPrintable(Stored(QStringLiteral("Publish/PASSWORD")));
    m_app->Publisher()->Stop();
}

// Sending and Audit: a server that does not answer keeps the trail's lines waiting, and the status
// bar says so; back on the SQLite file beside the trail, they are delivered and the field goes.
TEST_F(Settings, RecordsPageChoosesTheStoreAndTheStatusBarShowsWhatWaits)
{
    QTemporaryDir folder;
    AuditSettings::SetFolder(folder.path());
    QLabel *status = m_app->MainFrame()->RecordsLabel();
    CSetup sheet(m_app.get());
    sheet.Tabs()->setCurrentIndex(3);
    CAuditPage *page = sheet.AuditPage();
    EXPECT_FALSE(page->HostEdit()->isEnabled());
    page->ServerBox()->setChecked(true);
    page->HostEdit()->setText(QStringLiteral("127.0.0.1"));
    page->PortBox()->setValue(1);
    page->DatabaseEdit()->setText(QStringLiteral("records"));
    page->UserEdit()->setText(QStringLiteral("tarvik"));
    page->PasswordEdit()->setText(QStringLiteral("s3cret"));
    sheet.OnOK();
    EXPECT_EQ(Stored(QStringLiteral("Records/Host")) + Stored(QStringLiteral("Records/Port")),
        QStringLiteral("127.0.0.11"));
    // Wherever the password went, the page says so, and the preferences hold it only without
    // a keyring.
    ASSERT_TRUE(TestEnv::WaitUntil([page] { return !page->PasswordNote()->text().isEmpty(); }));
    EXPECT_EQ(Stored(QStringLiteral("Records/Password")).isEmpty(),
        page->PasswordNote()->text().contains(QLatin1String("keyring.")));
    AuditRecord record = AuditRecord::Now(QStringLiteral("read"), QStringLiteral("Kim"));
    record.serial = QStringLiteral("0042");
    QString error;
    ASSERT_TRUE(AuditLog(AuditSettings::TrailPath()).Append(record, &error));
    EXPECT_TRUE(TestEnv::WaitUntil([status] {
        return status->toolTip().contains(QLatin1String("cannot be reached"));
    })) << qPrintable(status->toolTip());
    EXPECT_TRUE(status->isVisibleTo(status->window()));
    EXPECT_EQ(status->text(), QStringLiteral("1 service record waiting"));

    sheet.Tabs()->setCurrentIndex(3);
    page->ServerBox()->setChecked(false);
    sheet.OnOK();
    EXPECT_TRUE(TestEnv::WaitUntil([this] { return m_app->Records()->Waiting() == 0; }))
        << qPrintable(m_app->Records()->Problem());
    EXPECT_FALSE(status->isVisibleTo(status->window()));
    EXPECT_TRUE(
        QFile::exists(QDir(folder.path()).filePath(QStringLiteral("tarvik-records.sqlite"))));
    AuditSettings::SetFolder(QString());
}

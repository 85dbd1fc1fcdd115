#include "app/CTarvikApp.h"

#include "app/CAboutDlg.h"
#include "app/CAppServices.h"
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTechDlg.h"
#include "app/DocTypes.h"
#include "app/TemplateChooser.h"
#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/MeterSession.h"
#include "base/ReadingSink.h"
#include "base/SheetPrinter.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "link/mbCSerial.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishSettings.h"
#include "records/KeyringPassword.h"
#include "records/RecordsDelivery.h"
#include "records/RecordsSettings.h"
#include "terminal/CTermView.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QScreen>
#include <QSpacerItem>

#include <initializer_list>
#include <utility>

CTarvikApp *CTarvikApp::s_instance = nullptr;

namespace {
// The program's message first, the operating system's reason on a line of its own.
QString WithReason(const char *message, const QString &reason)
{
    QString text = QString::fromLatin1(message);
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    return text;
}
} // namespace

CTarvikApp::CTarvikApp(const LinkTiming &timing, bool messageBoxes, QObject *parent)
    : QObject(parent)
    , m_timing(timing)
    , m_messageBoxes(messageBoxes)
{
    s_instance = this;
}

void CTarvikApp::CloseWindows()
{
    // Windows the main frame closed on Exit are deleted later, and the event loop that would
    // have deleted them has returned: they go now, so they are not asked about a second time.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_mainFrame)
        m_docManager->CloseAllDocuments();
    // What the closed windows left to say (a send cut short by Exit) is said before the program
    // ends: the event loop that would have shown it has already returned.
    UserMessage::ShowPending();
    m_mainFrame.reset();
}

bool CTarvikApp::CloseForExit(std::function<void()> done)
{
    CloseWindows();
    if (!m_meterLink || !m_meterLink->DetachedRunning())
        return false;
    if (!m_meterLink->DetachedDraining()) {
        m_meterLink->AfterDetached(std::move(done));
        return true;
    }
    // A meter still sending its log (a transfer Exit cut short) would not hear the command that
    // sends it back to run mode: the program waits for the end of the log, saying so, unless the
    // user leaves the meter as it is.
    m_exitWait = std::make_unique<QProgressDialog>(
        QString::fromLatin1(kExitWaitText), QStringLiteral("Exit Now"), 0, 0);
    m_exitWait->setWindowTitle(QString::fromLatin1(kAppTitle));
    m_exitWait->setMinimumDuration(0);
    CSerial *link = m_meterLink.get();
    connect(m_exitWait.get(), &QProgressDialog::canceled, this, [link] { link->HurryDetached(); });
    m_exitWait->show();
    m_meterLink->WhenDetachedEnds([this, done = std::move(done)] {
        m_exitWait.reset();
        done();
    });
    return true;
}

CTarvikApp::~CTarvikApp()
{
    // Exit: the documents close with the main frame (main has done it already, with
    // CloseForExit), then the Modbus port and the meter link are deleted, which purges and
    // closes their devices.
    CloseWindows();
    // The broker hears "offline" before the ports close.
    if (ReadingSink::Instance() == m_publisher.get())
        ReadingSink::Install(nullptr);
    m_publisher.reset();
    AuditLog::SetAppendedHook({});
    m_records.reset();
    if (m_messageBoxes) {
        // Their boxes belonged to the main frame.
        UserMessage::SetAskHandler(nullptr);
        UserMessage::SetInformHandler(nullptr);
    }
    if (AppServices::Instance() == m_services.get())
        AppServices::Install(nullptr);
    m_services.reset();
    m_docManager.reset();
    m_modbusPort.reset();
    m_meterLink.reset();
    if (s_instance == this)
        s_instance = nullptr;
}

CSerial *CTarvikApp::MeterLink()
{
    return s_instance ? s_instance->m_meterLink.get() : nullptr;
}

mbCSerial *CTarvikApp::ModbusPort()
{
    return s_instance ? s_instance->m_modbusPort.get() : nullptr;
}

bool CTarvikApp::InitInstance()
{
    m_docManager = std::make_unique<CDocManager>();
    m_services = std::make_unique<CAppServices>(
        m_docManager.get(), &CTarvikApp::MeterLink, &CTarvikApp::ModbusPort);
    AppServices::Install(m_services.get());
    m_docManager->LoadRecentFiles();
    DocTypes::RegisterAll(*m_docManager, &CTarvikApp::MeterLink);
    m_publisher = std::make_unique<MqttPublisher>();
    ReadingSink::Install(m_publisher.get());
    m_records = std::make_unique<RecordsDelivery>();
    // A line written to the trail reaches the store later, on the event loop, never inside the
    // dialogue that wrote it.
    AuditLog::SetAppendedHook(
        [records = m_records.get()](const QString &path) { records->Appended(path); });
    StartRecords();

    {
        CPrefs prefs;
        // With no meter identified yet, documents open in the firmware version the settings
        // chose; an empty version would let any layout's key decide.
        g_DocVersion = prefs.GetVersion();
        const QString mbPort = prefs.GetMBPort();
        if (mbPort != QLatin1String("OFF")) {
            m_modbusPort = std::make_unique<mbCSerial>(CPrefs::DeviceName(mbPort), m_timing);
            g_ModbusEnabled = 1;
        } else {
            g_ModbusEnabled = 0;
        }
        m_meterLink = std::make_unique<CSerial>(CPrefs::DeviceName(prefs.GetPort()), m_timing);

        m_mainFrame = std::make_unique<CMainFrame>(
            this, m_docManager.get(), m_publisher.get(), m_records.get());
        // The frame's commands that the application serves.
        using Slot = void (CTarvikApp::*)();
        for (const auto &[action, slot] : std::initializer_list<std::pair<const char *, Slot>> {
                 { "file_print_setup", &CTarvikApp::OnFilePrintSetup },
                 { "app_about", &CTarvikApp::OnAppAbout },
                 { "new_terminal", &CTarvikApp::OnNewTerminal },
                 { "new_meter_form", &CTarvikApp::OnNewMeterForm },
                 { "new_datalog", &CTarvikApp::OnNewDatalog },
                 { "new_quixal", &CTarvikApp::OnNewQuixal },
                 { "new_modbus", &CTarvikApp::OnNewModbus } })
            connect(m_mainFrame->Action(QLatin1String(action)), &QAction::triggered, this, slot);
        if (m_messageBoxes) {
            UserMessage::SetHandler([this](const QString &text, const QString &caption) {
                MakeMessageBox(text, caption, m_mainFrame.get())->exec();
            });
            UserMessage::SetInformHandler([this](const QString &text, const QString &caption) {
                MakeMessageBox(text, caption, m_mainFrame.get(), true)->exec();
            });
            UserMessage::SetAskHandler([this](const QString &text, const QString &caption) {
                return QMessageBox::question(m_mainFrame.get(), caption, text,
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                    == QMessageBox::Yes;
            });
            // The forms ask who prints before their first datasheet.
            SheetPrinter::SetOperatorPrompt(&CTechDlg::Ask);
        }
        // Without a window manager a maximise request is ignored: start at the screen's size.
        if (QScreen *screen = m_mainFrame->screen())
            m_mainFrame->setGeometry(screen->availableGeometry());
        m_mainFrame->showMaximized();

        m_meterLink->SetBaudText(prefs.GetBaud());
        m_meterLink->SetPortText(prefs.GetPort());
        if (!m_meterLink->OpenPort()) {
            m_meterLink->SetEnabled(0);
            UserMessage::Show(
                WithReason("Can't Open RS232 Communication port", m_meterLink->LastError()));
        }
        if (g_ModbusEnabled == 1) {
            m_modbusPort->SetBaudText(prefs.GetMBBaud());
            m_modbusPort->SetParityText(prefs.GetParity());
            m_modbusPort->SetPortText(mbPort);
            if (!m_modbusPort->OpenPort()) {
                m_modbusPort->SetEnabled(0);
                // Both ports on one device: the holder is this program, not another one.
                const QString device = CPrefs::DeviceName(mbPort);
                const bool ownLink
                    = m_meterLink->IsOpen() && device == CPrefs::DeviceName(prefs.GetPort());
                UserMessage::Show(ownLink
                        ? WithReason("Can't Open Modbus Communication port",
                            QStringLiteral("%1: held by this program's meter link (both are set "
                                           "to %2). Choose another port for one of them in "
                                           "View > Settings.")
                                .arg(device, mbPort))
                        : WithReason(
                            "Can't Open Modbus Communication port", m_modbusPort->LastError()));
            }
        }
    } // the preferences are written back here
    {
        std::unique_ptr<QSettings> store = CPrefs::OpenStore();
        const PublishSettings publish = PublishSettings::Load(*store);
        if (publish.enabled)
            StartPublishing(publish);
    }
    return true;
}

void CTarvikApp::StartRecords()
{
    const RecordsTarget target = RecordsSettings::Target(AuditSettings::TrailPath());
    const int hours = RecordsSettings::SessionHours();
    const QString trail = AuditSettings::TrailPath();
    if (target.kind == RecordsTarget::Kind::Sqlite || !target.password.isEmpty()) {
        m_records->Start(target, hours, trail);
        return;
    }
    QPointer<RecordsDelivery> records = m_records.get();
    KeyringPassword::Read(target.Url(), [records, target, hours, trail](const QString &password) {
        if (!records)
            return;
        RecordsTarget withPassword = target;
        withPassword.password = password;
        records->Start(withPassword, hours, trail);
    });
}

void CTarvikApp::StartPublishing(const PublishSettings &settings)
{
    // A broker is only given a password with a user name.
    if (!settings.enabled || !settings.password.isEmpty() || settings.user.isEmpty()) {
        ApplyPublishSettings(settings);
        return;
    }
    QPointer<CTarvikApp> app = this;
    const int start = ++m_publishStarts;
    KeyringPassword::Read(
        KeyringPassword::MqttAccount(), [app, settings, start](const QString &password) {
            // Settings put in force meanwhile win over these.
            if (!app || app->m_publishStarts != start)
                return;
            PublishSettings withPassword = settings;
            withPassword.password = password;
            app->ApplyPublishSettings(withPassword);
        });
}

QString CTarvikApp::ApplyPublishSettings(const PublishSettings &settings)
{
    ++m_publishStarts;
    if (!settings.enabled) {
        m_publisher->Stop();
        return {};
    }
    const QString error = m_publisher->Start(settings);
    if (!error.isEmpty())
        UserMessage::Show(QStringLiteral("Readings are not published.\n") + error);
    return error;
}

std::unique_ptr<QMessageBox> CTarvikApp::MakeMessageBox(
    const QString &text, const QString &caption, QWidget *parent, bool success)
{
    auto box
        = std::make_unique<QMessageBox>(success ? QMessageBox::Information : QMessageBox::Warning,
            caption.isEmpty() ? QString::fromLatin1(kAppTitle) : caption, text, QMessageBox::Ok,
            parent);
    // The title bar shows the caption beside the window buttons: room for both, in the title
    // font (bold on most desktops), set as a spacer across the box's layout.
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int wanted = QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + 140;
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
    return box;
}

QPrinter *CTarvikApp::Printer()
{
    // One printer for Print Setup and the forms' Print and Print Preview.
    return SheetPrinter::SharedPrinter();
}

void CTarvikApp::OnNewTerminal()
{
    g_DocKind = 2;
    CDocument *document = m_docManager->OpenDocumentFile(QStringLiteral("Terminal.trm"), false);
    // The new window wakes the meter's screens: purge, "[[[[[[[", purge, as its own dialogue,
    // which waits for a dialogue of another window to end first.
    CView *view = document && m_services ? m_services->FirstViewOf(document) : nullptr;
    if (auto *terminal = qobject_cast<CTermView *>(view))
        terminal->StartGreeting(QByteArrayLiteral("[[[[[[["));
}

void CTarvikApp::OnNewMeterForm()
{
    const QString file = TemplateChooser::KelvaneTemplate();
    if (file.isEmpty()) {
        // The chooser opens nothing for a Quixal meter: say so rather than do nothing.
        UserMessage::Show(QStringLiteral("The meter identified in the terminal is a Quixal meter "
                                         "(model %1, firmware %2): a Kelvane meter form cannot "
                                         "read it.\nOpen a Quixal meter form (New Quixal) for "
                                         "it.")
                              .arg(AppServices::Meter().Model(), AppServices::Meter().Version()),
            QString::fromLatin1(kAppTitle));
        return;
    }
    m_docManager->OpenDocumentFile(file, false, true);
}

void CTarvikApp::OnNewDatalog()
{
    m_docManager->OpenDocumentFile(QStringLiteral("Datalog.log"), false);
}

void CTarvikApp::OnNewQuixal()
{
    g_DocVersion = QStringLiteral("1.4A");
    m_docManager->OpenDocumentFile(QStringLiteral("Quixal.qxm"), false, true);
}

void CTarvikApp::OnNewModbus()
{
    m_docManager->OpenDocumentFile(QStringLiteral("Modbus.txt"), false);
}

void CTarvikApp::OnAppAbout()
{
    CAboutDlg about(m_mainFrame.get());
    about.exec();
}

void CTarvikApp::OnFilePrintSetup()
{
    QPageSetupDialog dialog(Printer(), m_mainFrame.get());
    dialog.exec();
}

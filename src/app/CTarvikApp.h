#pragma once

#include "link/LinkTiming.h"

#include <QObject>

#include <functional>
#include <memory>

class CAppServices;
class CDocManager;
class CMainFrame;
class CSerial;
class MqttPublisher;
class PublishSettings;
class mbCSerial;
class QMessageBox;
class QPrinter;
class QProgressDialog;
class QWidget;
class RecordsDelivery;

// The application object: owns the start-up order, the meter link, the Modbus port, the
// document manager and the main frame, and serves the toolbar's new-window commands. One per
// process; main() creates it and runs the event loop.
class CTarvikApp : public QObject
{
    Q_OBJECT
public:
    // timing gives the ports their pacing (tests shrink it). messageBoxes false leaves the
    // user-message handler as it is (tests record messages instead of showing boxes).
    explicit CTarvikApp(
        const LinkTiming &timing = {}, bool messageBoxes = true, QObject *parent = nullptr);
    ~CTarvikApp() override;

    // Start-up: document types, preferences, port objects, main frame, then the ports opened.
    // False when the main frame could not be created.
    bool InitInstance();
    // Exit, once the event loop has returned: the windows close (what they left to say is said).
    // When one left the meter link a command to send (a meter back to run mode), done is called
    // from the event loop once it is out, and true is returned: the caller runs the loop till
    // then (under a second; while the meter finishes sending its log, as long as that takes,
    // kExitWaitText shown with a button that ends the wait). false: nothing to wait for, done is
    // not called.
    bool CloseForExit(std::function<void()> done);
    static constexpr const char *kExitWaitText
        = "The meter is still sending its log. Once it has finished, it is sent back to run "
          "mode and the program ends.\nExit Now leaves the meter in command mode.";

    static CTarvikApp *Instance() { return s_instance; }
    // The meter link (exists from start-up to exit) and the Modbus port (may be null).
    static CSerial *MeterLink();
    static mbCSerial *ModbusPort();
    // The slot the Modbus settings page may fill with a new port object.
    std::unique_ptr<mbCSerial> &ModbusPortSlot() { return m_modbusPort; }
    const LinkTiming &Timing() const { return m_timing; }
    // The MQTT publisher, the reading sink of the Modbus windows and PC logging (exists from
    // start-up to exit; off unless Settings > Publish switched it on).
    MqttPublisher *Publisher() const { return m_publisher.get(); }
    // Fills the service records from the audit trail (exists from start-up to exit).
    RecordsDelivery *Records() const { return m_records.get(); }
    // Puts the service records' settings in force: the store and the trail they are filled from
    // (a server's password comes from the keyring first, later on the event loop).
    void StartRecords();
    // Puts publishing settings in force: on starts (or restarts) the publisher, off stops it.
    // Empty on success, else the message (also shown).
    QString ApplyPublishSettings(const PublishSettings &settings);
    // ApplyPublishSettings with the broker's password: the one settings hold (typed, or kept in
    // the preferences), else the keyring's, read first on the event loop.
    void StartPublishing(const PublishSettings &settings);
    CDocManager *DocManager() const { return m_docManager.get(); }
    CMainFrame *MainFrame() const { return m_mainFrame.get(); }
    QPrinter *Printer();
    // The message box the program shows for a user message: OK only, wide enough that its
    // caption is never cut off (a short text would otherwise leave a narrow box).
    // A success is told with the information icon, anything else with the warning.
    static std::unique_ptr<QMessageBox> MakeMessageBox(
        const QString &text, const QString &caption, QWidget *parent, bool success = false);

public Q_SLOTS:
    void OnNewTerminal();
    void OnNewMeterForm();
    void OnNewDatalog();
    void OnNewQuixal();
    void OnNewModbus();
    void OnAppAbout();
    void OnFilePrintSetup();

private:
    // The first half of Exit: deferred deletes, the documents, the pending messages, the main
    // frame. Does nothing the second time.
    void CloseWindows();

    static CTarvikApp *s_instance;
    LinkTiming m_timing;
    bool m_messageBoxes = true;
    std::unique_ptr<CDocManager> m_docManager;
    std::unique_ptr<CAppServices> m_services;
    std::unique_ptr<CSerial> m_meterLink;
    std::unique_ptr<mbCSerial> m_modbusPort;
    std::unique_ptr<MqttPublisher> m_publisher;
    int m_publishStarts = 0; // settings put in force, so a late keyring answer is not taken
    std::unique_ptr<RecordsDelivery> m_records;
    std::unique_ptr<CMainFrame> m_mainFrame;
    std::unique_ptr<QProgressDialog> m_exitWait; // while Exit waits for the meter's log to end
};

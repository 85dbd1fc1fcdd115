#pragma once

#include "base/CView.h"
#include "link/SerialPort.h"
#include "modbus/ModbusForm.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusPoller.h"
#include "modbus/ModbusSweepState.h"
#include "modbus/ModbusTrend.h"
#include "modbus/SweepRecorder.h"

#include <array>
#include <functional>

class DialogueRunner;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class ModbusTrendView;
class QPushButton;
class mbCSerial;

// The Modbus network window's view: eight meter panels read through the RTU master, the
// static data once on request, the dynamic data once or every N seconds, one meter per 80 ms
// step. Owns the master, the poller that paces the sweeps (ModbusPoller) and the DialogueRunner
// they run on, so keys and clicks are taken while a meter is read; the window shows what the
// poller reports and its messages once its dialogue has ended. The Modbus port belongs to the
// application and is reached through PortProvider, and a running sweep holds it
// (SerialPort::Claim) so another Modbus window never interleaves with it.
// Created by the document manager for ".txt" documents (the New Modbus form command opens
// "Modbus.txt").
class Modbus : public CView
{
    Q_OBJECT
public:
    static constexpr int kPanels = ModbusPanelRules::kPanels;

    explicit Modbus(CDocument *document, QWidget *parent = nullptr);
    ~Modbus() override;

    // Where the view finds the Modbus port, and the process-wide sweep state (ModbusSweepState).
    using PortProvider = ModbusSweepState::PortProvider;
    static PortProvider SetPortProvider(PortProvider provider)
    {
        return ModbusSweepState::SetPortProvider(std::move(provider));
    }
    static mbCSerial *CurrentPort() { return ModbusSweepState::CurrentPort(); }
    static int SweepIndex() { return ModbusSweepState::SweepIndex(); }
    static void SetSweepIndex(int index) { ModbusSweepState::SetSweepIndex(index); }
    static int SampleCount() { return ModbusSweepState::SampleCount(); }
    // Whether the Modbus port is turned on in the settings, asked before each sweep; a view
    // given none takes it as on.
    void SetPortSwitch(std::function<bool()> on) { m_portOn = std::move(on); }

    // Where "Keep polling through errors" is kept: section and entry of the preferences.
    static constexpr const char *kKeepPollingSection = "MBPoll";
    static constexpr const char *kKeepPollingEntry = "KEEPPOLLING";

    void OnInitialUpdate() override;

    // Event handlers, public so tests can drive them as the window does.
    void OnAddressFocusIn(int panel);
    void OnAddressFocusOut(int panel);
    void OnPeriodFocusOut();
    void OnUpdateClicked();
    void OnDynamicButton();
    void OnStaticButton();
    void OnKeepPollingClicked(bool on);
    // Ends this window's exchange now (nothing of it resumes) and stops its polling; what the
    // port's CancelDialogue calls before Settings closes, reopens or replaces the port.
    void EndDialogue();

    // Panels are numbered 1..8 in polling order.
    using Field = ModbusPanelRules::Field;
    using enum ModbusPanelRules::Field;
    QLineEdit *FieldEdit(int panel, Field field) const { return m_form.FieldEdit(panel, field); }
    QString FieldText(int panel, Field field) const { return m_form.FieldText(panel, field); }
    QGroupBox *PanelBox(int panel) const { return m_form.PanelBox(panel); }
    QLineEdit *PeriodEdit() const { return m_form.period; }
    QString SamplesText() const;
    QString DynamicCaption() const;
    QString StaticCaption() const;
    bool UpdateOn() const;
    bool KeepPolling() const;
    QCheckBox *KeepPollingBox() const { return m_form.keepPolling; }
    // What a panel shows of its failures while polling goes on through them ("Failures: N -
    // what went wrong"; empty: none), and how many there were since polling started.
    QString FailureText(int panel) const { return m_form.FailureText(panel); }
    int FailureCount(int panel) const;
    // Whether a sweep (its exchanges with the slaves) or the message that ends it is under way.
    bool Busy() const { return m_poller.InSweep() || m_ending || m_checking; }
    // Whether polling (or a static read) runs: a sweep, the pause before the next, or the
    // messages that end it.
    bool Polling() const { return m_poller.Running() || m_ending; }
    QString PortFieldText(int which) const { return m_form.PortFieldText(which); }
    int SelectedMeters() const { return m_selected; }
    ModbusMaster &Master() { return m_master; }

    // The live flow trend and the CSV recording of every sweep.
    const ModbusTrend &Trend() const { return m_trend; }
    const SweepRecorder &Recorder() const { return m_recorder; }
    // Trend: opens (or raises) the trend window.
    void OnTrendClicked();
    ModbusTrendView *TrendView() const;
    // Record: asks for a file and records every sweep to it (the meters whose panels have an
    // address now); pressed again, stops.
    void OnRecordClicked();
    // Starts recording to path; empty on success, else the message (also shown).
    QString StartRecording(const QString &path, const CsvDialect &dialect = {});
    void StopRecording();
    // Asks for the file to record to (empty: cancelled); tests install their own. Gives back
    // the prompt it replaces.
    using RecordPrompt = std::function<QString(QWidget *parent)>;
    static RecordPrompt SetRecordPrompt(RecordPrompt prompt);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<bool()> m_portOn;
    using Panel = ModbusForm::Panel;

    void Message(const QString &text);
    bool PortReady();
    // The port field: the port's name, marked when its device went away.
    void ShowPort();
    int PeriodCheck();
    void HoldPort(mbCSerial *port);
    // Starts the poller with settings on the window's runner.
    void StartPolling(const ModbusPoller::Settings &settings);
    // A failure ends polling: the buttons say so.
    void StopPolling();
    // The poller's dialogue has ended: its messages, the buttons.
    void AfterDialogue();
    // The poller's hooks.
    bool SweepBegins();
    void ReadBegins(int panel);
    void ReadingDone(const ModbusPoller::Result &result);
    void ShowFailure(int panel, const QString &address, int failures);
    // Hands a meter's reading (or its failure) to the installed reading sink, if any.
    void PublishReading(int panel, const QString &address, const QString &failure);
    void SweepEnded();

    ModbusMaster m_master;
    ModbusPoller m_poller { m_master, kPanels };
    ModbusForm m_form;
    DialogueRunner *m_dialogue = nullptr;
    unsigned m_pollingRun = 0; // counts polling runs started and ended by EndDialogue
    // The port, held from the start of a sweep or a static read until its end.
    SerialPort::Claim m_claim;
    int m_selected = 1;
    // The "ERROR" messages of the failed transactions, shown once their dialogue has ended.
    QStringList m_failureMessages;
    // A recording's write failure at the end of a sweep within the polling dialogue.
    QString m_recordingError;
    // Set while a check or a failure shows its message, so the focus moves of the box do not
    // check again.
    bool m_checking = false;
    // The poller's dialogue has ended; what follows it (its messages) is still to come.
    bool m_ending = false;

    ModbusTrend m_trend;
    SweepRecorder m_recorder;
    bool m_sweepOpen = false; // a sweep's readings are being gathered
    ModbusTrendView *m_trendView = nullptr;
};

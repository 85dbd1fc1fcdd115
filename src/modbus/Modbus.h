#pragma once

#include "base/CView.h"
#include "link/SerialPort.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusTrend.h"
#include "modbus/SweepRecorder.h"

#include <QBasicTimer>

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
// tick. Owns the master, the window's two timers and the DialogueRunner on which every
// transaction waits for its slave, so keys and clicks are taken while a meter is read; the
// Modbus port belongs to the application and is reached through PortProvider, and a running
// exchange holds it (SerialPort::Claim) so another Modbus window never interleaves with it.
// Created by the document manager for ".txt" documents (the New Modbus form command opens
// "Modbus.txt").
class Modbus : public CView
{
    Q_OBJECT
public:
    static constexpr int kPanels = 8;
    static constexpr int kRepeatTimer = 10; // one sweep every N seconds
    static constexpr int kStepTimer = 20; // one panel per tick within a sweep
    static constexpr int kStepMs = 80;

    explicit Modbus(CDocument *document, QWidget *parent = nullptr);
    ~Modbus() override;

    // Where the view finds the Modbus port (may give null): the application's by default;
    // tests and the benchmark install their own.
    using PortProvider = std::function<mbCSerial *()>;
    static PortProvider SetPortProvider(PortProvider provider);
    static mbCSerial *CurrentPort();
    // The process-wide sweep index (next panel, 1..8) and sample counter.
    static int SweepIndex();
    static void SetSweepIndex(int index);
    static int SampleCount();

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
    void OnTimer(int id);
    void OnKeepPollingClicked(bool on);
    // Ends this window's exchange now (nothing of it resumes) and stops its polling; what the
    // port's CancelDialogue calls before Settings closes, reopens or replaces the port.
    void EndDialogue();

    // Panels are numbered 1..8 in polling order.
    enum Field {
        Address,
        Flow,
        FlowUnits,
        Totalizer,
        TotalizerUnits,
        Temperature,
        TemperatureUnit,
        SerialNumber,
        MaxRange,
        FullScale,
        FieldCount
    };
    QLineEdit *FieldEdit(int panel, Field field) const;
    QString FieldText(int panel, Field field) const;
    QGroupBox *PanelBox(int panel) const;
    QLineEdit *PeriodEdit() const { return m_period; }
    QString SamplesText() const;
    QString DynamicCaption() const;
    QString StaticCaption() const;
    bool UpdateOn() const;
    bool KeepPolling() const;
    QCheckBox *KeepPollingBox() const { return m_keepPolling; }
    // What a panel shows of its failures while polling goes on through them ("Failures: N -
    // what went wrong"; empty: none), and how many there were since polling started.
    QString FailureText(int panel) const;
    int FailureCount(int panel) const;
    // Whether an exchange with a slave (or the message that ends it) is in progress.
    bool Busy() const { return m_busy; }
    QString PortFieldText(int which) const; // 0 port, 1 baud, 2 parity
    int SelectedMeters() const { return m_selected; }
    bool TimerActive(int id) const;
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
    QString StartRecording(const QString &path);
    void StopRecording();
    // Asks for the file to record to (empty: cancelled); tests install their own. Gives back
    // the prompt it replaces.
    using RecordPrompt = std::function<QString(QWidget *parent)>;
    static RecordPrompt SetRecordPrompt(RecordPrompt prompt);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    struct Panel
    {
        QGroupBox *box = nullptr;
        std::array<QLineEdit *, FieldCount> fields {};
        QString remembered;
        QLabel *failure = nullptr;
        int failures = 0;
    };

    QGroupBox *BuildPanel(int number);
    QWidget *BuildControls();
    void ClearDataFields(int panel);
    void Message(const QString &text);
    void StartTimer(int id, int ms);
    void StopTimer(int id);
    bool PortReady();
    // The port field: the port's name, marked when its device went away.
    void ShowPort();
    int PeriodCheck();
    void PollPanel(int panel);
    void StopPolling();
    void HoldPort(mbCSerial *port);
    void BeginDialogue(Task<void> dialogue);
    void DialogueFinished();
    void AfterDialogue();
    void FinishExchange();
    Task<void> PollDialogue(int panel);
    void StaticNext();
    Task<void> StaticDialogue(int panel);
    void ShowFailure(int panel, const QString &address);
    // Hands a meter's reading (or its failure) to the installed reading sink, if any.
    void PublishReading(int panel, const QString &address, const QString &failure);
    void SweepEnded();

    ModbusMaster m_master;
    std::array<Panel, kPanels + 1> m_panels; // index 0 unused
    QLineEdit *m_period = nullptr;
    QLineEdit *m_samples = nullptr;
    QLineEdit *m_portField = nullptr;
    QLineEdit *m_baudField = nullptr;
    QLineEdit *m_parityField = nullptr;
    QPushButton *m_dynamicButton = nullptr;
    QPushButton *m_staticButton = nullptr;
    QCheckBox *m_update = nullptr;
    QCheckBox *m_keepPolling = nullptr;
    DialogueRunner *m_dialogue = nullptr;
    // The port, held from the start of a sweep or a static read until its last panel's
    // exchange and the message that may end it are over.
    SerialPort::Claim m_claim;
    QBasicTimer m_repeatTimer;
    QBasicTimer m_stepTimer;
    int m_selected = 1;
    // Set while a transaction (and its message box) runs; ticks that arrive then are run once
    // it has ended, as a timer that fell due during a blocking call fires at its end.
    bool m_busy = false;
    bool m_repeatDue = false;
    bool m_stepDue = false;
    // The "ERROR" message of the failed transaction, shown once its dialogue has ended.
    QString m_failureMessage;
    // The next panel of a static read in progress (0: none).
    int m_staticNext = 0;
    // Counts the exchanges ended by EndDialogue, so an end posted before it is ignored.
    int m_generation = 0;
    // Set while a check shows its message, so the focus moves of the box do not check again.
    bool m_checking = false;

    ModbusTrend m_trend;
    SweepRecorder m_recorder;
    bool m_sweepOpen = false; // a sweep's readings are being gathered
    QPushButton *m_trendButton = nullptr;
    QPushButton *m_recordButton = nullptr;
    ModbusTrendView *m_trendView = nullptr;
};

#include "modbus/Modbus.h"

#include "base/CPrefs.h"
#include "base/DialogueRunner.h"
#include "base/FieldWidth.h"
#include "base/ReadingSink.h"
#include "base/SaveDialog.h"
#include "base/ScanText.h"
#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusPanelRules.h"
#include "modbus/ModbusSweepState.h"
#include "modbus/ModbusTrendView.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <utility>

namespace {

const QString kDashes = QString::fromLatin1(ModbusPanelRules::kDashes);
const QString kCmd3 = QString::fromLatin1(ModbusPanelRules::kCmd3);
const QString kPortOff = QString::fromLatin1(ModbusPanelRules::kPortOffText);
const QString kCantOpen = QString::fromLatin1(ModbusPanelRules::kCantOpenText);
const QString kPortInUse = QString::fromLatin1(ModbusPanelRules::kPortInUseText);

QString KeepPollingKey()
{
    return QLatin1String(Modbus::kKeepPollingSection) + QLatin1Char('/')
        + QLatin1String(Modbus::kKeepPollingEntry);
}

} // namespace

Modbus::Modbus(CDocument *document, QWidget *parent)
    : CView(document, parent)
{
    // The panels scroll in a window smaller than their layout instead of squeezing the fields.
    FieldWidth::Scrolling(this, m_form.Build(this));
    m_form.period->installEventFilter(this);
    connect(m_form.staticButton, &QPushButton::clicked, this, [this] { OnStaticButton(); });
    connect(m_form.dynamicButton, &QPushButton::clicked, this, [this] { OnDynamicButton(); });
    connect(m_form.update, &QCheckBox::clicked, this, [this] { OnUpdateClicked(); });
    connect(m_form.trendButton, &QPushButton::clicked, this, [this] { OnTrendClicked(); });
    connect(m_form.recordButton, &QPushButton::clicked, this, [this] { OnRecordClicked(); });
    connect(m_form.keepPolling, &QCheckBox::clicked, this,
        [this](bool on) { OnKeepPollingClicked(on); });
    for (int n = 1; n <= kPanels; ++n) {
        m_form.panels[size_t(n)].fields[Address]->installEventFilter(this);
        m_form.panels[size_t(n)].fields[Address]->setProperty("panel", n);
    }

    m_dialogue = new DialogueRunner(this);
    m_master.SetPort(CurrentPort());
    ModbusPoller::Hooks hooks;
    hooks.address
        = [this](int panel) { return m_form.panels[size_t(panel)].fields[Address]->text(); };
    hooks.sweepBegins = [this] { return SweepBegins(); };
    hooks.readBegins = [this](int panel, const QString &) { ReadBegins(panel); };
    hooks.result = [this](const ModbusPoller::Result &result) { ReadingDone(result); };
    hooks.sweepEnded = [this] {
        if (m_poller.GetSettings().dynamic)
            ModbusSweepState::SetSweepIndex(m_poller.Next());
        m_claim.Release();
        SweepEnded();
    };
    m_poller.SetHooks(std::move(hooks));
    OnInitialUpdate();
}

Modbus::~Modbus()
{
    // A transaction waiting on its slave goes first, while everything it refers to is here.
    delete m_dialogue;
    m_dialogue = nullptr;
}

void Modbus::EndDialogue()
{
    // Aborting destroys the waiting transaction where it waits: nothing of it resumes on a port
    // that is about to be closed or replaced, and its pending end has nothing more to say.
    m_dialogue->Abort();
    ++m_pollingRun;
    m_failureMessages.clear();
    m_ending = false;
    m_form.staticButton->setText(kCmd3);
    m_form.staticButton->setToolTip(QString());
    m_form.dynamicButton->setText(kCmd3);
    m_claim.Release();
    SweepEnded(); // what the sweep read is kept
    if (!m_recordingError.isEmpty())
        UserMessage::Show(std::exchange(m_recordingError, {}), QStringLiteral("Modbus Recording"));
}

void Modbus::OnInitialUpdate()
{
    m_form.Reset();
    {
        auto store = CPrefs::OpenStore();
        m_form.keepPolling->setChecked(CPrefs::ReadText(*store, QLatin1String(kKeepPollingSection),
                                           QLatin1String(kKeepPollingEntry))
            == QLatin1String("1"));
    }
    m_selected = 1;
    mbCSerial *port = CurrentPort();
    ShowPort();
    m_form.baudField->setText(port ? port->BaudText() : QString());
    m_form.parityField->setText(port ? port->ParityText() : QString());
}

int Modbus::FailureCount(int panel) const
{
    return m_poller.FailureCount(panel);
}

QString Modbus::SamplesText() const
{
    return m_form.samples->text();
}

QString Modbus::DynamicCaption() const
{
    return m_form.dynamicButton->text();
}

QString Modbus::StaticCaption() const
{
    return m_form.staticButton->text();
}

bool Modbus::UpdateOn() const
{
    return m_form.update->isChecked();
}

bool Modbus::KeepPolling() const
{
    return m_form.keepPolling->isChecked();
}

void Modbus::Message(const QString &text)
{
    m_checking = true;
    UserMessage::Show(text);
    m_checking = false;
}

bool Modbus::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        // Focus that leaves for another window (a message box) or a popup is no edit ending.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool windowMove
            = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        if (!windowMove && !m_checking) {
            const int panel = watched->property("panel").toInt();
            if (watched == m_form.period) {
                if (event->type() == QEvent::FocusOut)
                    OnPeriodFocusOut();
            } else if (panel >= 1 && panel <= kPanels) {
                if (event->type() == QEvent::FocusIn)
                    OnAddressFocusIn(panel);
                else
                    OnAddressFocusOut(panel);
            }
        }
    }
    return CView::eventFilter(watched, event);
}

void Modbus::OnAddressFocusIn(int panel)
{
    Panel &p = m_form.panels[size_t(panel)];
    p.remembered = p.fields[Address]->text();
}

void Modbus::OnAddressFocusOut(int panel)
{
    Panel &p = m_form.panels[size_t(panel)];
    QLineEdit *edit = p.fields[Address];
    const QString text = edit->text();
    if (text != p.remembered)
        m_form.ClearDataFields(panel);
    std::array<QString, kPanels + 1> remembered;
    for (int n = 1; n <= kPanels; ++n)
        remembered[size_t(n)] = m_form.panels[size_t(n)].remembered;
    if (const QString refusal = ModbusPanelRules::AddressRefusal(panel, text, remembered);
        !refusal.isEmpty()) {
        Message(refusal);
        edit->setText(p.remembered);
        edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_selected = ModbusPanelRules::SelectedAfter(m_selected, p.remembered, text);
    p.remembered = text;
}

int Modbus::PeriodCheck()
{
    if (m_selected <= 0) {
        Message(QStringLiteral("No Meters are Selected"));
        m_form.period->setText(QStringLiteral(".1"));
    }
    const double minimum = ModbusPanelRules::MinimumPeriod(m_selected);
    if (ModbusPanelRules::DecimalReal(m_form.period->text()) < minimum) {
        // The field keeps the minimum itself, so the sweeps come at the rate the
        // message names.
        m_form.period->setText(QString::number(minimum));
        Message(QStringLiteral("     Min Update Rate\n\r.01 * (# of Selected Meters)"));
        m_form.period->setFocus(Qt::OtherFocusReason);
        return 0;
    }
    return 1;
}

void Modbus::OnPeriodFocusOut()
{
    PeriodCheck();
}

void Modbus::OnUpdateClicked()
{
    // The check box flips itself on a click; a direct call (tests) flips it here.
    if (sender() != m_form.update)
        m_form.update->setChecked(!m_form.update->isChecked());
}

void Modbus::OnKeepPollingClicked(bool on)
{
    // The check box flips itself on a click; a direct call (tests) sets it here.
    if (sender() != m_form.keepPolling)
        m_form.keepPolling->setChecked(on);
    if (m_poller.GetSettings().dynamic)
        m_poller.SetKeepPolling(on);
    CPrefs::OpenStore()->setValue(KeepPollingKey(), on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Modbus::PortReady()
{
    if (m_portOn && !m_portOn()) {
        UserMessage::Show(kPortOff);
        return false;
    }
    mbCSerial *port = CurrentPort();
    if (!port) {
        UserMessage::Show(kCantOpen);
        return false;
    }
    // A port whose device went away is opened again when it is back.
    if (port->IsGone())
        port->Revive();
    ShowPort();
    if (!port->IsEnabled() || !port->IsOpen()) {
        // Said at once, with the port's name and the system's reason, instead of three
        // transactions that cannot reach a meter.
        UserMessage::Show(kCantOpen + QStringLiteral("\n\n") + port->NotOpenText());
        return false;
    }
    m_master.SetPort(port);
    return true;
}

void Modbus::ShowPort()
{
    const mbCSerial *port = CurrentPort();
    if (!port) {
        m_form.portField->clear();
        return;
    }
    m_form.portField->setText(
        port->IsGone() ? QStringLiteral("%1 (gone)").arg(port->PortText()) : port->PortText());
    m_form.portField->setToolTip(port->IsGone() ? port->GoneText() : QString());
}

void Modbus::OnDynamicButton()
{
    if (m_ending)
        return; // the messages of the polling that ended come first
    if (!PortReady())
        return;
    PeriodCheck();
    if (m_form.dynamicButton->text() == QStringLiteral("STOP")) {
        // The sweep under way ends with its remaining panels; the pause between two sweeps
        // ends now.
        if (m_poller.InSweep())
            m_poller.Finish();
        else
            EndDialogue();
        m_form.dynamicButton->setText(kCmd3);
        return;
    }
    if (m_poller.Running() && !m_poller.GetSettings().dynamic)
        return; // a static read runs: its button stops it
    // The trend shows the time polling was stopped as a gap, not a line across it.
    m_trend.Pause(QDateTime::currentMSecsSinceEpoch());
    // Failures are counted since polling started.
    m_form.ClearFailures();
    ModbusPoller::Settings settings;
    settings.keepPolling = KeepPolling();
    if (m_form.update->isChecked()) {
        m_form.dynamicButton->setText(QStringLiteral("STOP"));
        settings.periodMs = ModbusPanelRules::PeriodMs(m_form.period->text());
        settings.sweeps = 0;
        settings.firstAfterPeriod = true;
        m_form.samples->setText(QStringLiteral("0"));
    } else {
        m_form.dynamicButton->setText(kCmd3);
        m_form.samples->setText(QStringLiteral("1"));
    }
    ModbusSweepState::SetSampleCount(0);
    StartPolling(settings);
}

void Modbus::StartPolling(const ModbusPoller::Settings &settings)
{
    m_master.SetPort(CurrentPort());
    // Polling that is winding down (its last sweep under way) takes the new settings and goes
    // on within its dialogue.
    if (m_poller.Running()) {
        m_poller.SetSettings(settings);
        return;
    }
    m_poller.SetSettings(settings);
    m_poller.SetNext(settings.dynamic ? ModbusSweepState::SweepIndex() : 1);
    const unsigned run = ++m_pollingRun;
    m_dialogue->Start(m_poller.Run(*m_dialogue), [this, run] {
        m_ending = true;
        // What follows may show a modal message or start polling again: from the event loop,
        // never from inside the runner that is finishing; polling that EndDialogue ended or a
        // later run replaced meanwhile has nothing more to say.
        QMetaObject::invokeMethod(
            this,
            [this, run] {
                if (run == m_pollingRun && m_ending)
                    AfterDialogue();
            },
            Qt::QueuedConnection);
    });
}

bool Modbus::SweepBegins()
{
    // Another Modbus window's exchange holds the port: this sweep gives way to it and is tried
    // again.
    mbCSerial *port = CurrentPort();
    if (port && !port->FreeFor(this))
        return false;
    // The sweep holds the port from its first panel to its last.
    HoldPort(port);
    m_master.SetPort(port);
    if (!m_poller.GetSettings().dynamic)
        return true;
    ModbusSweepState::SetSampleCount(ModbusSweepState::SampleCount() + 1);
    m_form.samples->setText(QString::number(ModbusSweepState::SampleCount()));
    // A row of the recording covers one pass over the panels: a sweep that goes on with a pass
    // ended early adds to its row.
    if (!std::exchange(m_sweepOpen, true))
        m_recorder.BeginSweep(QDateTime::currentDateTime());
    // Update turned off while polling: this sweep is the last.
    if (!m_form.update->isChecked())
        m_poller.SetSweeps(m_poller.Sweep() + 1);
    return true;
}

void Modbus::HoldPort(mbCSerial *port)
{
    // Settings asks the holder to stop before the port is closed or replaced: the exchange and
    // polling end at once.
    if (!m_claim.Held())
        m_claim = SerialPort::Claim(port, this, [this] { EndDialogue(); });
}

void Modbus::StopPolling()
{
    m_form.dynamicButton->setText(kCmd3);
    m_form.update->setChecked(false);
}

void Modbus::AfterDialogue()
{
    m_ending = false;
    if (!m_poller.GetSettings().dynamic) {
        m_form.staticButton->setText(kCmd3);
        m_form.staticButton->setToolTip(QString());
    } else {
        m_form.dynamicButton->setText(kCmd3);
    }
    const QPointer<Modbus> self(this);
    for (const QString &text : std::exchange(m_failureMessages, {})) {
        m_checking = true;
        UserMessage::Show(text, QStringLiteral("ERROR"));
        if (!self)
            return;
        m_checking = false;
    }
    if (!m_recordingError.isEmpty())
        UserMessage::Show(std::exchange(m_recordingError, {}), QStringLiteral("Modbus Recording"));
}

void Modbus::ReadBegins(int panel)
{
    auto &f = m_form.panels[size_t(panel)].fields;
    if (!m_poller.GetSettings().dynamic) {
        for (Field field : { SerialNumber, FlowUnits, TotalizerUnits, FullScale, MaxRange })
            f[field]->setText(kDashes);
        int ahead = 0;
        for (int later = panel + 1; later <= kPanels; ++later)
            ahead += ModbusPanelRules::DecimalValue(
                         m_form.panels[size_t(later)].fields[Address]->text())
                > 0;
        m_form.staticButton->setToolTip(
            QStringLiteral("Reading the static data of meter %1 at "
                           "address %2; %3 more to read.\nClick to stop.")
                .arg(panel)
                .arg(f[Address]->text())
                .arg(ahead));
        return;
    }
    ModbusSweepState::SetSweepIndex(m_poller.Next());
    m_master.SetPort(CurrentPort());
    for (Field field : { Flow, Totalizer, Temperature })
        f[field]->setText(kDashes);
}

void Modbus::ReadingDone(const ModbusPoller::Result &result)
{
    const int panel = result.slot;
    const QString &address = result.address;
    auto &f = m_form.panels[size_t(panel)].fields;
    if (!m_poller.GetSettings().dynamic) {
        // A static read goes on after a failure; each failure is said once it has ended.
        if (!result.ok)
            m_failureMessages << m_master.FailureText(address);
        else if (f[Address]->text() == address) {
            f[SerialNumber]->setText(m_master.SerialNumberText());
            f[FlowUnits]->setText(m_master.FlowUnitsText());
            f[TotalizerUnits]->setText(m_master.TotalizerUnitsText());
            f[MaxRange]->setText(m_master.MaxRangeText());
            f[FullScale]->setText(m_master.FullScaleText());
        }
        return;
    }
    ShowPort(); // the port may have gone, or come back, during the exchange
    if (result.ok) {
        // An address changed while its meter was read shows nothing of the old one.
        if (f[Address]->text() != address)
            return;
        f[Flow]->setText(m_master.FlowText());
        f[Totalizer]->setText(m_master.TotalizerText());
        f[Temperature]->setText(m_master.TemperatureText());
        if (f[FlowUnits]->text() != kDashes)
            m_trend.SetUnits(panel, f[FlowUnits]->text());
        m_trend.Reading(panel, address, QDateTime::currentMSecsSinceEpoch(),
            ScanText::Double(m_master.FlowText()).value_or(qQNaN()));
        m_recorder.Reading(panel, address, m_master.FlowText(), m_master.TotalizerText(),
            m_master.TemperatureText());
        PublishReading(panel, address, {});
        return;
    }
    m_trend.Failed(panel, address, QDateTime::currentMSecsSinceEpoch());
    PublishReading(panel, address, m_master.FailureText(address).trimmed());
    if (!result.ending) {
        ShowFailure(panel, address, result.failures);
        return;
    }
    // Polling stops (the poller ends after this read) and says why once it has.
    StopPolling();
    m_failureMessages << m_master.FailureText(address);
}

void Modbus::PublishReading(int panel, const QString &address, const QString &failure)
{
    ReadingSink *sink = ReadingSink::Instance();
    if (!sink)
        return;
    const auto &f = m_form.panels[size_t(panel)].fields;
    std::vector<ReadingSink::Value> values;
    if (failure.isEmpty())
        values = ModbusPanelRules::Values(
            m_master, f[FlowUnits]->text(), f[TotalizerUnits]->text(), f[TemperatureUnit]->text());
    // Dashes: the static block was not read, or its read failed; the serial is not known.
    QString serial = f[SerialNumber]->text().trimmed();
    if (serial == kDashes)
        serial.clear();
    sink->ModbusReading(
        QDateTime::currentDateTime(), ModbusMaster::AddressValue(address), serial, values, failure);
}

void Modbus::ShowFailure(int panel, const QString &address, int failures)
{
    Panel &p = m_form.panels[size_t(panel)];
    const QString text = m_master.FailureText(address);
    p.failure->setText(ModbusPanelRules::FailureLine(text, failures));
    p.failure->setToolTip(ModbusPanelRules::FailureTip(text, failures));
    p.failure->show();
}

void Modbus::OnStaticButton()
{
    // The button of a static read in progress stops it: the waiting exchange ends at once, the
    // meters read so far keep their data.
    if (m_poller.Running() && !m_poller.GetSettings().dynamic) {
        EndDialogue();
        return;
    }
    if (m_ending)
        return; // the messages of the polling that ended come first
    if (!PortReady())
        return;
    if (m_form.dynamicButton->text() == QStringLiteral("STOP") || Busy() || m_poller.Running())
        return;
    if (!CurrentPort()->FreeFor(this)) {
        UserMessage::Show(kPortInUse);
        return;
    }
    m_form.staticButton->setText(QStringLiteral("Sending"));
    ModbusPoller::Settings settings;
    settings.dynamic = false;
    settings.keepPolling = true; // every meter is read, whatever the one before it did
    StartPolling(settings);
}

// ---------------------------------------------------------------- trend and recording

namespace {
Modbus::RecordPrompt &RecordPromptInForce()
{
    static Modbus::RecordPrompt prompt;
    return prompt;
}
} // namespace

Modbus::RecordPrompt Modbus::SetRecordPrompt(RecordPrompt prompt)
{
    return std::exchange(RecordPromptInForce(), std::move(prompt));
}

void Modbus::SweepEnded()
{
    if (!std::exchange(m_sweepOpen, false))
        return;
    const QString error = m_recorder.EndSweep();
    if (!error.isEmpty()) {
        m_form.recordButton->setText(QStringLiteral("Record..."));
        // Within the polling dialogue the message waits for its end; polling goes on.
        if (m_dialogue->IsRunning())
            m_recordingError = error;
        else
            UserMessage::Show(error, QStringLiteral("Modbus Recording"));
    }
    if (m_trendView)
        m_trendView->Refresh();
}

void Modbus::OnTrendClicked()
{
    if (!m_trendView)
        m_trendView = new ModbusTrendView(m_trend, this);
    m_trendView->Refresh();
    m_trendView->show();
    m_trendView->raise();
}

ModbusTrendView *Modbus::TrendView() const
{
    return m_trendView;
}

void Modbus::OnRecordClicked()
{
    if (m_recorder.Recording()) {
        StopRecording();
        return;
    }
    SaveDialog::Request request;
    request.caption = QStringLiteral("Record Sweeps");
    request.proposed = QStringLiteral("modbus.csv");
    // The filter chosen is the CSV dialect: comma and point, or semicolon and decimal comma.
    request.filters = CsvDialect::FileFilters() << QStringLiteral("All files (*)");
    request.extensions = QStringList { QStringLiteral(".csv") };
    QString filter;
    request.chosenFilter = &filter;
    SaveDialog::Prompt prompt;
    if (RecordPromptInForce())
        prompt = [](QWidget *parent, const QString &) { return RecordPromptInForce()(parent); };
    const QString path = SaveDialog::Ask(this, request, prompt);
    if (!path.isEmpty())
        StartRecording(path, CsvDialect::FromFileFilter(filter));
}

QString Modbus::StartRecording(const QString &path, const CsvDialect &dialect)
{
    const QString error = m_recorder.Start(path, m_form.RecordedMeters(), dialect);
    if (!error.isEmpty()) {
        UserMessage::Show(error, QStringLiteral("Modbus Recording"));
        return error;
    }
    m_form.recordButton->setText(QStringLiteral("Stop Rec."));
    return QString();
}

void Modbus::StopRecording()
{
    m_recorder.Stop();
    m_form.recordButton->setText(QStringLiteral("Record..."));
}

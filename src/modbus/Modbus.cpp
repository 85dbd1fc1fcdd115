#include "modbus/Modbus.h"

#include "base/AppServices.h"
#include "base/CPrefs.h"
#include "base/DialogueRunner.h"
#include "base/FieldWidth.h"
#include "base/Globals.h"
#include "base/ReadingSink.h"
#include "base/SaveDialog.h"
#include "base/ScanText.h"
#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusTrendView.h"

#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>
#include <cstdlib>
#include <utility>

namespace {

const QString kDashes = QStringLiteral("-----");
const QString kCmd3 = QStringLiteral("CMD 3");
const QString kPortOff = QStringLiteral(
    "***** Modbus Comm Port is Turned OFF *****\n\nClick View found above the Toolbar\n\n"
    "Click Settings and Configure Modbus Comm Port");
const QString kCantOpen = QStringLiteral(
    "***** Can't Open Modbus Communication port *****\n\nClick View found above the Toolbar\n\n"
    "Click Settings and Configure Modbus Comm Port");
const QString kPortInUse
    = QStringLiteral("The Modbus port is in use by another Modbus window's exchange.\n"
                     "Wait until it has finished (or stop its polling), then try again.");

QString KeepPollingKey()
{
    return QLatin1String(Modbus::kKeepPollingSection) + QLatin1Char('/')
        + QLatin1String(Modbus::kKeepPollingEntry);
}

// The process-wide sweep state: survives windows, never reset when polling starts.
int s_sweepIndex = 1;
int s_sampleCount = 0;

Modbus::PortProvider &Provider()
{
    static Modbus::PortProvider provider = []() -> mbCSerial * {
        AppServices *services = AppServices::Instance();
        return services ? services->ModbusPort() : nullptr;
    };
    return provider;
}

int DecimalValue(const QString &text)
{
    return ModbusMaster::AddressValue(text);
}

double DecimalReal(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    return std::strtod(bytes.constData(), nullptr);
}

// Where panel n (1..8) sits: in address order, 1 to 4 on the top row, 5 to 8 below.
QPoint PanelCell(int number)
{
    return QPoint((number - 1) % 4, (number - 1) / 4);
}

QLineEdit *MakeField(QWidget *parent, int width, bool readOnly = true)
{
    auto *edit = new QLineEdit(parent);
    FieldWidth::SetReadOnly(edit, readOnly);
    edit->setFixedHeight(20);
    if (width > 0)
        edit->setFixedWidth(width);
    edit->setText(kDashes);
    return edit;
}

} // namespace

Modbus::Modbus(CDocument *document, QWidget *parent)
    : CView(document, parent)
{
    // The panels scroll in a window smaller than their layout instead of squeezing the fields.
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(BuildControls());
    auto *grid = new QGridLayout;
    grid->setSpacing(6);
    for (int n = 1; n <= kPanels; ++n) {
        const QPoint cell = PanelCell(n);
        grid->addWidget(BuildPanel(n), cell.y(), cell.x());
    }
    layout->addLayout(grid);
    layout->addStretch(1);
    FieldWidth::Scrolling(this, content);

    m_dialogue = new DialogueRunner(this);
    m_master.SetPort(CurrentPort());
    ModbusPoller::Hooks hooks;
    hooks.address = [this](int panel) { return m_panels[size_t(panel)].fields[Address]->text(); };
    hooks.sweepBegins = [this] { return SweepBegins(); };
    hooks.readBegins = [this](int panel, const QString &) { ReadBegins(panel); };
    hooks.result = [this](const ModbusPoller::Result &result) { ReadingDone(result); };
    hooks.sweepEnded = [this] {
        if (m_poller.GetSettings().dynamic)
            s_sweepIndex = m_poller.Next();
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
    m_staticButton->setText(kCmd3);
    m_staticButton->setToolTip(QString());
    m_dynamicButton->setText(kCmd3);
    m_claim.Release();
    SweepEnded(); // what the sweep read is kept
    if (!m_recordingError.isEmpty())
        UserMessage::Show(std::exchange(m_recordingError, {}), QStringLiteral("Modbus Recording"));
}

Modbus::PortProvider Modbus::SetPortProvider(PortProvider provider)
{
    PortProvider old = Provider();
    Provider() = std::move(provider);
    return old;
}

mbCSerial *Modbus::CurrentPort()
{
    return Provider() ? Provider()() : nullptr;
}

int Modbus::SweepIndex()
{
    return s_sweepIndex;
}

void Modbus::SetSweepIndex(int index)
{
    s_sweepIndex = std::clamp(index, 1, kPanels);
}

int Modbus::SampleCount()
{
    return s_sampleCount;
}

QWidget *Modbus::BuildControls()
{
    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    auto column = [bar, row](const QString &title, QWidget *widget) {
        auto *box = new QVBoxLayout;
        box->setSpacing(1);
        auto *label = new QLabel(title, bar);
        box->addWidget(label);
        box->addWidget(widget);
        row->addLayout(box);
    };

    m_staticButton = new QPushButton(kCmd3, bar);
    m_staticButton->setFixedWidth(80);
    column(QStringLiteral("Static Data"), m_staticButton);
    m_dynamicButton = new QPushButton(kCmd3, bar);
    m_dynamicButton->setFixedWidth(80);
    column(QStringLiteral("Dynamic Data"), m_dynamicButton);

    m_update = new QCheckBox(QStringLiteral("  Update"), bar);
    row->addWidget(m_update, 0, Qt::AlignBottom);
    auto *every = new QLabel(QStringLiteral("Every"), bar);
    row->addWidget(every, 0, Qt::AlignBottom);
    m_period = MakeField(bar, 50, false);
    row->addWidget(m_period, 0, Qt::AlignBottom);
    row->addWidget(new QLabel(QStringLiteral("Seconds"), bar), 0, Qt::AlignBottom);
    m_keepPolling = new QCheckBox(QStringLiteral("Keep polling through errors"), bar);
    m_keepPolling->setToolTip(
        QStringLiteral("A meter that does not answer raises no message and stops nothing: its "
                       "panel shows the failure and the next sweep tries it again."));
    row->addWidget(m_keepPolling, 0, Qt::AlignBottom);
    m_samples = MakeField(bar, 60);
    column(QStringLiteral("Samples Taken"), m_samples);
    // Trend and Record, one above the other, so the bar keeps its width.
    auto *live = new QVBoxLayout;
    live->setSpacing(1);
    m_trendButton = new QPushButton(QStringLiteral("Trend"), bar);
    m_trendButton->setToolTip(
        QStringLiteral("The flow of every polled meter over the last minutes"));
    m_recordButton = new QPushButton(QStringLiteral("Record..."), bar);
    m_recordButton->setToolTip(QStringLiteral("Record every sweep to a CSV file while polling"));
    for (QPushButton *b : { m_trendButton, m_recordButton }) {
        b->setFixedWidth(80);
        b->setFixedHeight(b->sizeHint().height() - 4);
        live->addWidget(b);
    }
    row->addLayout(live);
    row->addStretch(1);
    m_portField = MakeField(bar, 150);
    column(QStringLiteral("Modbus Port"), m_portField);
    m_baudField = MakeField(bar, 70);
    column(QStringLiteral("Baud Rate"), m_baudField);
    m_parityField = MakeField(bar, 90);
    column(QStringLiteral("Port Config"), m_parityField);

    m_period->installEventFilter(this);
    connect(m_staticButton, &QPushButton::clicked, this, [this] { OnStaticButton(); });
    connect(m_dynamicButton, &QPushButton::clicked, this, [this] { OnDynamicButton(); });
    connect(m_update, &QCheckBox::clicked, this, [this] { OnUpdateClicked(); });
    connect(m_trendButton, &QPushButton::clicked, this, [this] { OnTrendClicked(); });
    connect(m_recordButton, &QPushButton::clicked, this, [this] { OnRecordClicked(); });
    connect(
        m_keepPolling, &QCheckBox::clicked, this, [this](bool on) { OnKeepPollingClicked(on); });
    return bar;
}

QGroupBox *Modbus::BuildPanel(int number)
{
    Panel &panel = m_panels[size_t(number)];
    panel.box = new QGroupBox(QStringLiteral("Modbus Slave Flow Meter %1").arg(number), this);
    auto *grid = new QGridLayout(panel.box);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    auto &f = panel.fields;
    f[Address] = MakeField(panel.box, 50, false);
    f[Flow] = MakeField(panel.box, 0);
    f[FlowUnits] = MakeField(panel.box, 48);
    f[Totalizer] = MakeField(panel.box, 0);
    f[TotalizerUnits] = MakeField(panel.box, 48);
    f[Temperature] = MakeField(panel.box, 0);
    f[TemperatureUnit] = MakeField(panel.box, 48);
    f[SerialNumber] = MakeField(panel.box, 0);
    f[MaxRange] = MakeField(panel.box, 0);
    f[FullScale] = MakeField(panel.box, 0);
    // Wide enough for the usual texts of their formats ("%f", "%.1f" to "%.7f", "%4.1f", "%d",
    // "%.6f"); a longer number widens its field.
    FieldWidth::Watch(f[Flow], "-12345.123456");
    FieldWidth::Watch(f[Totalizer], "1234567.1");
    FieldWidth::Watch(f[Temperature], "-999.9");
    FieldWidth::Watch(f[SerialNumber], "-2147483648");
    FieldWidth::Watch(f[MaxRange], "-12345.123456");
    FieldWidth::Watch(f[FullScale], "-12345.123456");
    for (Field unit : { FlowUnits, TotalizerUnits, TemperatureUnit })
        FieldWidth::Watch(f[unit]);

    struct Row
    {
        const char *label;
        Field value;
        Field unit;
    };
    static const Row rows[] = {
        { "Modbus Address", Address, FieldCount },
        { "40001 - Flow Rate", Flow, FlowUnits },
        { "40003 - Totalizer", Totalizer, TotalizerUnits },
        { "40005 - Temperature", Temperature, TemperatureUnit },
        { "40007 - Serial Number", SerialNumber, FieldCount },
        { "40013 - Max Range", MaxRange, FieldCount },
        { "40015 - Full Scale", FullScale, FieldCount },
    };
    int r = 0;
    for (const Row &row : rows) {
        grid->addWidget(new QLabel(QString::fromLatin1(row.label), panel.box), r, 0);
        grid->addWidget(f[row.value], r, 1, row.value == Address ? Qt::AlignLeft : Qt::Alignment());
        if (row.unit != FieldCount)
            grid->addWidget(f[row.unit], r, 2);
        ++r;
    }
    // Failures of a meter while polling goes on through them: one line, shown only once there
    // is one, so the window keeps its layout otherwise; the whole text in its tip.
    panel.failure = new QLabel(panel.box);
    panel.failure->setStyleSheet(QStringLiteral("color: #b00000"));
    panel.failure->hide();
    grid->addWidget(panel.failure, r, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    f[Address]->installEventFilter(this);
    f[Address]->setProperty("panel", number);
    return panel.box;
}

void Modbus::OnInitialUpdate()
{
    for (int n = 1; n <= kPanels; ++n) {
        Panel &panel = m_panels[size_t(n)];
        for (int i = 0; i < FieldCount; ++i)
            panel.fields[size_t(i)]->setText(kDashes);
        panel.fields[TemperatureUnit]->setText(QString(QChar(0xB0)) + QLatin1Char('F'));
        panel.fields[Address]->setText(n == 1 ? QStringLiteral("1") : QStringLiteral("-"));
        panel.remembered = panel.fields[Address]->text();
    }
    ClearFailures();
    m_samples->setText(QStringLiteral("0"));
    m_period->setText(QStringLiteral("2"));
    m_update->setChecked(false);
    {
        auto store = CPrefs::OpenStore();
        m_keepPolling->setChecked(CPrefs::ReadText(*store, QLatin1String(kKeepPollingSection),
                                      QLatin1String(kKeepPollingEntry))
            == QLatin1String("1"));
    }
    m_selected = 1;
    mbCSerial *port = CurrentPort();
    ShowPort();
    m_baudField->setText(port ? port->BaudText() : QString());
    m_parityField->setText(port ? port->ParityText() : QString());
}

QLineEdit *Modbus::FieldEdit(int panel, Field field) const
{
    if (panel < 1 || panel > kPanels || field < 0 || field >= FieldCount)
        return nullptr;
    return m_panels[size_t(panel)].fields[size_t(field)];
}

QString Modbus::FieldText(int panel, Field field) const
{
    QLineEdit *edit = FieldEdit(panel, field);
    return edit ? edit->text() : QString();
}

QGroupBox *Modbus::PanelBox(int panel) const
{
    return panel >= 1 && panel <= kPanels ? m_panels[size_t(panel)].box : nullptr;
}

QString Modbus::SamplesText() const
{
    return m_samples->text();
}

QString Modbus::DynamicCaption() const
{
    return m_dynamicButton->text();
}

QString Modbus::StaticCaption() const
{
    return m_staticButton->text();
}

bool Modbus::UpdateOn() const
{
    return m_update->isChecked();
}

bool Modbus::KeepPolling() const
{
    return m_keepPolling->isChecked();
}

QString Modbus::FailureText(int panel) const
{
    return panel >= 1 && panel <= kPanels ? m_panels[size_t(panel)].failure->text() : QString();
}

int Modbus::FailureCount(int panel) const
{
    return m_poller.FailureCount(panel);
}

QString Modbus::PortFieldText(int which) const
{
    const QLineEdit *fields[] = { m_portField, m_baudField, m_parityField };
    return which >= 0 && which < 3 ? fields[which]->text() : QString();
}

void Modbus::ClearDataFields(int panel)
{
    auto &f = m_panels[size_t(panel)].fields;
    for (Field field : { Flow, FlowUnits, Totalizer, TotalizerUnits, Temperature, SerialNumber,
             MaxRange, FullScale })
        f[field]->setText(kDashes);
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
            if (watched == m_period) {
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
    Panel &p = m_panels[size_t(panel)];
    p.remembered = p.fields[Address]->text();
}

void Modbus::OnAddressFocusOut(int panel)
{
    Panel &p = m_panels[size_t(panel)];
    QLineEdit *edit = p.fields[Address];
    const QString text = edit->text();
    const bool dash = text == QStringLiteral("-");
    if (text != p.remembered)
        ClearDataFields(panel);

    const int value = DecimalValue(text);
    if ((value < 1 || value > 127) && !dash) {
        Message(panel == 1 ? QStringLiteral(
                    "Modbus Address Range is 1 to 127\r\n Enter - To dDsable This Meter")
                           : QStringLiteral("Modbus Address Range is 1 to 127"));
        edit->setText(p.remembered);
        edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!dash) {
        for (int n = 1; n <= kPanels; ++n) {
            if (n != panel && m_panels[size_t(n)].remembered == text) {
                Message(QStringLiteral("Modbus Address Already Taken"));
                edit->setText(p.remembered);
                edit->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }
    if (text != p.remembered) {
        if (dash)
            --m_selected;
        else if (p.remembered == QStringLiteral("-"))
            ++m_selected;
    }
    p.remembered = text;
}

int Modbus::PeriodCheck()
{
    if (m_selected <= 0) {
        Message(QStringLiteral("No Meters are Selected"));
        m_period->setText(QStringLiteral(".1"));
    }
    // Computed as a quotient so that the text of the minimum reads back as the same number.
    const double minimum = std::max(m_selected, 0) / 100.0;
    if (DecimalReal(m_period->text()) < minimum) {
        // The field keeps the minimum itself, so the sweeps come at the rate the
        // message names.
        m_period->setText(QString::number(minimum));
        Message(QStringLiteral("     Min Update Rate\n\r.01 * (# of Selected Meters)"));
        m_period->setFocus(Qt::OtherFocusReason);
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
    if (sender() != m_update)
        m_update->setChecked(!m_update->isChecked());
}

void Modbus::OnKeepPollingClicked(bool on)
{
    // The check box flips itself on a click; a direct call (tests) sets it here.
    if (sender() != m_keepPolling)
        m_keepPolling->setChecked(on);
    if (m_poller.GetSettings().dynamic)
        m_poller.SetKeepPolling(on);
    CPrefs::OpenStore()->setValue(KeepPollingKey(), on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Modbus::PortReady()
{
    if (!g_ModbusEnabled) {
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
        m_portField->clear();
        return;
    }
    m_portField->setText(
        port->IsGone() ? QStringLiteral("%1 (gone)").arg(port->PortText()) : port->PortText());
    m_portField->setToolTip(port->IsGone() ? port->GoneText() : QString());
}

void Modbus::ClearFailures()
{
    for (int n = 1; n <= kPanels; ++n) {
        m_panels[size_t(n)].failure->clear();
        m_panels[size_t(n)].failure->hide();
    }
}

void Modbus::OnDynamicButton()
{
    if (m_ending)
        return; // the messages of the polling that ended come first
    if (!PortReady())
        return;
    PeriodCheck();
    if (m_dynamicButton->text() == QStringLiteral("STOP")) {
        // The sweep under way ends with its remaining panels; the pause between two sweeps
        // ends now.
        if (m_poller.InSweep())
            m_poller.Finish();
        else
            EndDialogue();
        m_dynamicButton->setText(kCmd3);
        return;
    }
    if (m_poller.Running() && !m_poller.GetSettings().dynamic)
        return; // a static read runs: its button stops it
    // The trend shows the time polling was stopped as a gap, not a line across it.
    m_trend.Pause(QDateTime::currentMSecsSinceEpoch());
    // Failures are counted since polling started.
    ClearFailures();
    ModbusPoller::Settings settings;
    settings.keepPolling = KeepPolling();
    if (m_update->isChecked()) {
        m_dynamicButton->setText(QStringLiteral("STOP"));
        const double ms = DecimalReal(m_period->text()) * 1000.0;
        // A period of 0 means "at the first opportunity": the desktop's 10 ms.
        settings.periodMs = std::max(int(std::clamp(ms, 0.0, double(INT_MAX))), 10);
        settings.sweeps = 0;
        settings.firstAfterPeriod = true;
        m_samples->setText(QStringLiteral("0"));
    } else {
        m_dynamicButton->setText(kCmd3);
        m_samples->setText(QStringLiteral("1"));
    }
    s_sampleCount = 0;
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
    m_poller.SetNext(settings.dynamic ? s_sweepIndex : 1);
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
    ++s_sampleCount;
    m_samples->setText(QString::number(s_sampleCount));
    // A row of the recording covers one pass over the panels: a sweep that goes on with a pass
    // ended early adds to its row.
    if (!std::exchange(m_sweepOpen, true))
        m_recorder.BeginSweep(QDateTime::currentDateTime());
    // Update turned off while polling: this sweep is the last.
    if (!m_update->isChecked())
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
    m_dynamicButton->setText(kCmd3);
    m_update->setChecked(false);
}

void Modbus::AfterDialogue()
{
    m_ending = false;
    if (!m_poller.GetSettings().dynamic) {
        m_staticButton->setText(kCmd3);
        m_staticButton->setToolTip(QString());
    } else {
        m_dynamicButton->setText(kCmd3);
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
    auto &f = m_panels[size_t(panel)].fields;
    if (!m_poller.GetSettings().dynamic) {
        for (Field field : { SerialNumber, FlowUnits, TotalizerUnits, FullScale, MaxRange })
            f[field]->setText(kDashes);
        int ahead = 0;
        for (int later = panel + 1; later <= kPanels; ++later)
            ahead += DecimalValue(m_panels[size_t(later)].fields[Address]->text()) > 0;
        m_staticButton->setToolTip(QStringLiteral("Reading the static data of meter %1 at "
                                                  "address %2; %3 more to read.\nClick to stop.")
                                       .arg(panel)
                                       .arg(f[Address]->text())
                                       .arg(ahead));
        return;
    }
    s_sweepIndex = m_poller.Next();
    m_master.SetPort(CurrentPort());
    for (Field field : { Flow, Totalizer, Temperature })
        f[field]->setText(kDashes);
}

void Modbus::ReadingDone(const ModbusPoller::Result &result)
{
    const int panel = result.slot;
    const QString &address = result.address;
    auto &f = m_panels[size_t(panel)].fields;
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
    const auto &f = m_panels[size_t(panel)].fields;
    // Units come from the static read; "-----" (not read yet) publishes no unit.
    const auto unit
        = [&f](Field field) { return f[field]->text() == kDashes ? QString() : f[field]->text(); };
    std::vector<ReadingSink::Value> values;
    if (failure.isEmpty())
        values = { { QStringLiteral("flow"), m_master.FlowText(), unit(FlowUnits) },
            { QStringLiteral("totalizer"), m_master.TotalizerText(), unit(TotalizerUnits) },
            { QStringLiteral("temperature"), m_master.TemperatureText(), unit(TemperatureUnit) } };
    sink->ModbusReading(
        QDateTime::currentDateTime(), ModbusMaster::AddressValue(address), values, failure);
}

void Modbus::ShowFailure(int panel, const QString &address, int failures)
{
    Panel &p = m_panels[size_t(panel)];
    const QString text = m_master.FailureText(address).trimmed();
    const QString what = text.mid(text.indexOf(QLatin1String(": ")) + 2);
    p.failure->setText(QStringLiteral("Failures: %1 - %2").arg(failures).arg(what));
    p.failure->setToolTip(
        QStringLiteral("Failures since polling started: %1\nLast: %2").arg(failures).arg(text));
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
    if (m_dynamicButton->text() == QStringLiteral("STOP") || Busy() || m_poller.Running())
        return;
    if (!CurrentPort()->FreeFor(this)) {
        UserMessage::Show(kPortInUse);
        return;
    }
    m_staticButton->setText(QStringLiteral("Sending"));
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
        m_recordButton->setText(QStringLiteral("Record..."));
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
    request.filters
        = QStringList { QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)") };
    request.extensions = QStringList { QStringLiteral(".csv") };
    SaveDialog::Prompt prompt;
    if (RecordPromptInForce())
        prompt = [](QWidget *parent, const QString &) { return RecordPromptInForce()(parent); };
    const QString path = SaveDialog::Ask(this, request, prompt);
    if (!path.isEmpty())
        StartRecording(path);
}

QString Modbus::StartRecording(const QString &path)
{
    std::vector<SweepRecorder::Meter> meters;
    for (int n = 1; n <= kPanels; ++n) {
        const auto &f = m_panels[size_t(n)].fields;
        if (DecimalValue(f[Address]->text()) > 0)
            meters.push_back({ n, f[Address]->text(),
                f[FlowUnits]->text() == kDashes ? QString() : f[FlowUnits]->text(),
                f[TotalizerUnits]->text() == kDashes ? QString() : f[TotalizerUnits]->text() });
    }
    const QString error = m_recorder.Start(path, std::move(meters));
    if (!error.isEmpty()) {
        UserMessage::Show(error, QStringLiteral("Modbus Recording"));
        return error;
    }
    m_recordButton->setText(QStringLiteral("Stop Rec."));
    return QString();
}

void Modbus::StopRecording()
{
    m_recorder.Stop();
    m_recordButton->setText(QStringLiteral("Record..."));
}

#include "datalog/Datalog.h"

#include "base/AppServices.h"
#include "base/CDocument.h"
#include "base/FieldWidth.h"
#include "base/SaveDialog.h"
#include "base/SaveFileName.h"
#include "base/UserMessage.h"
#include "datalog/CElogGraph.h"
#include "datalog/DatalogDoc.h"
#include "datalog/LogCsvExport.h"
#include "datalog/LogListModel.h"
#include "datalog/PcLogger.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {
QFont StatusFont()
{
    QFont font(QStringLiteral("Arial Black"));
    font.setPointSize(10);
    font.setWeight(QFont::Black);
    return font;
}

QGroupBox *Group(const char *title)
{
    auto *box = new QGroupBox(QString::fromLatin1(title));
    return box;
}

void Compact(QLayout *layout)
{
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(3);
}
} // namespace

Datalog::Datalog(CDocument *document, CSerial *link, QWidget *parent)
    : CView(document, parent)
{
    if (!link && AppServices::Instance())
        link = AppServices::Instance()->MeterLink();
    m_core.SetLink(link);
    m_core.SetSink(this);
    setWindowTitle(QStringLiteral("Z-OZUVED PC and Flow Meter DataLogger"));
    BuildForm();
}

Datalog::~Datalog()
{
    m_core.SetSink(nullptr);
    // A window closed while logging still ends its log with the stop line. A meter dialogue
    // still running ends with the core, where it waits (a log transfer's file keeps what
    // arrived).
    m_core.StopPcLogging();
}

bool Datalog::CanClose()
{
    // The question is a modal box: the transfer may end while it is up, and the window then
    // closes with nothing cut.
    if (m_core.IsTransferring())
        return UserMessage::Ask(QString::fromLatin1(kCloseWhileTransferringText));
    if (!m_core.state.loggingActive)
        return true;
    return UserMessage::Ask(QStringLiteral("PC logging is running.\nClosing the datalogger stops "
                                           "it and ends the log file. Stop logging and close?"));
}

QLineEdit *Datalog::AddEdit(QString *field, bool readOnly)
{
    auto *edit = new QLineEdit(*field);
    edit->setReadOnly(readOnly);
    if (!readOnly)
        connect(
            edit, &QLineEdit::textEdited, this, [field](const QString &text) { *field = text; });
    m_edits.emplace_back(edit, field);
    return edit;
}

void Datalog::BuildForm()
{
    DatalogFields &f = m_core.fields;
    auto button = [this](Button b, const char *text) {
        auto *pb = new QPushButton(QString::fromLatin1(text));
        pb->setAutoDefault(false);
        m_buttons[b] = pb;
        return pb;
    };

    // ---- left column
    auto *clock = Group("DATE/TIME");
    auto *clockRow = new QHBoxLayout(clock);
    Compact(clockRow);
    clockRow->addWidget(AddEdit(&f.clockDate, true));
    clockRow->addWidget(AddEdit(&f.clockTime, true));

    auto *pc = Group("PC Z-OZUVED CONTROLS");
    auto *pcRow = new QHBoxLayout(pc);
    Compact(pcRow);
    pcRow->addWidget(button(StartPc, "START"));
    pcRow->addWidget(button(StopPc, "STOP"));

    auto *activity = Group("Z-OZUVED ACTIVITY");
    auto *activityColumn = new QVBoxLayout(activity);
    Compact(activityColumn);
    m_status = new QLabel(f.status);
    m_status->setFont(StatusFont());
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setMinimumWidth(200);
    // The longer statuses (the wait after a Cancel) take a second line.
    m_status->setWordWrap(true);
    m_mode = new QLabel(f.mode);
    m_mode->setAlignment(Qt::AlignCenter);
    activityColumn->addWidget(m_status);
    activityColumn->addWidget(m_mode);
    // How far a running meter dialogue is, and its Cancel.
    m_progress = new QLabel(f.progress);
    m_progress->setAlignment(Qt::AlignCenter);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(button(Cancel, "Cancel"));
    m_buttons[Cancel]->setEnabled(false);
    activityColumn->addLayout(progressRow);

    auto *meter = Group("FLOW METER Z-OZUVED CONTROLS");
    auto *meterGrid = new QGridLayout(meter);
    Compact(meterGrid);
    const std::pair<Button, const char *> small[3]
        = { { TransferLog, "Read and Save Flow Meter Log" },
              { SendConfig, "Send Datalog Configuration to Meter" },
              { ReadConfig, "Read Datalog Configuration from Meter" } };
    for (int i = 0; i < 3; ++i) {
        QPushButton *pb = button(small[i].first, "");
        pb->setFixedSize(18, 18);
        meterGrid->addWidget(pb, i, 0);
        meterGrid->addWidget(new QLabel(QString::fromLatin1(small[i].second)), i, 1, 1, 2);
    }
    meterGrid->addWidget(button(StartMeter, "START"), 3, 1);
    meterGrid->addWidget(button(StopMeter, "STOP"), 3, 2);

    auto *left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(clock);
    left->addWidget(pc);
    left->addWidget(activity);
    left->addWidget(meter);
    left->addStretch(1);

    // ---- middle column
    auto *options = Group("E-LOG OPTIONS");
    auto *optionGrid = new QGridLayout(options);
    Compact(optionGrid);
    for (int i = 0; i < 8; ++i) {
        m_options[i] = new QCheckBox(QString::fromLatin1(DatalogFields::kOptionNames[i]));
        optionGrid->addWidget(m_options[i], i % 4, i / 4);
        connect(m_options[i], &QCheckBox::clicked, this,
            [this, i](bool checked) { m_core.Pc().OptionClicked(i, checked); });
    }

    auto *file = Group("E-LOG FILENAME");
    auto *fileRow = new QHBoxLayout(file);
    Compact(fileRow);
    m_fileName = AddEdit(&f.fileName, false);
    // The field shows the placeholder name whole and grows with a chosen name up to some forty
    // characters; a longer path shows its end (the file's name), the whole of it as the tooltip.
    const int narrowest
        = FieldWidth::Needed(m_fileName, QString::fromLatin1(DatalogCore::kPlaceholderFileName));
    const int widest = std::max(narrowest, FieldWidth::Needed(m_fileName, QString(40, 'x')));
    m_fileName->setMinimumWidth(narrowest);
    connect(m_fileName, &QLineEdit::textChanged, this, [this, narrowest, widest](const QString &t) {
        m_fileName->setMinimumWidth(
            std::clamp(FieldWidth::Needed(m_fileName, t), narrowest, widest));
        m_fileName->setToolTip(t);
    });
    fileRow->addWidget(m_fileName, 1);
    fileRow->addWidget(button(Browse, "Browse..."));
    fileRow->addWidget(button(Load, "LOAD"));

    auto *timer = Group("TIMER");
    auto *timerGrid = new QGridLayout(timer);
    Compact(timerGrid);
    timerGrid->addWidget(new QLabel(QStringLiteral("DATE (mm/dd/yy)")), 0, 1);
    timerGrid->addWidget(new QLabel(QStringLiteral("TIME (24Hr)")), 0, 2);
    const struct
    {
        const char *label;
        QString *date;
        QString *time;
        PcLogger::Edit dateEdit;
        PcLogger::Edit timeEdit;
    } rows[2] = { { "Start", &f.startDate, &f.startTime, PcLogger::Edit::StartDate,
                      PcLogger::Edit::StartTime },
        { "Stop", &f.stopDate, &f.stopTime, PcLogger::Edit::StopDate, PcLogger::Edit::StopTime } };
    for (int r = 0; r < 2; ++r) {
        timerGrid->addWidget(new QLabel(QString::fromLatin1(rows[r].label)), r + 1, 0);
        QLineEdit *date = AddEdit(rows[r].date, false);
        QLineEdit *time = AddEdit(rows[r].time, false);
        const PcLogger::Edit de = rows[r].dateEdit, te = rows[r].timeEdit;
        connect(
            date, &QLineEdit::editingFinished, this, [this, de] { m_core.Pc().LeaveField(de); });
        connect(
            time, &QLineEdit::editingFinished, this, [this, te] { m_core.Pc().LeaveField(te); });
        date->setMaximumWidth(80);
        time->setMaximumWidth(80);
        timerGrid->addWidget(date, r + 1, 1);
        timerGrid->addWidget(time, r + 1, 2);
    }
    m_timerEnabled = new QCheckBox(QStringLiteral("Enable Timer Function"));
    connect(m_timerEnabled, &QCheckBox::clicked, this,
        [this](bool checked) { m_core.Pc().TimerEnableClicked(checked); });
    timerGrid->addWidget(m_timerEnabled, 3, 0, 1, 3);

    auto *interval = Group("SNAPSHOT INTERVAL");
    auto *intervalRow = new QHBoxLayout(interval);
    Compact(intervalRow);
    const struct
    {
        const char *label;
        QString *field;
        PcLogger::Edit edit;
    } parts[3] = { { "Hour", &f.hour, PcLogger::Edit::Hour },
        { "Min", &f.min, PcLogger::Edit::Min }, { "Sec", &f.sec, PcLogger::Edit::Sec } };
    for (const auto &part : parts) {
        intervalRow->addWidget(new QLabel(QString::fromLatin1(part.label)));
        QLineEdit *edit = AddEdit(part.field, false);
        edit->setMaximumWidth(40);
        const PcLogger::Edit which = part.edit;
        connect(edit, &QLineEdit::editingFinished, this,
            [this, which] { m_core.Pc().LeaveField(which); });
        intervalRow->addWidget(edit);
    }

    // The capacity text can be as long as "Press UPDATE Button": it gets a line of its own.
    auto *capacityRow = new QVBoxLayout;
    capacityRow->setSpacing(2);
    capacityRow->addWidget(new QLabel(QStringLiteral("Flow Meter Snapshots Available")));
    m_capacity = new QLabel(f.capacity);
    m_capacity->setFrameShape(QFrame::StyledPanel);
    m_capacity->setAlignment(Qt::AlignCenter);
    capacityRow->addWidget(m_capacity);

    auto *middle = new QVBoxLayout;
    middle->setSpacing(4);
    middle->addWidget(options);
    middle->addWidget(file);
    middle->addWidget(timer);
    middle->addWidget(interval);
    middle->addLayout(capacityRow);
    middle->addStretch(1);

    // ---- right column
    auto *params = Group("FLOW METER PARAMETERS");
    auto *paramGrid = new QGridLayout(params);
    Compact(paramGrid);
    const std::pair<const char *, QString *> paramRows[7] = { { "Serial Number", &f.serialNumber },
        { "Firmware Rev", &f.firmwareRev }, { "Active Range", &f.activeRange },
        { "Calibration Date", &f.calibrationDate }, { "Flow Range", &f.flowRange },
        { "X-Section", &f.xSection }, { "Zero Offset", &f.zeroOffset } };
    for (int i = 0; i < 7; ++i) {
        paramGrid->addWidget(new QLabel(QString::fromLatin1(paramRows[i].first)), i, 0);
        paramGrid->addWidget(AddEdit(paramRows[i].second, true), i, 1);
    }
    paramGrid->addWidget(button(Update, "UPDATE"), 7, 1);

    auto *readings = Group("CURRENT READINGS");
    auto *readingGrid = new QGridLayout(readings);
    Compact(readingGrid);
    const std::pair<const char *, QString *> readingRows[4]
        = { { "FLOW RATE:", &f.flowRate }, { "TOTAL FLOW:", &f.totalFlow },
              { "HIGH FLOW:", &f.highFlow }, { "LOW FLOW:", &f.lowFlow } };
    for (int i = 0; i < 4; ++i) {
        readingGrid->addWidget(new QLabel(QString::fromLatin1(readingRows[i].first)), i, 0);
        QLineEdit *edit = AddEdit(readingRows[i].second, true);
        edit->setFont(StatusFont());
        readingGrid->addWidget(edit, i, 1);
    }
    auto indicator = [](const char *text) {
        auto *radio = new QRadioButton(QString::fromLatin1(text));
        radio->setAutoExclusive(false);
        radio->setAttribute(Qt::WA_TransparentForMouseEvents);
        radio->setFocusPolicy(Qt::NoFocus);
        return radio;
    };
    m_relay1 = indicator("Relay 1");
    m_relay2 = indicator("Relay 2");
    auto *relayRow = new QHBoxLayout;
    relayRow->addWidget(m_relay1);
    relayRow->addWidget(m_relay2);
    readingGrid->addLayout(relayRow, 4, 0, 1, 2);

    auto *right = new QVBoxLayout;
    right->setSpacing(4);
    right->addWidget(params);
    right->addWidget(readings);
    right->addStretch(1);

    // ---- lists
    for (int l = 0; l < 3; ++l) {
        auto *view = new QListView;
        view->setUniformItemSizes(true);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_models[l] = new LogListModel(&m_core.log.ListOf(LogData::List(l)), this);
        view->setModel(m_models[l]);
        m_listViews[l] = view;
    }
    // The header list shows three whole lines, the stop list one: a line is as high as the
    // list's own rows are, which the style makes higher than the font.
    QStringListModel sampleRows({ QStringLiteral("Xg") });
    QListView sample;
    sample.setFont(m_listViews[LogData::Header]->font());
    sample.setModel(&sampleRows);
    const int line = std::max(sample.sizeHintForRow(0), fontMetrics().height());
    const int frame = 2 * m_listViews[LogData::Header]->frameWidth();
    m_listViews[LogData::Header]->setFixedHeight(3 * line + frame);
    m_listViews[LogData::Stop]->setFixedHeight(line + frame);
    m_listViews[LogData::Snapshot]->setMinimumHeight(4 * line);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(button(Clear, "CLEAR E-LOG DISPLAY"));
    bottom->addWidget(button(Graph, "GRAPH E-LOG"));
    bottom->addWidget(button(ExportCsv, "EXPORT CSV"));
    bottom->addWidget(m_listViews[LogData::Stop], 1);

    auto *top = new QHBoxLayout;
    top->addLayout(left, 0);
    top->addLayout(middle, 0);
    top->addLayout(right, 1);
    top->setSpacing(4);
    params->setMinimumWidth(250);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);
    page->addLayout(top);
    page->addWidget(m_listViews[LogData::Header]);
    page->addWidget(m_listViews[LogData::Snapshot], 1);
    page->addLayout(bottom);

    // A log written under the placeholder name could not be found again: the name first; a
    // typed name gets its extension, so that LOAD lists the log.
    const auto named
        = [this] { return m_core.NeedsFileName() ? ChooseFile() : CompleteTypedName(); };
    connect(m_buttons[StartPc], &QPushButton::clicked, this, [this, named] {
        if (m_core.CanStartPc() && named())
            m_core.StartPcLogging();
    });
    connect(m_buttons[StopPc], &QPushButton::clicked, this, [this] { m_core.StopPcLogging(); });
    connect(m_buttons[TransferLog], &QPushButton::clicked, this, [this, named] {
        if (named())
            m_core.TransferMeterLog();
    });
    connect(
        m_buttons[SendConfig], &QPushButton::clicked, this, [this] { m_core.SendConfiguration(); });
    connect(
        m_buttons[ReadConfig], &QPushButton::clicked, this, [this] { m_core.ReadConfiguration(); });
    connect(m_buttons[StartMeter], &QPushButton::clicked, this, [this] { m_core.StartMeter(); });
    connect(m_buttons[StopMeter], &QPushButton::clicked, this, [this] { m_core.StopMeter(); });
    connect(m_buttons[Load], &QPushButton::clicked, this, &Datalog::OnLoad);
    connect(m_buttons[Update], &QPushButton::clicked, this, [this] { m_core.Update(); });
    connect(m_buttons[Clear], &QPushButton::clicked, this, [this] { m_core.ClearDisplay(); });
    connect(m_buttons[Cancel], &QPushButton::clicked, this, [this] { m_core.Cancel(); });
    connect(m_buttons[Graph], &QPushButton::clicked, this, &Datalog::OnGraph);
    connect(m_buttons[Browse], &QPushButton::clicked, this, &Datalog::OnBrowse);
    connect(m_buttons[ExportCsv], &QPushButton::clicked, this, &Datalog::OnExportCsv);
}

namespace {
Datalog::FilePrompt &FilePromptInForce()
{
    static Datalog::FilePrompt prompt;
    return prompt;
}
} // namespace

Datalog::FilePrompt Datalog::SetFilePrompt(FilePrompt prompt)
{
    return std::exchange(FilePromptInForce(), std::move(prompt));
}

void Datalog::OnBrowse()
{
    ChooseFile();
}

namespace {
const QStringList kLogFilters { QStringLiteral("Log files (*.log)"),
    QStringLiteral("All files (*)") };
const QStringList kLogExtension { QStringLiteral(".log") };
} // namespace

bool Datalog::ChooseFile()
{
    const QString current = m_core.fields.fileName;
    const bool placeholder = current == QLatin1String(DatalogCore::kPlaceholderFileName);
    SaveDialog::Request request;
    request.caption = QStringLiteral("E-LOG Filename");
    request.proposed = placeholder ? QDir::currentPath() : current;
    request.filters = kLogFilters;
    request.extensions = kLogExtension;
    // START empties the file and a transfer replaces it: an existing one is taken only when the
    // user says so (LOAD reads it either way).
    request.replaceQuestion = QString::fromLatin1(kTakeExistingText);
    const QString chosen = SaveDialog::Ask(this, request, FilePromptInForce());
    if (chosen.isEmpty())
        return false;
    m_core.fields.fileName = QDir::toNativeSeparators(chosen);
    m_core.Model().FieldsChanged();
    return true;
}

bool Datalog::CompleteTypedName()
{
    const QString typed = m_core.fields.fileName.trimmed();
    const SaveFileName name(typed, kLogExtension);
    if (name.Path() == QDir::fromNativeSeparators(typed))
        return true; // the user named this very file
    // The name becomes another file's: it is asked about as a dialog would.
    const SaveFileName::State state = name.Check();
    const QString refusal = name.RefusalText(state);
    if (!refusal.isEmpty()) {
        UserMessage::Show(refusal, QStringLiteral("E-LOG Filename"));
        return false;
    }
    if (state == SaveFileName::State::Exists
        && !UserMessage::Ask(QString::fromLatin1(kTakeExistingText).arg(name.Path()),
            QStringLiteral("E-LOG Filename")))
        return false;
    m_core.fields.fileName = QDir::toNativeSeparators(name.Path());
    m_core.Model().FieldsChanged();
    return true;
}

void Datalog::OnLoad()
{
    // Nothing named yet: the log to load is chosen among those that exist.
    const QString name = m_core.fields.fileName.trimmed();
    if (name.isEmpty() || name == QLatin1String(DatalogCore::kPlaceholderFileName)) {
        const QString chosen = FilePromptInForce()
            ? FilePromptInForce()(this, QDir::currentPath())
            : QFileDialog::getOpenFileName(this, QStringLiteral("Load E-LOG"), QDir::currentPath(),
                kLogFilters.join(QStringLiteral(";;")));
        if (chosen.isEmpty())
            return;
        m_core.fields.fileName = QDir::toNativeSeparators(chosen);
        m_core.Model().FieldsChanged();
    }
    m_core.LoadLog();
}

void Datalog::OnExportCsv()
{
    if (LogCsvExport::RowCount(m_core.log) == 0) {
        UserMessage::Show(
            QStringLiteral("The log holds no rows to export."), QStringLiteral("Export CSV"));
        return;
    }
    // Offered beside the log, with the log's name and ".csv".
    QString start = m_core.fields.fileName;
    if (start.isEmpty() || start == QLatin1String(DatalogCore::kPlaceholderFileName))
        start = QDir::current().filePath(QStringLiteral("log.csv"));
    else
        start = QFileInfo(start).absolutePath() + QLatin1Char('/')
            + QFileInfo(start).completeBaseName() + QStringLiteral(".csv");
    SaveDialog::Request request;
    request.caption = QStringLiteral("Export CSV");
    request.proposed = start;
    // The filter chosen is the CSV dialect: comma and point, or semicolon and decimal comma.
    request.filters = CsvDialect::FileFilters() << QStringLiteral("All files (*)");
    request.extensions = QStringList { QStringLiteral(".csv") };
    QString filter;
    request.chosenFilter = &filter;
    const QString chosen = SaveDialog::Ask(this, request, FilePromptInForce());
    if (chosen.isEmpty())
        return;
    const QString error
        = LogCsvExport::WriteFile(m_core.log, chosen, CsvDialect::FromFileFilter(filter));
    if (!error.isEmpty())
        UserMessage::Show(error, QStringLiteral("Export CSV"));
}

CElogGraph *Datalog::LiveGraph() const
{
    return m_liveGraph;
}

void Datalog::OnGraph()
{
    if (m_core.state.loggingActive) {
        if (!m_liveGraph) {
            m_liveGraph = new CElogGraph(ElogPlot::FromLog(m_core.log), this);
            m_liveGraph->setAttribute(Qt::WA_DeleteOnClose);
            m_liveGraph->SetLive();
            m_liveGraph->SetLogName(GraphLogName());
            m_liveFed = m_core.log.snapshotList.size();
        }
        m_liveGraph->show();
        m_liveGraph->raise();
        return;
    }
    if (!m_core.CanGraph())
        return;
    CElogGraph graph(ElogPlot::FromLog(m_core.log), this);
    graph.SetLogName(GraphLogName());
    graph.exec();
}

QString Datalog::GraphLogName() const
{
    // The meter's serial number when the log's header tells it; else the log's file when it
    // has one, else the document's title (the meter's log).
    const QString serial = m_core.log.SerialNumber();
    if (!serial.isEmpty())
        return QStringLiteral("S/N %1").arg(serial);
    const CDocument *doc = GetDocument();
    if (!doc)
        return QString();
    return doc->PathName().isEmpty() ? doc->Title() : QFileInfo(doc->PathName()).fileName();
}

void Datalog::OnInitialUpdate()
{
    if (m_shown)
        return;
    m_shown = true;
    m_core.OnFirstShown();
    // A log opened as a document (a desktop double-click, File > Open, the command line) is
    // loaded at once; the empty default document of a new datalog form is not.
    const CDocument *doc = GetDocument();
    if (doc && DatalogDoc::IsDatalogLog(doc->PathName())) {
        m_core.fields.fileName = QDir::toNativeSeparators(doc->PathName());
        m_core.Model().FieldsChanged();
        m_core.LoadLog();
    }
}

// ---------------------------------------------------------------- sink

void Datalog::StatusChanged(const QString &status, const QString &mode)
{
    m_status->setText(status);
    m_mode->setText(mode);
}

void Datalog::ProgressChanged(const QString &progress)
{
    m_progress->setText(progress);
}

void Datalog::DialogueRunning(bool running)
{
    // One dialogue at a time: the buttons that would start another wait for this one.
    for (Button b :
        { StartPc, TransferLog, SendConfig, ReadConfig, StartMeter, StopMeter, Load, Update })
        m_buttons[b]->setEnabled(!running);
    m_buttons[Cancel]->setEnabled(running);
}

void Datalog::FieldsChanged()
{
    const DatalogFields &f = m_core.fields;
    for (const auto &[edit, field] : m_edits) {
        if (edit->text() != *field)
            edit->setText(*field);
    }
    for (int i = 0; i < 8; ++i)
        m_options[i]->setChecked(f.options[i]);
    m_timerEnabled->setChecked(f.timerEnabled);
    m_relay1->setChecked(f.relay1On);
    m_relay2->setChecked(f.relay2On);
    if (m_capacity->text() != f.capacity)
        m_capacity->setText(f.capacity);
}

void Datalog::ListsReset()
{
    for (LogListModel *model : m_models)
        model->Reset();
    // Another log begins: the live graph was the old one's.
    if (m_liveGraph)
        m_liveGraph->close();
    m_liveFed = 0;
}

void Datalog::ListAppended(LogData::List list)
{
    m_models[list]->Appended();
    if (list == LogData::Snapshot)
        m_listViews[list]->scrollToBottom();
    if (list == LogData::Snapshot && m_liveGraph) {
        const QStringList &entries = m_core.log.snapshotList;
        m_liveGraph->AppendEntries(entries.mid(m_liveFed));
        m_liveFed = entries.size();
    }
}

void Datalog::FocusStopButton()
{
    m_buttons[StopPc]->setFocus();
}

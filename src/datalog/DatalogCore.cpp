#include "datalog/DatalogCore.h"

#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "datalog/IDatalogSink.h"
#include "datalog/LogFileWriter.h"
#include "datalog/LogLoader.h"
#include "datalog/LogTransferDialogue.h"
#include "datalog/LoggerConfigDialogue.h"
#include "datalog/MeterDialogue.h"
#include "datalog/PcLogger.h"
#include "link/CSerial.h"

#include <QFile>
#include <QFileInfo>

DatalogCore::DatalogCore()
    : fields(m_model.fields)
    , state(m_model.state)
    , log(m_model.log)
    , m_pc(std::make_unique<PcLogger>(m_model))
    , m_runner(std::make_unique<DialogueRunner>())
{
    m_meter = std::make_unique<MeterDialogue>(m_model, *m_runner);
    m_config = std::make_unique<LoggerConfigDialogue>(*m_meter);
    m_transfer = std::make_unique<LogTransferDialogue>(*m_meter);
}

DatalogCore::~DatalogCore()
{
    // A suspended dialogue is destroyed without resuming, its port claim released and its log
    // file closed with what arrived. A meter it left in command mode would stay silent: the
    // link, which outlives the window, sends it back to run mode. A meter cut off in the middle
    // of its log goes on sending it, so the link first lets the rest go by (counted, as Cancel
    // does, when its length is known): the command is not lost in the log, and the next
    // dialogue does not take the log's tail for its reply.
    const bool inCommandMode = m_meter->InCommandMode();
    const int logLeft = m_transfer->LogBytesLeft();
    m_runner.reset();
    if (CSerial *link = Link(); link && inCommandMode)
        link->SendCommandDetached(QByteArrayLiteral("rrrrrrrrrrr"), kQuietBeforeRunModeMs, logLeft);
}

bool DatalogCore::NeedsFileName() const
{
    const QString name = fields.fileName.trimmed();
    return name.isEmpty() || name == QLatin1String(kPlaceholderFileName);
}

void DatalogCore::OnFirstShown()
{
    fields.hour = QStringLiteral("0");
    fields.min = QStringLiteral("0");
    fields.sec = QStringLiteral("5");
    log.intervalSeconds = 5;
    fields.fileName = QString::fromLatin1(kPlaceholderFileName);
    fields.options = { false, false, true, false, false, false, false, false };
    fields.timerEnabled = false;
    state = LoggerState();
    const QDateTime now = Now();
    const QString date = PrintfText::Format(
        "%02d/%02d/%02d", now.date().month(), now.date().day(), now.date().year() % 100);
    const QString time = PrintfText::Format(
        "%02d:%02d:%02d", now.time().hour(), now.time().minute(), now.time().second());
    fields.startDate = fields.stopDate = date;
    fields.startTime = fields.stopTime = time;
    fields.serialNumber = QStringLiteral("12345678");
    fields.firmwareRev = QStringLiteral("v4.1A");
    fields.calibrationDate = QStringLiteral("1/31/07");
    fields.zeroOffset = QStringLiteral("0.000000e+00");
    fields.xSection = QStringLiteral("1 ft^2");
    fields.flowRange = QStringLiteral("80.000000");
    log.fullScaleFlow = 80.0f;
    fields.flowRate = QStringLiteral("0.00    SCFM");
    fields.totalFlow = QStringLiteral("1234.5678  SCF");
    fields.highFlow = QStringLiteral("59.1234");
    fields.lowFlow = QStringLiteral("0.00");
    m_model.ShowSnapshotCapacity();
    m_model.FieldsChanged();
    m_model.SetStatusMode(QStringLiteral("IDLE"), QString());
    m_pc->StartClock();
}

bool DatalogCore::IsBusy() const
{
    return m_runner->IsRunning();
}

bool DatalogCore::IsTransferring() const
{
    return m_runner->IsRunning() && m_transfer->Transferring();
}

bool DatalogCore::Run(Task<void> dialogue)
{
    if (m_runner->IsRunning())
        return false;
    m_windingUp = false;
    Sink().DialogueRunning(true);
    m_runner->Start(std::move(dialogue), [this] { DialogueEnded(); });
    return true;
}

void DatalogCore::DialogueEnded()
{
    m_model.SetProgress(QString());
    // The dialogue's messages, now that it is over; a message box's event loop may close the
    // window and this core with it.
    if (m_meter->HasMessages()) {
        const std::weak_ptr<int> alive = m_alive;
        m_meter->ShowMessages();
        if (alive.expired())
            return;
    }
    if (m_runner->Cancelled() && !m_windingUp) {
        // A meter logger started as the Cancel came stays shown as running, for STOP (meter).
        if (fields.status != QLatin1String("Z-Ozuved Running"))
            m_model.SetStatusMode(QStringLiteral("IDLE"), QString());
        if (m_meter->InCommandMode()) {
            // The meter was woken into command mode: the run-mode command brings it back to
            // streaming readings. It holds the port for the 11 paced bytes, then frees it.
            m_windingUp = true;
            m_runner->Start(m_meter->BackToRunMode(), [this] { DialogueEnded(); });
            if (m_runner->IsRunning())
                return;
        }
    }
    m_windingUp = false;
    Sink().DialogueRunning(false);
}

void DatalogCore::Cancel()
{
    // The wind-up after a Cancel is short and is let finish.
    if (!m_windingUp)
        m_runner->Cancel();
}

bool DatalogCore::CanStartPc() const
{
    return !state.loggingActive && IsIdle() && !IsBusy();
}

void DatalogCore::StartPcLogging()
{
    if (!CanStartPc())
        return;
    if (state.meterParametersRead) {
        m_pc->StartPcLogging();
        return;
    }
    Run(CheckThenStartPc());
}

Task<void> DatalogCore::CheckThenStartPc()
{
    const bool usable = co_await m_meter->CheckBeforeLogging();
    // A Cancel that came as the check ended still wins: nothing is logged.
    if (usable && !m_runner->Cancelled())
        m_pc->StartPcLogging();
    co_return;
}

void DatalogCore::StopPcLogging()
{
    m_pc->StopPcLogging();
}

void DatalogCore::Update()
{
    if (IsIdle())
        Run(m_meter->Update());
}

void DatalogCore::SendConfiguration()
{
    if (IsIdle())
        Run(m_config->SendConfiguration());
}

void DatalogCore::ReadConfiguration()
{
    if (IsIdle())
        Run(m_config->ReadConfiguration());
}

void DatalogCore::StartMeter()
{
    if (IsIdle())
        Run(m_meter->StartMeter());
}

void DatalogCore::StopMeter()
{
    Run(m_meter->StopMeter());
}

void DatalogCore::TransferMeterLog()
{
    if (IsIdle())
        Run(TransferThenLoad());
}

Task<void> DatalogCore::TransferThenLoad()
{
    // The file the transfer wrote, even if the name in the edit changed meanwhile.
    const QString written = co_await m_transfer->TransferMeterLog();
    if (written.isEmpty())
        co_return;
    m_model.ClearDisplay();
    if (IsIdle())
        co_await LoadFrom(written);
    co_return;
}

void DatalogCore::LoadLog()
{
    if (IsIdle() && !IsBusy())
        Run(LoadFrom(fields.fileName.trimmed()));
}

Task<void> DatalogCore::LoadFrom(QString path)
{
    // A log that cannot be read, or whose load is cancelled, leaves the one shown as it is: the
    // file is read into a copy, in slices that keep the window live, and shown when whole. Every
    // load that brings no rows, or not all of them, says so.
    const QString name = QFileInfo(path).fileName();
    QString problem;
    QFile file(path);
    if (path.isEmpty() || path == QLatin1String(kPlaceholderFileName)) {
        problem = QStringLiteral("Enter the name of the log file to load in E-LOG FILENAME,\n"
                                 "or choose it with Browse.");
    } else if (!file.open(QIODevice::ReadOnly)) {
        problem = QFileInfo::exists(path)
            ? QStringLiteral("%1 could not be read.\nCheck that you may open it.").arg(name)
            : QStringLiteral("%1 was not found in %2.").arg(name, QFileInfo(path).absolutePath());
    } else {
        m_model.SetProgress(QStringLiteral("Loading %1").arg(name));
        LogData loaded = log;
        const LogLoader::Outcome outcome
            = co_await LogLoader::LoadInSlices(file, loaded, m_runner.get());
        if (m_runner->Cancelled())
            co_return;
        log = std::move(loaded);
        m_model.ListsReset();
        m_model.FieldsChanged();
        if (outcome == LogLoader::Outcome::NoRows)
            problem = QStringLiteral("%1 holds no logged rows.").arg(name);
        else if (outcome == LogLoader::Outcome::Cut)
            problem = QStringLiteral("%1 holds more rows than the datalogger takes: only the "
                                     "first %2 are loaded.")
                          .arg(name)
                          .arg(log.snapshotList.size());
    }
    if (!problem.isEmpty())
        m_meter->Say(problem, QString::fromLatin1(LogFileWriter::kDatalogErrorTitle));
    co_return;
}

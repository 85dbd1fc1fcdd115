#include "cli/CliDatalog.h"

#include "base/DialogueRunner.h"
#include "datalog/DatalogCore.h"
#include "datalog/LogFileWriter.h"
#include "datalog/MeterDialogue.h"
#include "datalog/PcLogger.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>

const char *const CliDatalog::kOptionNames[8]
    = { "date", "time", "flow", "total", "high", "low", "relay1", "relay2" };

CliDatalog::CliDatalog(CSerial *link, bool progress)
    : m_core(std::make_unique<DatalogCore>())
    , m_progress(progress)
{
    m_core->SetSink(this);
    m_core->SetLink(link);
    m_core->OnFirstShown();
    // No row before the meter's first reading line: it would be an empty reading.
    m_core->Pc().SetRowsWaitForAReading(true);
    m_watch = std::make_unique<DialogueRunner>();
}

CliDatalog::~CliDatalog()
{
    m_core->SetSink(nullptr);
    m_core.reset();
}

void CliDatalog::StartLog(
    const QString &path, int intervalSeconds, const std::array<bool, 8> &options, int seconds)
{
    m_logging = true;
    m_path = path;
    DatalogFields &f = m_core->fields;
    f.fileName = path;
    f.hour = QString::number(intervalSeconds / 3600);
    f.min = QString::number(intervalSeconds / 60 % 60);
    f.sec = QString::number(intervalSeconds % 60);
    f.options = options;
    f.timerEnabled = false;
    m_endAt = qint64(seconds) * 1000;
    m_core->StartPcLogging();
    StartWatching();
}

void CliDatalog::StartTransfer(const QString &path)
{
    m_transfer = true;
    m_path = path;
    // The log's first line names the file as given, so the transfer writes under that name; a
    // file there already is set aside meanwhile and put back when the transfer fails.
    // A FIFO or terminal is written as it stands: nothing is set aside or removed there.
    m_inPlace = LogFileWriter::WritesInPlace(path);
    m_temporary = m_inPlace ? QString() : path + QStringLiteral(".tarvik-old");
    if (!m_inPlace)
        QFile::remove(m_temporary);
    if (!m_inPlace && QFile::exists(path) && !QFile::rename(path, m_temporary)) {
        m_failure
            = QStringLiteral("Could not set %1 aside to write the log in its place.").arg(path);
        Finish(2);
        return;
    }
    m_core->fields.fileName = path;
    m_core->TransferMeterLog();
    StartWatching();
}

void CliDatalog::Stop()
{
    if (m_draining) {
        // The meter cannot hear the run-mode command while it sends its log: leaving now leaves
        // it in command mode, and that is said.
        std::fprintf(stderr,
            "%starvik-cli: Stopped waiting: the meter is still sending its log and stays in "
            "command mode (switch it off and on, or let the datalogger window's Cancel send it "
            "back to run mode).\n",
            m_progress ? "\n" : "");
        std::fflush(stderr);
    }
    m_stopped = true;
    if (m_core->state.loggingActive)
        m_core->StopPcLogging();
    else
        m_core->Cancel();
    Check();
}

void CliDatalog::StartWatching()
{
    if (!m_watch->IsRunning())
        m_watch->Start(Watch());
}

Task<void> CliDatalog::Watch()
{
    for (;;) {
        Check();
        if (m_done)
            co_return;
        co_await m_watch->Sleep(kCheckMs);
    }
}

void CliDatalog::Check()
{
    if (m_done)
        return;
    if (m_logging) {
        if (m_core->state.loggingActive) {
            // The length counts from the first snapshot's start, not from the meter's check.
            if (!m_wasLogging)
                m_endAt += QDateTime::currentMSecsSinceEpoch();
            m_wasLogging = true;
            if (QDateTime::currentMSecsSinceEpoch() >= m_endAt)
                m_core->StopPcLogging();
            return;
        }
        if (m_core->IsBusy())
            return; // the meter is being checked
        if (!m_wasLogging) {
            m_failure = m_stopped ? QStringLiteral("Interrupted before logging began.")
                                  : QStringLiteral("Logging did not start.");
            Finish(1);
            return;
        }
        Finish(0);
        return;
    }
    if (m_transfer) {
        if (m_core->IsBusy())
            return;
        if (m_statuses.contains(QStringLiteral("Transfer Completed")) && !m_stopped) {
            if (!m_inPlace)
                QFile::remove(m_temporary);
            Finish(0);
            return;
        }
        // Nothing half-written stays: the file that was there before comes back.
        const bool hadFile = !m_inPlace && QFile::exists(m_temporary);
        if (!m_inPlace) {
            QFile::remove(m_path);
            if (hadFile)
                QFile::rename(m_temporary, m_path);
        }
        // What arrived before the cut is kept beside the file, and named.
        const QString partial = LogFileWriter::PartialName(m_path);
        const QString kept = m_inPlace ? QStringLiteral("; what arrived went to %1.").arg(m_path)
            : QFile::exists(partial)   ? QStringLiteral("; %1 %2, what arrived is kept in %3.")
                                           .arg(m_path,
                                               hadFile ? QStringLiteral("is left as it was")
                                                       : QStringLiteral("was not written"),
                                               partial)
                                     : QStringLiteral("; nothing was written.");
        m_failure = m_stopped ? QStringLiteral("Interrupted") + kept
            : m_statuses.contains(QStringLiteral("No Data, File Empty"))
            ? QStringLiteral("The meter's stored log is empty; nothing was written.")
            : QStringLiteral("The meter's log was not transferred (%1); nothing was written.")
                  .arg(m_statuses.join(QStringLiteral(", ")));
        Finish(1);
    }
}

void CliDatalog::Finish(int status)
{
    m_done = true;
    m_status = status;
    if (m_progress) {
        std::fprintf(stderr, "\r%-70s\r", "");
        std::fflush(stderr);
    }
    Q_EMIT Finished();
}

void CliDatalog::StatusChanged(const QString &status, const QString &mode)
{
    m_statuses << status;
    if (status == QLatin1String(MeterDialogue::kDrainingStatus) && !m_draining) {
        // Said at once, progress or not: the wait can run to a minute.
        m_draining = true;
        std::fprintf(stderr,
            "%starvik-cli: Interrupted: waiting for the meter to finish sending its log, then "
            "it is sent back to run mode (Ctrl+C again to leave at once; the meter then stays "
            "in command mode).\n",
            m_progress ? "\n" : "");
        std::fflush(stderr);
    } else if (m_draining && status != QLatin1String(MeterDialogue::kDrainingStatus)) {
        m_draining = false;
    }
    if (m_progress && !status.isEmpty()) {
        std::fprintf(
            stderr, "\r%-70s", qPrintable((status + QStringLiteral("  ") + mode).left(70)));
        std::fflush(stderr);
    }
}

void CliDatalog::ProgressChanged(const QString &progress)
{
    if (m_progress && !progress.isEmpty()) {
        std::fprintf(stderr, "\r%-70s", qPrintable(progress.left(70)));
        std::fflush(stderr);
    }
}

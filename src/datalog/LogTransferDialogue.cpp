#include "datalog/LogTransferDialogue.h"

#include "base/DialogueRunner.h"
#include "base/PrintfText.h"
#include "datalog/DatalogModel.h"
#include "datalog/LogFileWriter.h"
#include "datalog/MeterDialogue.h"
#include "datalog/TransferNotice.h"
#include "link/CSerial.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace {
// Log bytes taken between two returns to the event loop when the meter sends faster than they
// are read: the window stays live whatever the line's speed.
constexpr int kBytesPerSlice = 1024;
// Log bytes between two updates of the transfer's progress.
constexpr int kProgressStep = 256;
} // namespace

LogTransferDialogue::LogTransferDialogue(MeterDialogue &meter)
    : m_meter(meter)
    , m_model(meter.Model())
    , m_runner(meter.Runner())
{
}

Task<QString> LogTransferDialogue::TransferMeterLog()
{
    if (!m_model.IsIdle())
        co_return QString();
    SerialPort::Claim claim;
    if (!m_meter.Begin(&claim) || !co_await m_meter.MeterAnswers())
        co_return QString();
    // Cleared however the transfer ends, the dialogue destroyed where it waits too.
    m_transferring = true;
    const auto transferring = qScopeGuard([this] { m_transferring = false; });
    if (!co_await m_meter.ContactMeter())
        co_return QString();
    // The log goes into a file of its own beside the named one, which it replaces only when
    // whole: a transfer cut short (Cancel, a silent meter, the window closed, a full disk) keeps
    // the earlier log, and what arrived stays under the other name.
    const QString path = m_model.fields.fileName;
    const bool inPlace = LogFileWriter::WritesInPlace(path);
    const QString partial = inPlace ? path : LogFileWriter::PartialName(path);
    const auto discard = [&] {
        if (!inPlace)
            QFile::remove(partial);
    };
    LogFileWriter file;
    if (!file.Create(partial)) {
        m_meter.Say(QString::fromLatin1(LogFileWriter::kCreateErrorText),
            QString::fromLatin1(LogFileWriter::kCreateErrorTitle));
        m_model.SetStatusMode(MeterDialogue::Status("IDLE"), QString());
        co_return QString();
    }
    m_model.ClearDisplay();
    file.Write(
        PrintfText::Format("%cHalvren - Flow Meter Datalog Filename %s\n", 34, qPrintable(path))
            .toLatin1());
    file.Write(
        PrintfText::Format("%cFull Scale Flow Rate = %f\n", 34, double(m_model.log.fullScaleFlow))
            .toLatin1());
    co_await m_meter.Send("953\r\n");
    m_meter.Purge();
    unsigned char high = 0;
    unsigned char low = 0;
    bool counted = false;
    if (!m_meter.Cancelled()) {
        m_model.SetStatus(MeterDialogue::Status("Data Transfer in Progress"));
        counted = co_await m_meter.ReadOne(MeterDialogue::kLongPolls, &high)
            && co_await m_meter.ReadOne(MeterDialogue::kLongPolls, &low);
        if (!counted && !m_meter.Cancelled())
            co_await m_meter.NotResponding();
    }
    if (!counted) {
        // Nothing of the log arrived: no partial log to keep.
        file.Close();
        discard();
        co_return QString();
    }
    const int count = high * 256 + low;
    if (count == 0) {
        m_model.SetStatus(MeterDialogue::Status("No Data, File Empty"));
        co_await m_meter.Pause(500000);
        m_model.SetStatusMode(MeterDialogue::Status("IDLE"), QString());
    }
    // Said once the transfer has ended short of the whole log, however it ended (the window
    // closed too, the dialogue destroyed where it waited): by the application, after the fact.
    int stored = 0;
    TransferNotice notice(path, partial, inPlace, file, stored, count);
    m_logLeft = count;
    while (stored < count) {
        if (stored % kProgressStep == 0)
            m_model.SetProgress(QStringLiteral("%1 of %2 bytes").arg(stored).arg(count));
        if (stored % kBytesPerSlice == 0 && stored > 0)
            co_await m_runner.Sleep(1);
        unsigned char byte = 0;
        if (!co_await m_meter.ReadOne(MeterDialogue::kLongPolls, &byte)) {
            file.Close();
            if (m_meter.Cancelled()) {
                co_await DrainLog(count - stored);
            } else {
                notice.Failed();
                co_await m_meter.NotResponding();
            }
            m_logLeft = -1;
            co_return QString();
        }
        file.Write(QByteArray(1, char(byte)));
        ++stored;
        m_logLeft = count - stored;
    }
    if (count > 0) {
        m_model.SetProgress(QString());
        m_model.SetStatus(MeterDialogue::Status("Transfer Completed"));
        co_await m_meter.ReturnToRunMode();
        m_model.SetStatusMode(MeterDialogue::Status("IDLE"), QString());
    }
    file.Close();
    m_logLeft = -1;
    if (file.Failed()) {
        notice.Fail(QStringLiteral("The meter's log could not be written in full to %1 (is the "
                                   "disk full?).")
                        .arg(partial)
            + (inPlace ? QString() : QLatin1Char('\n') + notice.FileLeft() + QLatin1Char('.')));
        discard();
        co_return QString();
    }
    if (inPlace || (count == 0 && QFileInfo::exists(path))) {
        // An empty memory is no reason to lose the log already in the file; what went straight
        // to a FIFO or terminal cannot be read back to be shown.
        discard();
        notice.Done();
        co_return QString();
    }
    QString error;
    if (!LogFileWriter::Replace(partial, path, &error)) {
        notice.Fail(QStringLiteral("The meter's log could not replace %1:\n%2\n%3; the log "
                                   "is kept in %4.")
                        .arg(path, error, notice.FileLeft(), partial));
        co_return count > 0 ? partial : QString();
    }
    notice.Done();
    co_return count > 0 ? path : QString();
}

Task<void> LogTransferDialogue::DrainLog(int remaining)
{
    // After a Cancel the meter goes on sending the rest of its log: the next dialogue would take
    // it for an answer. Its bytes are read and dropped, each within the log's byte time-out,
    // until none are left or the line is quiet; a second Cancel ends this at once.
    if (!m_runner.BeginWindUp())
        co_return;
    m_model.SetStatus(MeterDialogue::Status(MeterDialogue::kDrainingStatus));
    if (CSerial *link = m_model.Link()) {
        int shown = remaining + kProgressStep;
        co_await link->DrainAsync(m_runner, remaining,
            link->Timing().PollsToMs(MeterDialogue::kLongPolls), [this, &shown](int left) {
                m_logLeft = left;
                if (shown - left >= kProgressStep) {
                    shown = left;
                    m_model.SetProgress(QStringLiteral("%1 bytes to go").arg(left));
                }
            });
    }
    m_logLeft = -1;
    m_model.SetProgress(QString());
    m_runner.EndWindUp();
}

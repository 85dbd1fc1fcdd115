#include "meter/SendWithChecks.h"

#include "audit/AsFoundStore.h"
#include "meter/MeterSeriesModel.h"

#include <QDateTime>

SendWithChecks::SendWithChecks(Lists &lists, Prompt &prompt, Options options)
    : m_lists(lists)
    , m_prompt(prompt)
    , m_options(std::move(options))
{
}

SendWithChecks::Outcome SendWithChecks::Ended(Outcome outcome, AuditRecord &record)
{
    const std::optional<QString> message = m_prompt.End(outcome);
    if (message && m_options.audit) {
        record.result = outcome.result;
        record.message = message->trimmed();
        record.changes = outcome.diff.changes;
        record.asFound = outcome.asFound;
        m_options.audit(record);
    }
    outcome.found = nullptr;
    return outcome;
}

namespace {
QString ListResult(const SendWithChecks::ListEnd &end)
{
    if (!end.result.isEmpty())
        return end.result;
    return end.kind == SendWithChecks::ListEnd::Cancelled ? QStringLiteral("cancelled")
                                                          : QStringLiteral("failed");
}
} // namespace

Task<SendWithChecks::Outcome> SendWithChecks::Run(AuditRecord record)
{
    Outcome outcome;
    std::unique_ptr<MeterSeriesModel> found;
    MeterSeriesModel *sent = nullptr;
    if (m_options.compare) {
        outcome.step = Step::Compare;
        m_prompt.Progress(outcome.step);
        found = m_options.makeModel();
        outcome.list = co_await m_lists.Read(*found);
        outcome.found = found.get();
        if (outcome.list.kind != ListEnd::Ended) {
            outcome.result = ListResult(outcome.list);
            co_return Ended(outcome, record);
        }
        record.firmware = AuditRecord::FirmwareText(found->Firmware());
        record.serial = found->Serial().trimmed();
        if (!m_prompt.AcceptMeter(*found)) {
            outcome.step = Step::Meter;
            outcome.result = QStringLiteral("refused");
            co_return Ended(outcome, record);
        }
        outcome.step = Step::Prepare;
        sent = m_options.prepare(found.get());
        if (!sent)
            co_return Ended(outcome, record);
        outcome.diff = ConfigDiff::Compare(found->ComparedFields(), sent->ComparedFields());
        if (!m_options.force && outcome.diff.changes.empty()
            && sent->ImageBytes() == found->ImageBytes()) {
            // Nothing to write, and no as-found copy of it.
            outcome.step = Step::Unchanged;
            outcome.result = QStringLiteral("unchanged");
            co_return Ended(outcome, record);
        }
        // What the meter held cannot be had back once it is written over: no copy, no send.
        outcome.step = Step::AsFound;
        outcome.asFound = AsFoundStore::Save(m_options.asFoundFolder, found->Serial().trimmed(),
            m_options.extension, found->StoredText().toLatin1(), QDateTime::currentDateTime(),
            &outcome.text);
        if (outcome.asFound.isEmpty()) {
            outcome.result = QStringLiteral("failed");
            co_return Ended(outcome, record);
        }
        outcome.step = Step::Ask;
        if (!m_prompt.AskToSend(&outcome)) {
            outcome.result = QStringLiteral("cancelled");
            co_return Ended(outcome, record);
        }
    } else {
        outcome.step = Step::Meter;
        if (!m_prompt.ConfirmMeter())
            co_return Ended(outcome, record);
        outcome.step = Step::Prepare;
        sent = m_options.prepare(nullptr);
        if (!sent)
            co_return Ended(outcome, record);
        outcome.step = Step::Ask;
        if (!m_prompt.AskToSend(nullptr)) {
            outcome.result = QStringLiteral("cancelled");
            co_return Ended(outcome, record);
        }
    }
    outcome.step = Step::Send;
    m_prompt.Progress(outcome.step);
    outcome.list = co_await m_lists.Send(*sent);
    if (outcome.list.kind != ListEnd::Ended) {
        outcome.result = ListResult(outcome.list);
        co_return Ended(outcome, record);
    }
    if (m_options.verify) {
        outcome.step = Step::Verify;
        m_prompt.Progress(outcome.step);
        std::unique_ptr<MeterSeriesModel> stored = m_options.makeModel();
        outcome.list = co_await m_lists.Read(*stored);
        outcome.text = outcome.list.kind == ListEnd::Ended
            ? sent->StoredDifference(*stored)
            : QStringLiteral("The meter acknowledged the configuration, but it could not be "
                             "read back, so what it stored is not known:\n%1")
                  .arg(outcome.list.error);
        if (!outcome.text.isEmpty()) {
            outcome.result = QStringLiteral("mismatch");
            co_return Ended(outcome, record);
        }
    }
    // Only a read back tells what the meter stored.
    outcome.step = Step::Done;
    outcome.result = QStringLiteral("ok");
    outcome.text = QString::fromLatin1(m_options.verify ? kStoredText : kAcknowledgedText);
    co_return Ended(outcome, record);
}

#include "cli/CliSend.h"

#include "audit/AuditSettings.h"
#include "base/DialogueRunner.h"
#include "cli/CliAudit.h"
#include "cli/CliContext.h"
#include "cli/CliSignals.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeriesModel.h"
#include "meterqx/SeriesModels.h"

CliSend::CliSend(CliContext &context)
    : m_cli(context)
{
}

CliSend::~CliSend() = default;

Task<void> CliSend::Run()
{
    if (m_cli.PortArg().isEmpty() || m_cli.args.Plain().size() != 1) {
        CliContext::Err(QStringLiteral("send takes one meter file and --port P."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    m_path = m_cli.UserPath(m_cli.args.Plain().at(0));
    m_file = SeriesModels::OfPath(m_path);
    QString error;
    if (!m_file->Open(m_path, &error)) {
        CliContext::Err(error);
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    m_meter
        = std::make_unique<CliMeter>(m_cli.PortArg(), m_cli.Baud(), m_cli.Progress(), m_cli.Pace());
    if (!co_await m_meter->Open(*m_cli.runner, &error)) {
        CliContext::Err(error);
        m_cli.code = CliContext::kPortUnusable;
        co_return;
    }
    const CliAudit audit(m_cli.args);
    AuditRecord record = audit.Record(QStringLiteral("send"));
    CliAudit::Describe(record, *m_file, m_path);
    // Not even --force sends to a port where nothing answers: a silent meter is said within
    // seconds, naming the port and speed tried.
    m_identified = co_await m_meter->Identify(*m_cli.runner, &m_probe);
    if (m_cli.runner->Cancelled() || !m_probe.answered) {
        const QString said = m_cli.runner->Cancelled()
            ? QStringLiteral("Interrupted before anything was sent.")
            : m_meter->Link().SilentText() + QStringLiteral(" Nothing was sent.");
        CliContext::Err(said);
        m_cli.code = CliContext::kMeterFailed;
        record.result
            = m_cli.runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed");
        record.message = said;
        audit.Append(record);
        co_return;
    }
    m_force = m_cli.args.Has(QStringLiteral("--force"));
    record.model = m_probe.model.trimmed();
    SendWithChecks::Options options;
    options.compare
        = AuditSettings::CompareBeforeSend() && !m_cli.args.Has(QStringLiteral("--no-compare"));
    options.verify
        = AuditSettings::ReadBackAfterSend() && !m_cli.args.Has(QStringLiteral("--no-verify"));
    options.force = m_force;
    options.asFoundFolder = CliAudit::AsFoundFolder();
    options.extension = m_file->Extension();
    const MeterSeries::Series series = m_file->Series();
    options.makeModel = [series] { return SeriesModels::Make(series); };
    options.prepare = [this](MeterSeriesModel *found) {
        // Without the comparing read, the presence check's identification is the meter's.
        m_file->PrepareSend(found ? found->ActiveRange() : m_probe.range);
        return m_file.get();
    };
    options.audit = [&audit](const AuditRecord &line) { audit.Append(line); };
    if (!options.compare && m_identified)
        record.firmware = AuditRecord::FirmwareText(m_probe.version);
    SendWithChecks send(*this, *this, std::move(options));
    co_await send.Run(record);
}

Task<SendWithChecks::ListEnd> CliSend::Read(MeterSeriesModel &into)
{
    SendWithChecks::ListEnd end;
    const int result = co_await m_meter->RunList(
        *m_cli.runner, into.ReadList(), into.Fields(), into.ReadPeriodMs(), &end.error);
    m_readStatus = CliContext::kDone;
    if (result != 0) {
        m_readStatus = result == 2 ? CliContext::kBadInput : CliContext::kMeterFailed;
        end.kind = m_cli.runner->Cancelled() ? SendWithChecks::ListEnd::Cancelled
            : result == 2                    ? SendWithChecks::ListEnd::Unreadable
                                             : SendWithChecks::ListEnd::Failed;
        co_return end;
    }
    // A meter of the other series is refused as a file of the other series is.
    if (!into.FinishRead(&end.error)) {
        end.kind = SendWithChecks::ListEnd::Refused;
        m_readStatus = MeterSeries::OfVersion(into.Firmware()) == MeterSeries::Unknown
            ? CliContext::kMeterFailed
            : CliContext::kBadInput;
    }
    co_return end;
}

Task<SendWithChecks::ListEnd> CliSend::Send(MeterSeriesModel &sent)
{
    SendWithChecks::ListEnd end;
    const int result = co_await m_meter->RunList(*m_cli.runner, sent.SendList(), sent.Fields(),
        sent.SendPeriodMs(), &end.error, &end.partly);
    m_readStatus = result == 2 ? CliContext::kBadInput : CliContext::kMeterFailed;
    if (result != 0)
        end.kind = m_cli.runner->Cancelled() ? SendWithChecks::ListEnd::Cancelled
            : result == 2                    ? SendWithChecks::ListEnd::Unreadable
                                             : SendWithChecks::ListEnd::Failed;
    co_return end;
}

bool CliSend::Refuse(const QString &text, int code)
{
    CliContext::Err(text);
    m_cli.code = code;
    m_said = text;
    return false;
}

bool CliSend::ConfirmMeter()
{
    const QString port = m_cli.PortArg();
    if (!m_identified && !m_force)
        return Refuse(QStringLiteral("The meter on %1 did not identify itself, so its serial "
                                     "number cannot be checked; nothing was sent (--force sends "
                                     "without the check).")
                          .arg(port),
            CliContext::kMeterFailed);
    if (!m_identified || m_force)
        return true;
    const MeterSeries::Series series = MeterSeries::OfVersion(m_probe.version);
    if (series != m_file->Series())
        return Refuse(QStringLiteral("%1 is a %2 file, but the meter on %3 is a %4 meter "
                                     "(firmware %5); nothing was sent.")
                          .arg(m_path, m_file->Name(), port,
                              series == MeterSeries::Quixal ? QStringLiteral("Quixal")
                                                            : QStringLiteral("Kelvane"),
                              m_probe.version),
            CliContext::kBadInput);
    if (m_probe.serial.trimmed().isEmpty())
        return Refuse(QStringLiteral("%1 holds serial number %2, but the meter on %3 did not "
                                     "tell its own (%4); nothing was sent (--force sends it "
                                     "anyway).")
                          .arg(m_path, m_file->Serial(), port, MeterIdentText::NotRead()),
            CliContext::kMeterFailed);
    if (m_probe.serial.trimmed() != m_file->Serial().trimmed())
        return Refuse(QStringLiteral("%1 holds serial number %2, but the meter on %3 has serial "
                                     "number %4; nothing was sent (--force sends it anyway).")
                          .arg(m_path, m_file->Serial(), port, m_probe.serial),
            CliContext::kBadInput);
    return true;
}

bool CliSend::AcceptMeter(MeterSeriesModel &found)
{
    const QString serial = found.Serial();
    if (m_force || serial.trimmed() == m_file->Serial().trimmed())
        return true;
    return Refuse(QStringLiteral("%1 holds serial number %2, but the meter on %3 has serial "
                                 "number %4; nothing was sent (--force sends it anyway).")
                      .arg(m_path, m_file->Serial(), m_cli.PortArg(), serial),
        CliContext::kBadInput);
}

bool CliSend::AskToSend(const SendWithChecks::Outcome *changes)
{
    QString question;
    if (changes) {
        CliContext::Out(ConfigDiff::Text(changes->diff)
            + QStringLiteral("\nAs found: %1\n").arg(changes->asFound));
        question = QStringLiteral("Send %1 change(s) to the meter %2?")
                       .arg(changes->diff.changes.size())
                       .arg(changes->found->Serial().trimmed());
    } else {
        // No comparing read showed what changes: the send itself is confirmed.
        question = QStringLiteral("Send %1 to the meter on %2?")
                       .arg(m_cli.args.Plain().at(0), m_cli.PortArg());
    }
    // The send is confirmed unless --yes says so; without a terminal to ask, it is not sent.
    if (m_cli.args.Has(QStringLiteral("--yes")))
        return true;
    if (!CliSignals::IsTerminal(CliSignals::Stream::Input))
        return Refuse(QStringLiteral("Nothing was sent: with no terminal to ask, confirm the "
                                     "send with --yes."),
            CliContext::kBadInput);
    if (!CliAudit::Confirm(question, *m_cli.signals) || m_cli.runner->Cancelled())
        return Refuse(QStringLiteral("Nothing was sent."), CliContext::kMeterFailed);
    return true;
}

std::optional<QString> CliSend::End(const SendWithChecks::Outcome &outcome)
{
    using Step = SendWithChecks::Step;
    switch (outcome.step) {
    case Step::Meter:
        // A meter refused before anything ran on it has no line of the trail; one refused
        // after the comparing read has.
        return outcome.result.isEmpty() ? std::nullopt : std::optional<QString>(m_said);
    case Step::Prepare:
        return std::nullopt; // the file is the configuration sent: always ready
    case Step::Compare:
        CliContext::Err(outcome.list.error + QStringLiteral("\nNothing was sent."));
        m_cli.code = m_readStatus;
        return outcome.list.error;
    case Step::Unchanged: {
        // Nothing to write, and no as-found copy of it; --force writes it all the same.
        const QString said = QString::fromLatin1(SendWithChecks::kAlreadyHeldText);
        CliContext::Out(said + QLatin1Char('\n'));
        return said;
    }
    case Step::AsFound:
        CliContext::Err(outcome.text
            + QStringLiteral("\nNothing was sent: the meter's configuration as found could not "
                             "be kept."));
        m_cli.code = CliContext::kBadInput;
        return outcome.text;
    case Step::Ask:
        return m_said;
    case Step::Send: {
        // Cut inside the image (Ctrl+C, the port gone), part of it may be in the meter.
        const bool cancelled = outcome.list.kind == SendWithChecks::ListEnd::Cancelled;
        const QString held = outcome.list.partly
            ? QStringLiteral("The meter may now hold part of the new configuration; read it to "
                             "see what it holds.")
            : outcome.list.kind == SendWithChecks::ListEnd::Failed && !cancelled
            ? QString()
            : QStringLiteral("The meter may not have stored the configuration; read it to see "
                             "what it holds.");
        const QString said
            = held.isEmpty() ? outcome.list.error : outcome.list.error + QLatin1Char('\n') + held;
        CliContext::Err(said);
        m_cli.code = m_readStatus;
        return said;
    }
    case Step::Verify:
        CliContext::Err(outcome.text);
        m_cli.code = CliContext::kMeterFailed;
        return outcome.text;
    case Step::Done:
        break;
    }
    // Only a read back tells what the meter stored.
    CliContext::Out(outcome.text + QLatin1Char('\n'));
    return outcome.text;
}

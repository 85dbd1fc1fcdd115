#include "cli/CliMeterCommands.h"

#include "audit/ConfigDiff.h"
#include "base/DialogueRunner.h"
#include "cli/CliAudit.h"
#include "cli/CliContext.h"
#include "cli/CliMeter.h"
#include "cli/CliSend.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeries.h"
#include "meter/MeterSeriesModel.h"
#include "meterqx/SeriesModels.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

Task<void> CliMeterCommands::Send()
{
    CliSend send(m_cli);
    co_await send.Run();
}

QString CliMeterCommands::Silent(const CliMeter &meter)
{
    return meter.Link().SilentText();
}

Task<void> CliMeterCommands::Identify()
{
    if (m_cli.PortArg().isEmpty()) {
        CliContext::Err(QStringLiteral("identify needs --port."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    CliMeter meter(m_cli.PortArg(), m_cli.Baud(), m_cli.Progress(), m_cli.Pace());
    if (!co_await OpenMeter(meter))
        co_return;
    CliMeter::Identity id;
    if (!co_await meter.Identify(*m_cli.runner, &id)) {
        CliContext::Err(m_cli.runner->Cancelled() ? QStringLiteral("Interrupted.")
                : id.answered ? QStringLiteral("%1 answered but did not identify itself.")
                                    .arg(CliContext::Capital(meter.Where()))
                              : Silent(meter));
        m_cli.code = CliContext::kMeterFailed;
        co_return;
    }
    const MeterSeries::Series series = MeterSeries::OfVersion(id.version);
    const QString seriesName
        = series == MeterSeries::Unknown ? QStringLiteral("unknown") : MeterSeries::Name(series);
    if (m_cli.args.Has(QStringLiteral("--json"))) {
        CliContext::Out(QString::fromUtf8(QJsonDocument(
            QJsonObject { { QStringLiteral("series"), seriesName },
                { QStringLiteral("model"), id.model }, { QStringLiteral("version"), id.version },
                { QStringLiteral("revision"), id.revision }, { QStringLiteral("range"), id.range },
                { QStringLiteral("serial"),
                    id.serial } }).toJson()));
    } else {
        CliContext::Out(QStringLiteral(
            "series\t%1\nmodel\t%2\nversion\t%3\nrevision\t%4\nrange\t%5\nserial\t%6\n")
                            .arg(seriesName, id.model, id.version, id.revision, id.range,
                                id.serial.isEmpty() ? MeterIdentText::NotRead() : id.serial));
    }
}

Task<void> CliMeterCommands::Read()
{
    if (m_cli.PortArg().isEmpty() || !m_cli.args.Plain().isEmpty()) {
        CliContext::Err(QStringLiteral("read takes --port P [--out FILE] and nothing else."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    CliMeter meter(m_cli.PortArg(), m_cli.Baud(), m_cli.Progress(), m_cli.Pace());
    if (!co_await OpenMeter(meter))
        co_return;
    // A meter that is not there is said within seconds, not after the list's time-outs.
    CliMeter::Identity id;
    const bool identified = co_await meter.Identify(*m_cli.runner, &id);
    if (m_cli.runner->Cancelled() || !id.answered) {
        CliContext::Err(m_cli.runner->Cancelled()
                ? QStringLiteral("Interrupted; nothing was written.")
                : Silent(meter) + QStringLiteral(" Nothing was written."));
        m_cli.code = CliContext::kMeterFailed;
        co_return;
    }
    // The series decides the list and the file type: a given --out names it, else the meter.
    const bool named = m_cli.args.Has(QStringLiteral("--out"));
    const bool force = m_cli.args.Has(QStringLiteral("--force"));
    MeterSeries::Series series = MeterSeries::Kelvane;
    if (named) {
        series = MeterSeries::OfPath(m_cli.args.Value(QStringLiteral("--out")));
    } else {
        if (!identified) {
            CliContext::Err(QStringLiteral("%1 did not identify itself; nothing was written.")
                                .arg(CliContext::Capital(meter.Where())));
            m_cli.code = CliContext::kMeterFailed;
            co_return;
        }
        if (MeterSeries::OfVersion(id.version) == MeterSeries::Quixal)
            series = MeterSeries::Quixal;
    }
    const std::unique_ptr<MeterSeriesModel> file = SeriesModels::Make(series);
    if (!named) {
        // The name the read will give, known from the identification: an as-found copy there
        // is not read over.
        const QString expected
            = QDir(m_cli.startDir)
                  .filePath(file->FileName(id.serial.trimmed(), id.range.trimmed()));
        if (!force && QFileInfo::exists(expected)) {
            CliContext::Err(QStringLiteral("%1 exists; --force to replace it. Nothing was read.")
                                .arg(expected));
            m_cli.code = CliContext::kBadInput;
            co_return;
        }
    }
    const CliAudit audit(m_cli.args);
    AuditRecord record = audit.Record(QStringLiteral("read"));
    record.model = id.model.trimmed(); // the image holds no model: the meter's screen names it
    QString error;
    const int result = co_await meter.RunList(
        *m_cli.runner, file->ReadList(), file->Fields(), file->ReadPeriodMs(), &error);
    if (result != 0 || !file->FinishRead(&error)) {
        CliContext::Err(error + QStringLiteral("\nNothing was written."));
        m_cli.code = result == 2 ? CliContext::kBadInput : CliContext::kMeterFailed;
        record.series = MeterSeries::Name(series);
        record.result
            = m_cli.runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed");
        record.message = error;
        audit.Append(record);
        co_return;
    }
    const QString out = named
        ? m_cli.UserPath(m_cli.args.Value(QStringLiteral("--out")))
        : QDir(m_cli.startDir).filePath(file->FileName(file->Serial(), file->ActiveRange()));
    const QFileInfo outInfo(out);
    if (!named && !force && (outInfo.exists() || outInfo.isSymLink())) {
        CliContext::Err(
            QStringLiteral("%1 exists; --force to replace it. Nothing was written.").arg(out));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    const bool saved = file->Save(out, &error);
    CliAudit::Describe(record, *file, saved ? out : QString());
    record.result = saved ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message = saved ? QString() : error;
    audit.Append(record);
    if (!saved) {
        CliContext::Err(error);
        m_cli.code = CliContext::kMeterFailed;
        co_return;
    }
    CliContext::Out((named ? m_cli.args.Value(QStringLiteral("--out")) : out) + QLatin1Char('\n'));
}

Task<int> CliMeterCommands::ReadMeter(CliMeter &meter, MeterSeriesModel &found, QString *error)
{
    const int result = co_await meter.RunList(
        *m_cli.runner, found.ReadList(), found.Fields(), found.ReadPeriodMs(), error);
    if (result != 0)
        co_return result == 2 ? CliContext::kBadInput : CliContext::kMeterFailed;
    // A meter of the other series is refused as a file of the other series is.
    if (!found.FinishRead(error))
        co_return MeterSeries::OfVersion(found.Firmware()) == MeterSeries::Unknown
            ? CliContext::kMeterFailed
            : CliContext::kBadInput;
    co_return CliContext::kDone;
}

Task<void> CliMeterCommands::Diff()
{
    const QStringList plain = m_cli.args.Plain();
    const bool withMeter = !m_cli.PortArg().isEmpty();
    if (plain.size() != (withMeter ? 1 : 2)) {
        CliContext::Err(QStringLiteral("diff takes two meter files, or one and --port P."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    const std::unique_ptr<MeterSeriesModel> a = CliContext::OpenFile(m_cli.UserPath(plain.at(0)));
    if (!a) {
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    std::unique_ptr<MeterSeriesModel> b;
    if (!withMeter) {
        b = CliContext::OpenFile(m_cli.UserPath(plain.at(1)));
        if (!b) {
            m_cli.code = CliContext::kBadInput;
            co_return;
        }
        if (b->Series() != a->Series()) {
            CliContext::Err(
                QStringLiteral("%1 is a %2 file and %3 a %4 file: they have no fields in common.")
                    .arg(plain.at(0), MeterSeries::Name(a->Series()), plain.at(1),
                        MeterSeries::Name(b->Series())));
            m_cli.code = CliContext::kBadInput;
            co_return;
        }
    } else {
        CliMeter meter(m_cli.PortArg(), m_cli.Baud(), m_cli.Progress(), m_cli.Pace());
        if (!co_await OpenMeter(meter))
            co_return;
        b = SeriesModels::Make(a->Series());
        QString error;
        if (co_await ReadMeter(meter, *b, &error) != CliContext::kDone) {
            // Not 1: that says "they differ".
            CliContext::Err(error);
            m_cli.code = CliContext::kBadInput;
            co_return;
        }
    }
    const ConfigDiff::Result diff = ConfigDiff::Compare(a->ComparedFields(), b->ComparedFields());
    if (m_cli.args.Has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const AuditRecord::Change &c : diff.changes)
            list.append(QJsonObject { { QStringLiteral("caption"), c.caption },
                { QStringLiteral("id"), c.id }, { QStringLiteral("a"), c.before },
                { QStringLiteral("b"), c.after } });
        CliContext::Out(QString::fromUtf8(QJsonDocument(list).toJson()));
    } else {
        QString text;
        for (const AuditRecord::Change &c : diff.changes)
            text += QStringLiteral("%1\t%2\t%3\t%4\n")
                        .arg(c.caption)
                        .arg(c.id)
                        .arg(c.before, c.after);
        CliContext::Out(text);
    }
    m_cli.code = diff.Equal() ? CliContext::kDone : CliContext::kMeterFailed;
}

Task<bool> CliMeterCommands::OpenMeter(CliMeter &meter)
{
    QString error;
    if (co_await meter.Open(*m_cli.runner, &error))
        co_return true;
    CliContext::Err(error);
    m_cli.code = CliContext::kPortUnusable;
    co_return false;
}

Task<void> CliMeterCommands::CheckAnswers()
{
    CliMeter meter(m_cli.PortArg(), m_cli.Baud(), m_cli.Progress(), m_cli.Pace());
    if (!co_await OpenMeter(meter))
        co_return;
    CliMeter::Identity id;
    // On its own line: g++ 12 miscompiles a co_await inside a condition.
    const bool identified = co_await meter.Identify(*m_cli.runner, &id, false);
    Q_UNUSED(identified); // an answer without an identification line is a meter all the same
    if (m_cli.runner->Cancelled() || !id.answered) {
        CliContext::Err(m_cli.runner->Cancelled()
                ? QStringLiteral("Interrupted; nothing was written.")
                : Silent(meter) + QStringLiteral(" Nothing was written."));
        m_cli.code = CliContext::kMeterFailed;
    }
}

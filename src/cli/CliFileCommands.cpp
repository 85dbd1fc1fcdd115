#include "cli/CliFileCommands.h"

#include "audit/AuditSettings.h"
#include "audit/ConfigDiff.h"
#include "base/OperatorIds.h"
#include "base/SheetPdf.h"
#include "cli/CliAudit.h"
#include "cli/CliContext.h"
#include "link/SerialPortList.h"
#include "meter/MeterSeriesModel.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int CliFileCommands::Ports()
{
    QJsonArray list;
    QString text;
    // The ports present first; the COM names of no device only when asked for.
    QList<SerialPortList::Entry> present;
    QList<SerialPortList::Entry> absent;
    for (const SerialPortList::Entry &e : SerialPortList::Entries())
        (QFileInfo::exists(e.device) ? present : absent) << e;
    if (m_cli.args.Has(QStringLiteral("--all")))
        present += absent;
    for (const SerialPortList::Entry &e : std::as_const(present)) {
        text += QStringLiteral("%1\t%2\t%3\n").arg(e.port, e.device, e.what);
        list.append(QJsonObject { { QStringLiteral("port"), e.port },
            { QStringLiteral("device"), e.device }, { QStringLiteral("what"), e.what } });
    }
    if (m_cli.args.Has(QStringLiteral("--json")))
        CliContext::Out(QString::fromUtf8(QJsonDocument(list).toJson()));
    else
        CliContext::Out(text);
    return CliContext::kDone;
}

int CliFileCommands::Show()
{
    if (m_cli.args.Plain().size() != 1) {
        CliContext::Err(QStringLiteral("show takes one meter file."));
        return CliContext::kBadInput;
    }
    const QString path = m_cli.UserPath(m_cli.args.Plain().at(0));
    const std::unique_ptr<MeterSeriesModel> file = CliContext::OpenFile(path);
    if (!file)
        return CliContext::kBadInput;
    const auto rows = file->Rows();
    if (m_cli.args.Has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const auto &row : rows)
            list.append(QJsonObject { { QStringLiteral("caption"), row.caption },
                { QStringLiteral("id"), row.id }, { QStringLiteral("text"), row.text } });
        CliContext::Out(QString::fromUtf8(QJsonDocument(list).toJson()));
        return CliContext::kDone;
    }
    QString text;
    for (const auto &row : rows)
        text += QStringLiteral("%1\t%2\t%3\n").arg(row.caption).arg(row.id).arg(row.text);
    CliContext::Out(text);
    return CliContext::kDone;
}

int CliFileCommands::Set()
{
    const QStringList plain = m_cli.args.Plain();
    if (plain.size() < 2) {
        CliContext::Err(QStringLiteral("set takes a meter file and at least one NAME=VALUE."));
        return CliContext::kBadInput;
    }
    const QString path = m_cli.UserPath(plain.at(0));
    const std::unique_ptr<MeterSeriesModel> file = CliContext::OpenFile(path);
    if (!file)
        return CliContext::kBadInput;
    const std::vector<ConfigDiff::Field> before = file->ComparedFields();
    for (int i = 1; i < plain.size(); ++i) {
        const int equals = plain.at(i).indexOf(QLatin1Char('='));
        if (equals <= 0) {
            CliContext::Err(QStringLiteral("\"%1\" is not NAME=VALUE.").arg(plain.at(i)));
            return CliContext::kBadInput;
        }
        const QString refusal = file->Set(plain.at(i).left(equals), plain.at(i).mid(equals + 1));
        if (!refusal.isEmpty()) {
            CliContext::Err(refusal + QStringLiteral("\nNothing was written."));
            return CliContext::kBadInput;
        }
    }
    const QString out = m_cli.args.Has(QStringLiteral("--out"))
        ? m_cli.UserPath(m_cli.args.Value(QStringLiteral("--out")))
        : path;
    QString error;
    const bool saved = file->Save(out, &error);
    const CliAudit audit(m_cli.args);
    AuditRecord record = audit.Record(QStringLiteral("save"));
    CliAudit::Describe(record, *file, saved ? out : QString());
    record.changes = ConfigDiff::Compare(before, file->ComparedFields()).changes;
    record.result = saved ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message
        = saved ? QStringLiteral("from %1").arg(QFileInfo(path).absoluteFilePath()) : error;
    audit.Append(record);
    if (!saved) {
        CliContext::Err(error);
        return CliContext::kMeterFailed;
    }
    return CliContext::kDone;
}

int CliFileCommands::Convert()
{
    if (m_cli.args.Plain().size() != 1 || !m_cli.args.Has(QStringLiteral("--to"))
        || !m_cli.args.Has(QStringLiteral("--out"))) {
        CliContext::Err(
            QStringLiteral("convert takes one meter file, --to VERSION and --out FILE2."));
        return CliContext::kBadInput;
    }
    const QString path = m_cli.UserPath(m_cli.args.Plain().at(0));
    const QString out = m_cli.UserPath(m_cli.args.Value(QStringLiteral("--out")));
    const std::unique_ptr<MeterSeriesModel> file = CliContext::OpenFile(path);
    if (!file)
        return CliContext::kBadInput;
    QString error;
    const bool converted = file->Convert(m_cli.args.Value(QStringLiteral("--to")), &error)
        && file->Save(out, &error);
    const CliAudit audit(m_cli.args);
    AuditRecord record = audit.Record(QStringLiteral("convert"));
    CliAudit::Describe(record, *file, converted ? out : QString());
    record.result = converted ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message = converted
        ? QStringLiteral("%1 converted to %2")
              .arg(QFileInfo(path).absoluteFilePath(), m_cli.args.Value(QStringLiteral("--to")))
        : error;
    audit.Append(record);
    if (!converted) {
        CliContext::Err(error);
        return CliContext::kBadInput;
    }
    return CliContext::kDone;
}

int CliFileCommands::Sheet()
{
    const bool text = m_cli.args.Has(QStringLiteral("--text"));
    if (m_cli.args.Plain().size() != 1 || (!text && !m_cli.args.Has(QStringLiteral("--pdf")))) {
        CliContext::Err(QStringLiteral("sheet takes one meter file and --pdf OUT (or --text)."));
        return CliContext::kBadInput;
    }
    const QString path = m_cli.UserPath(m_cli.args.Plain().at(0));
    const std::unique_ptr<MeterSeriesModel> file = CliContext::OpenFile(path);
    if (!file)
        return CliContext::kBadInput;
    const QDateTime now = QDateTime::currentDateTime();
    if (m_cli.args.Has(QStringLiteral("--pdf"))) {
        // The sheet prints no operator; a registered ID gives its name (none, the operator of
        // the settings), and the name goes into the PDF's properties.
        const QString given = m_cli.args.Value(QStringLiteral("--operator")).trimmed();
        const QString registered = OperatorIds::NameOf(given);
        const QString operatorName = !registered.isEmpty() ? registered
            : !given.isEmpty()                             ? given
                                                           : AuditSettings::Operator();
        const QString named = CliContext::PdfName(m_cli.args.Value(QStringLiteral("--pdf")));
        const QString out = m_cli.UserPath(named);
        if (QFileInfo(out).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
            CliContext::Err(
                QStringLiteral("%1 is the meter file itself; give the PDF another name.").arg(out));
            return CliContext::kBadInput;
        }
        const bool written = SheetPdf::Write(
            out, [&](const SheetMetrics &metrics) { return file->Sheet(metrics, now); },
            SheetPdf::DefaultLayout(), QFileInfo(path).fileName(),
            operatorName.isEmpty() ? QStringLiteral("Tarvik")
                                   : QStringLiteral("Tarvik, operator %1").arg(operatorName));
        if (!written) {
            CliContext::Err(QStringLiteral("The datasheet could not be written to %1.").arg(named));
            return CliContext::kMeterFailed;
        }
        if (!text)
            CliContext::Out(named + QLatin1Char('\n'));
    }
    if (text)
        CliContext::Out(
            file->Sheet(SheetMetrics {}, now).Texts().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return CliContext::kDone;
}

int CliFileCommands::Report()
{
    const QString pdf = m_cli.args.Has(QStringLiteral("--pdf"))
        ? CliContext::PdfName(m_cli.args.Value(QStringLiteral("--pdf")))
        : QString();
    return CliAudit(m_cli.args).Report(m_cli.args, pdf, m_cli.UserPath(pdf));
}

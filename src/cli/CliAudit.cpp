#include "cli/CliAudit.h"

#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "audit/ChangeReport.h"
#include "base/OperatorIds.h"
#include "base/SheetPdf.h"
#include "cli/CliArgs.h"
#include "cli/CliSignals.h"
#include "meter/MeterSeriesModel.h"

#include <QFileInfo>

#include <cstdio>

namespace {
QString g_auditStartFolder;
} // namespace

void CliAudit::SetStartFolder(const QString &folder)
{
    g_auditStartFolder = folder;
}

QString CliAudit::TrailPath()
{
    const QString folder = AuditSettings::Folder();
    return AuditSettings::TrailPathIn(folder.isEmpty() ? g_auditStartFolder : folder);
}

QString CliAudit::AsFoundFolder()
{
    const QString folder = AuditSettings::AsFoundFolder();
    return folder.isEmpty() ? g_auditStartFolder : folder;
}

namespace {
void AuditSay(const QString &text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char('\n'), QStringLiteral("\ntarvik-cli: "));
    std::fprintf(stderr, "tarvik-cli: %s\n", t.toLocal8Bit().constData());
}
} // namespace

CliAudit::CliAudit(const CliArgs &args)
{
    // A registered ID gives its name; anything else is taken as the name itself; none, the
    // operator of the settings.
    const QString given = args.Value(QStringLiteral("--operator")).trimmed();
    const QString registered = OperatorIds::NameOf(given);
    m_operator = registered.isEmpty() ? given : registered;
}

AuditRecord CliAudit::Record(const QString &action) const
{
    return AuditRecord::Now(action, m_operator);
}

void CliAudit::Describe(AuditRecord &record, MeterSeriesModel &file, const QString &path)
{
    record.series = file.Name();
    // The firmware as a meter told it; a file opened with no meter leaves it to the trail.
    record.firmware = AuditRecord::FirmwareText(file.Firmware());
    record.serial = file.Serial().trimmed();
    if (!path.isEmpty()) {
        record.file = QFileInfo(path).absoluteFilePath();
        record.sha256 = AuditLog::Sha256Of(path);
    }
}

bool CliAudit::Append(const AuditRecord &record) const
{
    const AuditLog trail(TrailPath());
    AuditRecord completed = record;
    trail.CompleteMeter(completed);
    QString error;
    if (trail.Append(completed, &error))
        return true;
    AuditSay(error
        + QStringLiteral("\nThe %1 itself went on; this line is not in the trail.")
              .arg(record.action));
    return false;
}

bool CliAudit::Confirm(const QString &question, CliSignals &signals)
{
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
    QByteArray answer;
    if (!signals.ReadLine(&answer)) {
        std::fputc('\n', stderr);
        return false;
    }
    const QString a = QString::fromLocal8Bit(answer).trimmed().toLower();
    return a == QLatin1String("y") || a == QLatin1String("yes");
}

int CliAudit::Report(const CliArgs &args, const QString &pdf, const QString &pdfPath) const
{
    const bool text = args.Has(QStringLiteral("--text"));
    if (args.Plain().size() != 1 || (!text && !args.Has(QStringLiteral("--pdf")))) {
        AuditSay(QStringLiteral("report takes one serial number and --pdf OUT (or --text)."));
        return 2;
    }
    const QString serial = args.Plain().at(0).trimmed();
    const AuditLog trail(TrailPath());
    const AuditLog::Loaded loaded = trail.Load();
    if (!loaded.error.isEmpty()) {
        AuditSay(loaded.error);
        return 2;
    }
    if (loaded.skipped > 0)
        AuditSay(QStringLiteral("%1 line(s) of %2 are no whole record and were passed over.")
                     .arg(loaded.skipped)
                     .arg(trail.Path()));
    const std::vector<ChangeReport::Visit> visits = ChangeReport::Visits(loaded.records, serial);
    if (visits.empty()) {
        AuditSay(QStringLiteral("The audit trail %1 holds no send to the meter %2.")
                     .arg(trail.Path(), serial));
        return 2;
    }
    if (args.Has(QStringLiteral("--pdf"))) {
        const bool written = SheetPdf::WritePages(
            pdfPath, int(visits.size()),
            [&visits](int i, const SheetMetrics &metrics) {
                return ChangeReport::Page(visits.at(size_t(i)), metrics);
            },
            SheetPdf::DefaultLayout(), QStringLiteral("Change report %1").arg(serial));
        if (!written) {
            AuditSay(QStringLiteral("The change report could not be written to %1.").arg(pdf));
            return 2;
        }
        if (!text)
            std::fprintf(stdout, "%s\n", pdf.toLocal8Bit().constData());
    }
    if (text)
        for (const ChangeReport::Visit &visit : visits)
            std::fprintf(stdout, "%s\n\f\n",
                ChangeReport::Page(visit, SheetMetrics {})
                    .Texts()
                    .join(QLatin1Char('\n'))
                    .toLocal8Bit()
                    .constData());
    std::fflush(stdout);
    return 0;
}

#include "audit/AuditLog.h"

#include "link/AppendOnlyFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>

#include <vector>

namespace {
QString AuditCsvCell(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

AuditLog::AuditLog(QString path)
    : m_path(std::move(path))
{
}

std::function<void(const QString &)> &AuditLog::AppendedHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

void AuditLog::SetAppendedHook(std::function<void(const QString &)> hook)
{
    AppendedHook() = std::move(hook);
}

bool AuditLog::Append(const AuditRecord &record, QString *error) const
{
    AuditRecord stamped = record;
    if (stamped.lineId.isEmpty())
        stamped.lineId = AuditRecord::NewLineId();
    const AppendOnlyFile::Result result = AppendOnlyFile::Append(m_path, stamped.ToJsonLine());
    using Failed = AppendOnlyFile::Result::Failed;
    switch (result.failed) {
    case Failed::Nothing:
        if (AppendedHook())
            AppendedHook()(m_path);
        return true;
    case Failed::Open:
        *error = QStringLiteral("The audit trail %1 cannot be written: %2.")
                     .arg(m_path, result.reason);
        break;
    case Failed::Write:
        *error
            = QStringLiteral("The audit trail %1 could not take the record: %2.")
                  .arg(m_path,
                      !result.reason.isEmpty() ? result.reason
                                               : QStringLiteral("only %1 of %2 bytes were written")
                                                     .arg(result.written)
                                                     .arg(result.size));
        if (result.partLeft)
            *error += QStringLiteral(" The part written could not be taken back.");
        break;
    case Failed::Sync:
        *error = QStringLiteral("The audit trail %1 could not be saved to disk: %2.")
                     .arg(m_path, result.reason);
        break;
    }
    return false;
}

AuditLog::Loaded AuditLog::Load() const
{
    Loaded loaded;
    QFile file(m_path);
    if (!file.exists())
        return loaded;
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("The audit trail %1 cannot be read: %2.")
                           .arg(m_path, file.errorString());
        return loaded;
    }
    const QByteArray all = file.readAll();
    for (const QByteArray &line : all.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (auto record = AuditRecord::FromJson(line))
            loaded.records.push_back(std::move(*record));
        else
            ++loaded.skipped;
    }
    return loaded;
}

std::vector<AuditRecord> AuditLog::Filter(
    const std::vector<AuditRecord> &records, const QString &serial, QDate from, QDate to)
{
    std::vector<AuditRecord> kept;
    for (const AuditRecord &r : records) {
        const QDate day = r.time.date();
        if (!serial.trimmed().isEmpty() && r.serial.trimmed() != serial.trimmed())
            continue;
        if ((from.isValid() && day < from) || (to.isValid() && day > to))
            continue;
        kept.push_back(r);
    }
    return kept;
}

QString AuditLog::Csv(const std::vector<AuditRecord> &records)
{
    QString out = QStringLiteral("time,operator,account,computer,version,action,series,model,"
                                 "firmware,serial,file,sha256,as_found,result,message,caption,id,"
                                 "before,after\n");
    for (const AuditRecord &r : records) {
        QStringList head { AuditRecord::TimeText(r.time), r.operatorName, r.account, r.computer,
            r.version, r.action, r.series, r.model, r.firmware, r.serial, r.file, r.sha256,
            r.asFound, r.result, r.message };
        for (QString &cell : head)
            cell = AuditCsvCell(cell);
        const QString lead = head.join(QLatin1Char(','));
        if (r.changes.empty())
            out += lead + QStringLiteral(",,,,\n");
        for (const AuditRecord::Change &c : r.changes)
            out += lead
                + QStringLiteral(",%1,%2,%3,%4\n")
                      .arg(AuditCsvCell(c.caption))
                      .arg(c.id)
                      .arg(AuditCsvCell(c.before), AuditCsvCell(c.after));
    }
    return out;
}

bool AuditLog::WriteCsv(
    const QString &path, const std::vector<AuditRecord> &records, QString *error)
{
    QSaveFile file(path);
    const QByteArray bytes = Csv(records).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("Could not write %1: %2. The file on disk was left as it was.")
                     .arg(path, file.errorString());
        return false;
    }
    return true;
}

void AuditLog::CompleteMeter(AuditRecord &record) const
{
    const QString serial = record.serial.trimmed();
    if (serial.isEmpty() || (!record.model.isEmpty() && !record.firmware.isEmpty()))
        return;
    const std::vector<AuditRecord> records = Load().records;
    bool model = record.model.isEmpty(), firmware = record.firmware.isEmpty();
    for (auto r = records.rbegin(); r != records.rend() && (model || firmware); ++r) {
        if (r->serial.trimmed() != serial || r->series != record.series)
            continue;
        if (model && !r->model.isEmpty()) {
            record.model = r->model;
            model = false;
        }
        if (firmware && !AuditRecord::FirmwareText(r->firmware).isEmpty()) {
            record.firmware = AuditRecord::FirmwareText(r->firmware);
            firmware = false;
        }
    }
}

QString AuditLog::Sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

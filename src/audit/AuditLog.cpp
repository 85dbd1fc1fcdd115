#include "audit/AuditLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <vector>

#ifdef _WIN32
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifndef _WIN32
QString AuditSystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
#endif

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

QString AuditLog::PathIn(const QString &folder)
{
    const QDir dir(folder.isEmpty() ? QDir::currentPath() : folder);
    return dir.filePath(QString::fromLatin1(kFileName));
}

#ifdef _WIN32
QString AuditLog::ProcessAccount()
{
    wchar_t name[257] = {};
    DWORD size = DWORD(std::size(name));
    return GetUserNameW(name, &size) ? QString::fromWCharArray(name) : QString();
}

bool AuditLog::Append(const AuditRecord &record, QString *error) const
{
    // Windows: one unbuffered write of the whole line in append mode, then committed.
    QFile file(m_path);
    QByteArray line = record.ToJsonLine();
    if (file.exists() && file.size() > 0 && file.open(QIODevice::ReadOnly)) {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n")
            line.prepend('\n');
        file.close();
    }
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("The audit trail %1 cannot be written: %2.")
                     .arg(m_path, file.errorString());
        return false;
    }
    if (file.write(line) != line.size() || _commit(file.handle()) != 0) {
        *error = QStringLiteral("The audit trail %1 could not take the record: %2.")
                     .arg(m_path, file.errorString());
        return false;
    }
    return true;
}
#else
QString AuditLog::ProcessAccount()
{
    const uid_t uid = ::geteuid();
    std::vector<char> buffer(16384);
    struct passwd entry
    {
    };
    struct passwd *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

bool AuditLog::Append(const AuditRecord &record, QString *error) const
{
    const QByteArray encoded = QFile::encodeName(m_path);
    // Read as well as append: the last byte is looked at before the line goes on.
    const int fd = ::open(encoded.constData(), O_RDWR | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        *error = QStringLiteral("The audit trail %1 cannot be written: %2.")
                     .arg(m_path, AuditSystemError(errno));
        return false;
    }
    QByteArray line = record.ToJsonLine();
    // A line cut short by a crash is closed first, so that this record stands on a line of its
    // own and only the cut line is lost to a reader.
    struct stat st
    {
    };
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && S_ISREG(st.st_mode)) {
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            line.prepend('\n');
    }
    const off_t start = S_ISREG(st.st_mode) ? st.st_size : 0;
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    const int writeError = errno;
    bool ok = written == line.size();
    if (!ok) {
        *error = QStringLiteral("The audit trail %1 could not take the record: %2.")
                     .arg(m_path,
                         written < 0 ? AuditSystemError(writeError)
                                     : QStringLiteral("only %1 of %2 bytes were written")
                                           .arg(written)
                                           .arg(line.size()));
        // A part of the line (a full disk): taken back when nobody appended after it, so the
        // file stays whole lines.
        struct stat now
        {
        };
        if (written > 0 && S_ISREG(st.st_mode) && ::fstat(fd, &now) == 0
            && now.st_size == start + written && ::ftruncate(fd, start) != 0)
            *error += QStringLiteral(" The part written could not be taken back.");
    } else if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        // EINVAL: a device that cannot be synced (a character device) holds nothing to lose.
        *error = QStringLiteral("The audit trail %1 could not be saved to disk: %2.")
                     .arg(m_path, AuditSystemError(errno));
        ok = false;
    }
    ::close(fd);
    return ok;
}
#endif

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

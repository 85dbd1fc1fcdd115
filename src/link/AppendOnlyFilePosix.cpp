#include "link/AppendOnlyFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString AppendSystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

AppendOnlyFile::Result AppendOnlyFile::Append(const QString &path, QByteArray line)
{
    Result result;
    const QByteArray encoded = QFile::encodeName(path);
    // Read as well as append: the last byte is looked at before the line goes on.
    const int fd = ::open(encoded.constData(), O_RDWR | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        result.failed = Result::Failed::Open;
        result.reason = AppendSystemError(errno);
        return result;
    }
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
    result.size = line.size();
    if (written != line.size()) {
        result.failed = Result::Failed::Write;
        if (written < 0) {
            result.reason = AppendSystemError(writeError);
        } else {
            result.written = written;
            // Taken back when nobody appended after it, so the file stays whole lines.
            struct stat now
            {
            };
            result.partLeft = written > 0 && S_ISREG(st.st_mode) && ::fstat(fd, &now) == 0
                && now.st_size == start + written && ::ftruncate(fd, start) != 0;
        }
    } else if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        // EINVAL: a device that cannot be synced (a character device) holds nothing to lose.
        result.failed = Result::Failed::Sync;
        result.reason = AppendSystemError(errno);
    }
    ::close(fd);
    return result;
}

QString AppendOnlyFile::AccountName()
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

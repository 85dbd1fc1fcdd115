#include "link/AppendOnlyFile.h"

#include <QFile>

#include <iterator>

#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

AppendOnlyFile::Result AppendOnlyFile::Append(const QString &path, QByteArray line)
{
    // One unbuffered write of the whole line in append mode, then committed.
    Result result;
    QFile file(path);
    if (file.exists() && file.size() > 0 && file.open(QIODevice::ReadOnly)) {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n")
            line.prepend('\n');
        file.close();
    }
    result.size = line.size();
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered)) {
        result.failed = Result::Failed::Open;
        result.reason = file.errorString();
        return result;
    }
    if (file.write(line) != line.size() || _commit(file.handle()) != 0) {
        result.failed = Result::Failed::Write;
        result.reason = file.errorString();
    }
    return result;
}

QString AppendOnlyFile::AccountName()
{
    wchar_t name[257] = {};
    DWORD size = DWORD(std::size(name));
    return GetUserNameW(name, &size) ? QString::fromWCharArray(name) : QString();
}

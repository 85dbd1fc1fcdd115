#include "datalog/LogFileWriter.h"

#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace {
std::filesystem::path FsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}
} // namespace

const char *const LogFileWriter::kCreateErrorText = "Could Not Create File";
const char *const LogFileWriter::kCreateErrorTitle = "               File Creation Error";
const char *const LogFileWriter::kWriteErrorText = "Could Not Write To Log File\n  Logging Stopped";
const char *const LogFileWriter::kDatalogErrorTitle = "        Datalog Error";

bool LogFileWriter::Create(const QString &path)
{
    Close();
    m_path = path;
    m_failed = false;
    if (path.isEmpty())
        return false;
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void LogFileWriter::Write(const QByteArray &text)
{
    if (!m_file.isOpen() || m_failed)
        return;
    QByteArray out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (const char c : text) {
        if (c == '\n')
            out += "\r\n";
        else if (c != '\0')
            out += c;
    }
    if (m_file.write(out) != out.size())
        m_failed = true;
}

bool LogFileWriter::Commit()
{
    if (!m_file.isOpen())
        return false;
    if (!m_failed && (!m_file.flush() || !QFileInfo::exists(m_path)))
        m_failed = true;
    return !m_failed;
}

void LogFileWriter::Close()
{
    if (m_file.isOpen()) {
        if (!m_file.flush())
            m_failed = true;
        m_file.close();
    }
}

QString LogFileWriter::PartialName(const QString &path)
{
    if (path.endsWith(QLatin1String(".log"), Qt::CaseInsensitive))
        return path.left(path.size() - 4) + QStringLiteral(".partial.log");
    return path + QStringLiteral(".partial.log");
}

bool LogFileWriter::WritesInPlace(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isFile() && !info.isDir();
}

bool LogFileWriter::Replace(const QString &from, const QString &to, QString *error)
{
    const QFileInfo target(to);
    if (target.exists() && !target.isWritable()) {
        *error = QStringLiteral("%1 is read-only.").arg(to);
        return false;
    }
    // rename(2) replaces an existing file in one step; on Windows the library asks for the
    // replacement explicitly.
    std::error_code code;
    std::filesystem::rename(FsPath(from), FsPath(to), code);
    if (code) {
        *error = QString::fromLocal8Bit(code.message().c_str());
        return false;
    }
    return true;
}

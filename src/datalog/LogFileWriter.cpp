#include "datalog/LogFileWriter.h"

#include <QFileInfo>

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

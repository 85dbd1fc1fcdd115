#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// tarvik-metersim in its Modbus mode for a test: started with the given switches after
// "--modbus", its pseudo-terminal path read from its first output line, ended with SIGTERM.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments);
    ~SimProcess();
    bool Ok() const { return !m_path.isEmpty(); }
    QString Path() const { return m_path; }
    qint64 Pid() const { return m_process.processId(); }
    // Sends SIGTERM and waits; true when the simulator ended by itself with exit code 0.
    bool Stop();

private:
    QProcess m_process;
    QString m_path;
};

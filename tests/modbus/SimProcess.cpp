#include "SimProcess.h"

#include "support/TestEnv.h"

SimProcess::SimProcess(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(
        TestEnv::MeterSimPath(), QStringList { QStringLiteral("--modbus") } + arguments);
    if (!m_process.waitForStarted(5000))
        return;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(5000))
            return;
    }
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

SimProcess::~SimProcess()
{
    Stop();
}

bool SimProcess::Stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

#include "lists/CSerialMeterLink.h"

#include "link/CSerial.h"
#include "link/SerialDevice.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <algorithm>

void CSerialMeterLink::PurgeInput()
{
    if (m_serial)
        m_serial->PurgeInput();
}

int CSerialMeterLink::SendCommand(const QByteArray &text)
{
    return m_serial ? m_serial->SendCommand(text) : 0;
}

int CSerialMeterLink::SendCommandReporting(
    const QByteArray &text, const std::function<void(int sent)> &progress)
{
    return m_serial ? m_serial->SendCommand(text, progress) : 0;
}

void CSerialMeterLink::SendDetached(const QByteArray &text)
{
    if (m_serial)
        m_serial->SendCommandDetached(text);
}

void CSerialMeterLink::ReadAll(QByteArray &reply, int intervalMs, int totalConstantMs)
{
    if (m_serial)
        m_serial->ReadAll(reply, intervalMs, totalConstantMs);
    else
        reply.clear();
}

int CSerialMeterLink::GuardMs(int baud)
{
    if (baud <= 0)
        return 10;
    return std::max(2, (4 * 10 * 1000 + baud - 1) / baud);
}

void CSerialMeterLink::ReadReply(
    QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
{
    reply.clear();
    if (!m_serial)
        return;
    // The same bounds as ReadAll: the interval between bytes, and a total of so many ms per
    // byte of the buffer plus the caller's constant.
    const qint64 totalMs
        = qint64(m_serial->Timing().readMsPerByte) * CSerial::kBufferSize + totalConstantMs;
    const int guardMs = GuardMs(SerialDevice::SpeedFromText(m_serial->BaudText().toStdString()));
    QElapsedTimer clock;
    clock.start();
    qint64 lastByteAt = -1;
    bool terminated = false;
    while (reply.size() < CSerial::kBufferSize) {
        const qint64 now = clock.elapsed();
        qint64 wait = totalMs - now;
        if (lastByteAt >= 0 && intervalMs > 0)
            wait = std::min(wait, lastByteAt + intervalMs - now);
        if (terminated)
            wait = std::min(wait, lastByteAt + guardMs - now);
        if (wait <= 0)
            break;
        if (!m_serial->WaitForInput(int(std::min<qint64>(wait, 1000))))
            continue;
        unsigned char byte = 0;
        bool got = false;
        while (reply.size() < CSerial::kBufferSize && m_serial->ReadByte(&byte)) {
            reply.append(char(byte));
            got = true;
            if (char(byte) == terminator)
                terminated = true;
        }
        if (got)
            lastByteAt = clock.elapsed();
        else if (!m_serial->IsEnabled() || !m_serial->IsOpen())
            break; // nothing can come
    }
    // Whatever follows the reply (echoes, a late second answer) would spoil the next exchange.
    if (!reply.isEmpty())
        m_serial->PurgeInput();
}

Task<int> CSerialMeterLink::SendCommandAsync(
    DialogueRunner &runner, const QByteArray &text, const std::function<void(int sent)> &progress)
{
    if (!m_serial)
        co_return 0;
    co_return co_await m_serial->SendCommandAsync(runner, text, progress);
}

Task<void> CSerialMeterLink::ReadReplyAsync(
    DialogueRunner &runner, QByteArray &reply, int intervalMs, int totalConstantMs, char terminator)
{
    reply.clear();
    if (!m_serial)
        co_return;
    if (!terminator) {
        co_await m_serial->ReadAllAsync(runner, reply, intervalMs, totalConstantMs);
        co_return;
    }
    // ReadReply's bounds and ending, each wait handed back to the event loop.
    const QDeadlineTimer total(
        qint64(m_serial->Timing().readMsPerByte) * CSerial::kBufferSize + totalConstantMs);
    const int guardMs = GuardMs(SerialDevice::SpeedFromText(m_serial->BaudText().toStdString()));
    QDeadlineTimer end = total;
    while (reply.size() < CSerial::kBufferSize && !runner.Cancelled()) {
        const qint64 wait = end.remainingTime();
        if (wait <= 0)
            break;
        if (!co_await m_serial->InputWithin(runner, int(std::min<qint64>(wait, 1000)))) {
            if (!m_serial->IsEnabled() || !m_serial->IsOpen())
                break; // nothing can come
            continue;
        }
        unsigned char byte = 0;
        bool got = false;
        while (reply.size() < CSerial::kBufferSize && m_serial->ReadByte(&byte)) {
            reply.append(char(byte));
            got = true;
        }
        if (!got)
            continue;
        // After a byte: the interval between bytes bounds the wait, and once the terminator has
        // come, the short quiet guard does.
        end = total;
        if (intervalMs > 0 && QDeadlineTimer(intervalMs).deadline() < end.deadline())
            end = QDeadlineTimer(intervalMs);
        if (reply.contains(terminator) && QDeadlineTimer(guardMs).deadline() < end.deadline())
            end = QDeadlineTimer(guardMs);
    }
    if (!reply.isEmpty())
        m_serial->PurgeInput();
}

Task<void> CSerialMeterLink::PauseAsync(DialogueRunner &runner, int ms)
{
    co_await runner.Sleep(ms);
}

SerialPort *CSerialMeterLink::Port() const
{
    return m_serial;
}

bool CSerialMeterLink::Reachable() const
{
    return m_serial && m_serial->IsEnabled() && m_serial->IsOpen();
}

QString CSerialMeterLink::Unreachable() const
{
    if (Reachable())
        return QString();
    return m_serial ? m_serial->NotOpenText() : QStringLiteral("No meter port is set up.");
}

#include "link/CSerial.h"

#include "base/DialogueRunner.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cmath>
#include <utility>

CSerial::CSerial(const QString &deviceName, const LinkTiming &timing)
    : SerialPort(deviceName, timing)
{
}

// A detached send still running is finished before the port closes with the link.
CSerial::~CSerial()
{
    FinishDetached();
}

bool CSerial::DetachedRunning() const
{
    return m_detached && m_detached->IsRunning();
}

Task<bool> CSerial::AnswersAsync(DialogueRunner &runner, QByteArray *screen)
{
    QByteArray drawn;
    PurgeInput();
    co_await SendStringAsync(runner, QByteArrayLiteral("[[[[[[["));
    // A meter that has not begun its screen within 3 s is not there: a read's own total
    // time-out (some 15 s of silence) is for replies under way.
    const bool answered = co_await InputWithin(runner, kPresenceMs);
    if (answered)
        co_await ReadAllAsync(runner, drawn, 400, 3000);
    if (screen)
        *screen = drawn;
    if (runner.Cancelled()) {
        // Cut after the greeting went out: back to run mode all the same.
        if (runner.BeginWindUp()) {
            co_await SendStringAsync(runner, QByteArrayLiteral("r"));
            runner.EndWindUp();
        }
        co_return answered;
    }
    if (!answered)
        co_return false;
    co_await SendStringAsync(runner, QByteArrayLiteral("r"));
    QByteArray rest;
    if (co_await InputWithin(runner, 300))
        co_await ReadAllAsync(runner, rest, 100, 300);
    co_return true;
}

QString CSerial::SilentText() const
{
    return QStringLiteral("Meter did not answer: nothing came from the meter on %1 at %2 baud "
                          "within %3 s (is it connected, powered and set to that speed?).")
        .arg(PortText(), BaudText())
        .arg(kPresenceMs / 1000);
}

int CSerial::DropPending(int max, bool *output)
{
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    int count = 0;
    unsigned char byte = 0;
    while (
        (max < 0 || count < max) && m_device.PendingInput() > 0 && m_device.ReadNow(&byte) == 1) {
        ++count;
        if (byte != '\'')
            *output = true;
    }
    return count;
}

Task<void> CSerial::DrainAsync(
    DialogueRunner &runner, int bytes, int quietMs, std::function<void(int left)> progress)
{
    const QDeadlineTimer drainEnd(kDrainMaxMs);
    QDeadlineTimer quiet(quietMs);
    for (int left = bytes; left != 0;) {
        if (progress && left > 0)
            progress(left);
        const qint64 wait = std::min(quiet.remainingTime(), drainEnd.remainingTime());
        if (wait <= 0 || !co_await InputWithin(runner, int(wait)))
            break;
        if (!co_await LockWithin(runner))
            break;
        bool output = false;
        const int dropped = DropPending(left, &output);
        m_lock.Release();
        if (left > 0)
            left -= dropped;
        // Once a log has ended the meter sends an apostrophe every 250 ms for some 10 s: a line
        // carrying only those is quiet. A log of known length counts every byte instead.
        if (output || (bytes >= 0 && dropped > 0))
            quiet.setRemainingTime(quietMs);
    }
}

void CSerial::SendCommandDetached(QByteArray text, int drainQuietMs, int drainBytes)
{
    if (!IsOpen() || !FreeFor(this) || DetachedRunning() || text.isEmpty())
        return;
    if (!m_detached)
        m_detached = std::make_unique<DialogueRunner>();
    m_detachedLeft = text.left(kDetachedMaxBytes);
    // A lambda without captures: its parameters live in the coroutine's frame. The bytes go out
    // from m_detachedLeft, one at a time, so FinishDetached knows what is left.
    m_detached->Start(
        [](CSerial *link, int quietMs, int logBytes) -> Task<void> {
            // Asked to stop (the port is about to be set up anew), the send hurries: a Cancel
            // ends the drain's wait, and the bytes then go out paced as a wind-up.
            const Claim claim(link, link, [link] { link->HurryDetached(); });
            DialogueRunner &runner = *link->m_detached;
            link->m_detachedDraining = quietMs > 0;
            if (quietMs > 0)
                co_await link->DrainAsync(runner, logBytes, quietMs);
            link->m_detachedDraining = false;
            runner.BeginWindUp(); // after a hurry's Cancel, the pauses run their length again
            while (!link->m_detachedLeft.isEmpty()) {
                const int byte = static_cast<unsigned char>(link->m_detachedLeft.front());
                link->m_detachedLeft.remove(0, 1);
                link->WriteByte(byte);
                if (link->m_gone)
                    break;
                co_await runner.Sleep(link->PacingMs(kSendCommandPacingMs));
            }
            link->m_detachedLeft.clear();
        }(this, drainQuietMs, drainBytes),
        [this] {
            // Whoever waited for the port (Settings, the program's exit) goes on now. A callback
            // may close the port or start another detached send: the list is taken first.
            for (const std::function<void()> &then : std::exchange(m_afterDetached, {}))
                then();
        });
}

void CSerial::HurryDetached()
{
    // Only the drain is cut short: a pause between two bytes of the command runs its length.
    if (DetachedRunning() && m_detachedDraining)
        m_detached->Cancel();
}

void CSerial::WhenDetachedEnds(std::function<void()> then)
{
    if (DetachedRunning())
        m_afterDetached.push_back(std::move(then));
    else
        then();
}

void CSerial::AfterDetached(std::function<void()> then)
{
    HurryDetached();
    WhenDetachedEnds(std::move(then));
}

void CSerial::FinishDetached()
{
    if (!DetachedRunning())
        return;
    const QByteArray left = std::exchange(m_detachedLeft, QByteArray());
    // The suspended send goes, releasing its claim. With no event loop to pace them, the bytes
    // left go out at once: better a command the meter may take than none. The program itself
    // waits for the send before it closes the port or ends, so this is a last resort.
    m_detached->Abort();
    m_detachedDraining = false;
    if (IsOpen()) {
        for (const char c : left) {
            if (!WriteByte(static_cast<unsigned char>(c)))
                break;
        }
    }
    // Those who waited go on from the event loop, after the close or reopen under way (a
    // destroyed link drops them with its runner).
    for (std::function<void()> &then : std::exchange(m_afterDetached, {}))
        QMetaObject::invokeMethod(m_detached.get(), std::move(then), Qt::QueuedConnection);
}

SerialDevice::Format CSerial::LineFormat() const
{
    SerialDevice::Format format;
    format.parity = SerialDevice::Parity::None;
    format.stopBits = 1;
    format.setModemLines = true;
    return format;
}

void CSerial::ReopenPort()
{
    Reopen(QStringLiteral("Can't Open RS232 Communication port"));
}

int CSerial::WriteByte(int byte)
{
    if (!m_enabled || !ReviveIfGone() || !m_device.IsOpen())
        return 0;
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    const char c = static_cast<char>(byte & 0xFF);
    if (m_device.Write(&c, 1))
        return 1;
    NoteGone();
    return 0;
}

int CSerial::PacingMs(int ms) const
{
    return int(std::lround(ms * m_timing.pacingScale));
}

Task<void> CSerial::ReadAllAsync(
    DialogueRunner &runner, QByteArray &reply, int intervalMs, int totalConstantMs)
{
    m_device.SetWriteTimeouts(10, 10);
    reply.clear();
    // The reply's bounds: the buffer's size, the gap after a byte and the total time-out.
    const QDeadlineTimer total(qint64(m_timing.readMsPerByte) * kBufferSize + totalConstantMs);
    QDeadlineTimer gap = QDeadlineTimer::Forever;
    if (!ReviveIfGone())
        co_return;
    while (reply.size() < kBufferSize && !runner.Cancelled()) {
        if (!m_device.IsOpen())
            co_return; // a closed (or gone) device: nothing more can come
        const qint64 left = gap.isForever() ? total.remainingTime()
                                            : std::min(total.remainingTime(), gap.remainingTime());
        if (left <= 0)
            break;
        if (!co_await InputWithin(runner, int(std::min<qint64>(left, 1000))))
            continue;
        if (!co_await LockWithin(runner))
            break;
        bool got = false;
        unsigned char byte = 0;
        while (reply.size() < kBufferSize && m_device.PendingInput() > 0
            && m_device.ReadNow(&byte) == 1) {
            reply.append(char(byte));
            got = true;
        }
        m_lock.Release();
        if (got && intervalMs > 0)
            gap.setRemainingTime(intervalMs);
    }
    // Whatever follows the reply (echoes, a late second answer) would spoil the next exchange.
    if (!reply.isEmpty())
        PurgeInput();
}

Task<int> CSerial::SendStringAsync(DialogueRunner &runner, QByteArray text)
{
    if (text.isEmpty())
        co_return 0;
    if (!co_await ConnectedAsync(runner))
        co_return 0;
    PendingCount(0);
    int result = 0;
    for (const char c : text) {
        co_await runner.Sleep(PacingMs(kSendStringPacingMs));
        if (runner.Cancelled())
            co_return 0;
        if (!ReviveIfGone())
            co_return 0;
        if (!m_device.IsOpen()) {
            result = 0; // nothing to write to, and no lock to take on its name
            continue;
        }
        if (!co_await LockWithin(runner))
            co_return 0;
        result = m_device.Write(&c, 1) ? 1 : 0;
        m_lock.Release();
        if (!result && NoteGone())
            co_return 0; // the rest would only fail too
    }
    co_return result;
}

Task<int> CSerial::SendCommandAsync(
    DialogueRunner &runner, QByteArray text, std::function<void(int sent)> progress)
{
    if (!m_enabled || text.isEmpty())
        co_return 0;
    if (!co_await ConnectedAsync(runner))
        co_return 0;
    int result = 0;
    int sent = 0;
    for (const char c : text) {
        if (runner.Cancelled())
            co_return 0;
        const bool open = IsOpen(); // else WriteByte opens a gone port, or sends nothing
        if (open && !co_await LockWithin(runner))
            co_return 0;
        result = WriteByte(static_cast<unsigned char>(c));
        if (open)
            m_lock.Release();
        if (m_gone)
            co_return 0; // the rest would only fail too
        // Told as soon as the byte is out: a dialogue destroyed in the pause still knows it went.
        if (progress)
            progress(++sent);
        co_await runner.Sleep(PacingMs(kSendCommandPacingMs));
    }
    co_return result;
}

Task<bool> CSerial::ReadUntilAsync(
    DialogueRunner &runner, QDeadlineTimer deadline, std::function<bool(unsigned char)> done)
{
    unsigned char byte = 0;
    while (co_await ReadByteBy(runner, &byte, deadline) == 1) {
        if (done(byte))
            co_return true;
    }
    co_return false;
}

Task<bool> CSerial::WaitForByteAsync(
    DialogueRunner &runner, unsigned char wanted, QDeadlineTimer deadline)
{
    return ReadUntilAsync(runner, deadline, [wanted](unsigned char b) { return b == wanted; });
}

Task<bool> CSerial::CollectWordAsync(
    DialogueRunner &runner, QByteArray *word, int maxKept, QDeadlineTimer deadline)
{
    return ReadUntilAsync(runner, deadline, [word, maxKept](unsigned char b) {
        if (b == ' ')
            return true;
        if (word->size() < maxKept)
            word->append(char(b));
        return false;
    });
}

#include "link/SerialPort.h"

#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/UserMessage.h"
#include "link/NetPortText.h"

#include <QStringList>

#include <algorithm>

SerialPort::SerialPort(const QString &deviceName, const LinkTiming &timing)
    : m_timing(timing)
    , m_lock(deviceName)
    , m_portText(deviceName)
{
}

SerialPort::~SerialPort()
{
    // Dialogues waiting for their turn learn that the port is gone; claims and subscriptions
    // that outlive it find nothing.
    Detach();
    if (m_device.IsOpen()) {
        // Input only: what was written (a wind-up sent just before) still goes to the meter.
        m_device.PurgeInput();
        m_device.Close();
    }
}

Task<bool> SerialPort::LockWithin(DialogueRunner &runner)
{
    if (m_lock.Acquire())
        co_return true;
    // Another program holds it for a moment (its open of this device failing, or an operation
    // of its own): waited for between the event loop's turns.
    const std::weak_ptr<const void> alive = Lifetime();
    const QDeadlineTimer deadline(std::max(m_timing.lockWaitMs, 0));
    for (;;) {
        if (deadline.hasExpired()) {
            m_lastError = LockBusyText();
            co_return false;
        }
        co_await runner.Sleep(int(std::min<qint64>(deadline.remainingTime(), kLockRetryMs)));
        if (alive.expired() || runner.Cancelled())
            co_return false;
        if (m_lock.Acquire())
            co_return true;
    }
}

Task<int> SerialPort::OpenPortAsync(DialogueRunner &runner)
{
    if (!co_await LockWithin(runner))
        co_return 0;
    const int opened = OpenPort();
    m_lock.Release();
    co_return opened;
}

int SerialPort::OpenPort(int /*unusedSpeed*/)
{
    if (m_device.IsOpen())
        BeforeClose();
    PortLock::Hold hold(m_lock);
    if (!hold.Held()) {
        m_lastError = LockBusyText();
        return 0;
    }
    m_device.PurgeInput(); // the output (a wind-up) still goes, as at ClosePort
    m_device.Close();
    m_gone = false;
    m_goneForGood = false;
    if (!TakesModbusTcp()
        && NetPortText::Parse(m_portText.toStdString()).kind == NetPortText::Kind::ModbusTcp) {
        m_lastError = QStringLiteral("\"%1\": Modbus TCP is for the Modbus port only (a meter "
                                     "takes tcp://HOST:PORT or rfc2217://HOST:PORT)")
                          .arg(m_portText);
        return 0;
    }
    if (!m_device.Open(m_portText.toStdString())) {
        m_lastError = QString::fromStdString(m_device.LastError());
        return 0;
    }
    SerialDevice::Format format = LineFormat();
    format.speed = SerialDevice::SpeedFromText(m_baudText.toStdString());
    if (format.speed <= 0 || !m_device.Configure(format)) {
        // A port left open with the wrong settings would still take the operations that ignore
        // the enabled flag (SendStringAsync, ReadAllAsync) and keep other programs out: close it.
        m_lastError = format.speed <= 0
            ? QStringLiteral("%1: \"%2\" is not a baud rate")
                  .arg(QString::fromStdString(m_device.Path()), m_baudText)
            : QString::fromStdString(m_device.LastError());
        m_device.Close();
        return 0;
    }
    // Write time-out 1 ms per byte + 1 ms. Read time-outs are given by each timed read; ReadByte
    // never waits. The kernel fixes the queue sizes (4 KB each way), so kBufferSize and
    // kTransmitQueue have nothing to set here.
    m_device.SetWriteTimeouts(1, 1);
    m_lastError.clear();
    MarkLineErrors();
    PortChanged();
    return 1;
}

QString SerialPort::LockBusyText() const
{
    const QString holder = m_lock.Holder();
    return holder.isEmpty()
        ? QStringLiteral("%1: the port lock %2 stayed busy (another program is using it)")
              .arg(m_portText, m_lock.LockFilePath())
        : QStringLiteral("%1: the port lock stayed busy: in use by %2").arg(m_portText, holder);
}

void SerialPort::SetEnabled(int enabled)
{
    m_enabled = enabled ? 1 : 0;
    PortChanged();
}

void SerialPort::ClosePort()
{
    // Only this object's own descriptor is involved (nobody else can have the device open), so
    // closing needs no lock and cannot be refused.
    if (m_device.IsOpen())
        BeforeClose();
    if (m_device.IsOpen()) {
        // Input only: discarding the output would discard the wind-up BeforeClose just sent
        // wherever the far end has not read it yet (a pseudo-terminal's busy simulator, an
        // adapter's buffer).
        m_device.PurgeInput();
        m_device.Close();
        m_enabled = 0;
    }
    DropHolderLock();
    if (m_opener)
        m_opener->Abort(); // a Reopen still waiting for the lock opens nothing now
    // Closed on purpose: nothing to bring back.
    m_gone = false;
    PortChanged();
}

bool SerialPort::NoteGone()
{
    if (m_gone)
        return true;
    if (!m_device.IsOpen() || !m_device.Gone())
        return false;
    m_gonePath = QString::fromStdString(m_device.Path());
    m_goneReason = m_device.IsNetwork() ? QString::fromStdString(m_device.LastError()) : QString();
    m_goneHolder = m_device.IsNetwork() ? Holder() : nullptr;
    m_goneForGood = !m_device.NameComesBack();
    m_device.Close();
    DropHolderLock();
    m_gone = true;
    m_lastError = GoneText();
    TellGone(m_reader.get());
    return true;
}

bool SerialPort::Revive()
{
    if (!m_gone)
        return m_device.IsOpen();
    if (!m_enabled || m_goneForGood)
        return false;
    const bool network = SerialDevice::IsNetworkText(m_portText.toStdString());
    if (network) {
        if (m_goneHolder && Holder() == m_goneHolder)
            return false;
        if (m_lastNetRevive.isValid() && m_lastNetRevive.elapsed() < kNetReviveMs)
            return false;
        m_lastNetRevive.start();
    }
    // OpenPort clears the mark when it opens; a failed attempt leaves the port gone (and its
    // reason in LastError), to be tried again by the next operation.
    if (OpenPort())
        return true;
    m_gone = true;
    if (network && m_goneReason.isEmpty())
        m_goneReason = m_lastError; // a connection that broke keeps saying so while it is down
    m_lastError = GoneText();
    return false;
}

QString SerialPort::GoneText() const
{
    if (!m_goneReason.isEmpty())
        return m_goneReason;
    return QStringLiteral("%1 is gone: the adapter was unplugged or the device closed")
        .arg(m_gonePath.isEmpty() ? m_portText : m_gonePath);
}

void SerialPort::MarkLineErrors()
{
    if (!m_device.LineErrorCounts(&m_errorsMark))
        m_errorsMark = SerialDevice::LineErrors();
}

QString SerialPort::LineErrorText() const
{
    SerialDevice::LineErrors now;
    if (!m_device.LineErrorCounts(&now))
        return QString::fromStdString(m_device.LineNotice()); // a server that keeps its speed
    // A driver that restarted its counts (a reopened adapter) counts from zero.
    const auto since = [](long count, long mark) { return count >= mark ? count - mark : count; };
    const SerialDevice::LineErrors errors
        = { since(now.framing, m_errorsMark.framing), since(now.parity, m_errorsMark.parity),
              since(now.overrun, m_errorsMark.overrun), since(now.breaks, m_errorsMark.breaks) };
    return LineErrorSentence(errors, SerialDevice::SpeedFromText(m_baudText.toStdString()));
}

QString SerialPort::LineErrorSentence(const SerialDevice::LineErrors &errors, int speed)
{
    QStringList parts;
    const auto add = [&parts](long count, const char *one, const char *many) {
        if (count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
    };
    add(errors.framing, "framing error", "framing errors");
    add(errors.parity, "parity error", "parity errors");
    add(errors.overrun, "overrun", "overruns");
    add(errors.breaks, "break", "breaks");
    if (parts.isEmpty())
        return QString();
    QString list = parts.takeLast();
    if (!parts.isEmpty())
        list = parts.join(QLatin1String(", ")) + QLatin1String(" and ") + list;
    return QStringLiteral("The line to the meter had %1: check the speed (now %2) and the format.")
        .arg(list)
        .arg(speed);
}

void SerialPort::Reopen(const QString &message)
{
    m_enabled = 1;
    if (!m_opener)
        m_opener = std::make_unique<DialogueRunner>();
    m_opener->Abort(); // an earlier Reopen still waiting gives way to this one
    // Runs to its end within Start unless the lock is busy.
    m_opener->Start([](SerialPort *port, QString text) -> Task<void> {
        if (co_await port->OpenPortAsync(*port->m_opener))
            co_return;
        UserMessage::Show(
            text + QLatin1Char('\n') + port->m_lastError, QString::fromLatin1(kAppTitle));
        port->m_enabled = 0;
    }(this, message));
}

QString SerialPort::NotOpenText() const
{
    if (m_gone)
        return GoneText();
    QString text = QStringLiteral("The port %1 is not open, so no meter can be reached.\n"
                                  "Choose a port in View > Settings.")
                       .arg(m_portText);
    if (!m_lastError.isEmpty())
        text += QLatin1Char('\n') + m_lastError;
    return text;
}

void SerialPort::PurgeInput()
{
    if (!ReviveIfGone() || !m_device.IsOpen())
        return;
    PortLock::Hold hold(m_lock);
    if (hold.Held())
        m_device.PurgeInput();
}

int SerialPort::PendingCount(int receiveQueue)
{
    if (!m_device.IsOpen())
        return 0; // no device to count, and no lock taken on a name that may be another's now
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    return receiveQueue ? m_device.PendingInput() : m_device.PendingOutput();
}

int SerialPort::ReadByte(unsigned char *byte)
{
    if (!m_enabled || !ReviveIfGone() || !m_device.IsOpen())
        return 0;
    // One hold of the lock for the count and the read: byte-wise readers call this on every
    // tick, and each hold is two system calls.
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    if (m_device.PendingInput() == 0) {
        // A hung-up device has nothing pending for ever: look, so that a polling reader (the
        // terminal, the datalogger) learns that the port has gone.
        if (m_device.CheckHangUp())
            NoteGone();
        return 0;
    }
    const int got = m_device.ReadNow(byte);
    if (!got)
        NoteGone();
    return got;
}

Task<bool> SerialPort::InputWithin(DialogueRunner &runner, int timeoutMs)
{
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    if (m_enabled && !ReviveIfGone())
        co_return false; // gone: nothing can come, and the caller ends at once
    if (!m_enabled || !m_device.IsOpen()) {
        co_await runner.Sleep(timeoutMs); // a caller's wait loop must not spin on a dead port
        co_return false;
    }
    if (!co_await ConnectedAsync(runner))
        co_return false;
    for (;;) {
        m_device.ArmWait(); // Windows: starts the overlapped read whose event is the handle
        const int left = int(std::max<qint64>(deadline.remainingTime(), 0));
        if (!co_await runner.Readable(m_device.WaitHandle(), left))
            co_return false;
        if (m_device.PendingInput() > 0)
            co_return true;
        // A hung-up device reports itself readable for ever; only a real pending byte counts,
        // and a hang-up ends the wait at once. Readable with nothing pending otherwise (a read
        // outside this wait took the bytes): a short pause keeps this loop from spinning, and the
        // wait goes on for the rest of the time-out, so false still means nothing came within it.
        if (m_device.CheckHangUp() && NoteGone())
            co_return false;
        co_await runner.Sleep(int(std::min<qint64>(deadline.remainingTime(), kTakenElsewhereMs)));
        if (runner.Cancelled() || deadline.hasExpired() || !m_device.IsOpen())
            co_return false;
    }
}

Task<bool> SerialPort::ConnectedAsync(DialogueRunner &runner)
{
    if (!m_device.Connecting())
        co_return true; // a local device, or connected: the operation itself says the rest
    // Looked at between the event loop's turns: a server that never answers holds up nothing.
    while (m_device.Connecting() && !m_device.PollConnect()) {
        if (runner.Cancelled())
            co_return false;
        co_await runner.Sleep(kConnectPollMs);
    }
    co_return !NoteGone();
}

Task<int> SerialPort::ReadByteBy(
    DialogueRunner &runner, unsigned char *byte, QDeadlineTimer deadline)
{
    for (;;) {
        if (m_enabled && ReviveIfGone() && m_device.IsOpen()) {
            if (!co_await LockWithin(runner))
                co_return 0;
            const int got = ReadByte(byte);
            m_lock.Release();
            if (got == 1)
                co_return 1;
        }
        if (!m_enabled || !m_device.IsOpen())
            co_return 0; // nothing can ever arrive: no wait
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || runner.Cancelled())
            co_return 0;
        co_await InputWithin(runner, int(std::min<qint64>(left, 1000)));
    }
}

Task<SerialPort::Claim> SerialPort::TakeTurn(
    DialogueRunner &runner, const void *owner, std::function<void()> cancel)
{
    ReviveIfGone(); // a network port reconnects for the next dialogue
    if (!co_await WaitForTurn(runner, [this] { return m_enabled && !m_gone && m_device.IsOpen(); }))
        co_return Claim();
    Claim claim(this, owner, std::move(cancel));
    if (!co_await LockWithin(runner))
        co_return Claim();
    MarkLocked(claim);
    if (!co_await ConnectedAsync(runner))
        co_return Claim();
    co_return std::move(claim);
}

void SerialPort::OnPortChanged()
{
    if (Holder() != m_goneHolder)
        m_goneHolder = nullptr; // that dialogue ended: the next one connects again
    if (!m_reader) {
        if (!HasSubscribers())
            return;
        m_reader = std::make_unique<DialogueRunner>();
    }
    if (m_reader->IsRunning())
        m_reader->Nudge();
    else
        m_reader->Start(Reader());
}

int SerialPort::DeliverPending(int max)
{
    if (!HasSubscribers() || IsClaimed() || !m_enabled || max <= 0 || !ReviveIfGone()
        || !m_device.IsOpen())
        return 0;
    // No wait for the lock here: the reader waits for it on its runner first.
    PortLock::Hold hold(m_lock);
    if (!hold.Held())
        return 0;
    const int pending = m_device.PendingInput();
    if (pending <= 0) {
        if (m_device.CheckHangUp())
            NoteGone();
        return 0;
    }
    QByteArray bytes;
    bytes.reserve(std::min(pending, max));
    for (int i = 0; i < std::min(pending, max); ++i) {
        unsigned char byte = 0;
        if (!m_device.ReadNow(&byte)) {
            NoteGone();
            break;
        }
        bytes += char(byte);
    }
    if (bytes.isEmpty())
        return 0;
    Deliver(bytes);
    return int(bytes.size());
}

Task<void> SerialPort::Reader()
{
    DialogueRunner &runner = *m_reader;
    for (;;) {
        // Nothing to read for: parked until PortChanged nudges it (looked at again after a
        // while all the same).
        if (!HasSubscribers() || IsClaimed() || !m_enabled || (!m_device.IsOpen() && !m_gone)) {
            co_await runner.Sleep(kReaderWaitMs);
            continue;
        }
        if (m_gone && !Revive()) {
            co_await runner.Sleep(kReviveEveryMs);
            continue;
        }
        if (m_device.Connecting()) {
            // No notifier tells of a connection made: looked at again shortly.
            if (!m_device.PollConnect())
                co_await runner.Sleep(kConnectPollMs);
            NoteGone();
            continue;
        }
        m_device.ArmWait(); // Windows: starts the overlapped read whose event is the handle
        if (!co_await runner.Readable(m_device.WaitHandle(), kReaderWaitMs))
            continue;
        if (!m_lock.Acquire()) {
            co_await runner.Sleep(kLockRetryMs);
            continue;
        }
        const int read = DeliverPending(kBufferSize);
        m_lock.Release();
        // Readable with nothing to read and no hang-up: a pause keeps this from spinning.
        if (read == 0 && !m_gone)
            co_await runner.Sleep(kTakenElsewhereMs);
    }
}

QStringList SerialPort::BaudTexts()
{
    // 33400, not 38400: the meters' own speed table.
    return { QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"),
        QStringLiteral("28800"), QStringLiteral("33400"), QStringLiteral("56000"),
        QStringLiteral("57600"), QStringLiteral("115200") };
}

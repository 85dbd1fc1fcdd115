#include "datalog/MeterDialogue.h"

#include "base/AppServices.h"
#include "base/DialogueRunner.h"
#include "base/MeterSession.h"
#include "base/ScanText.h"
#include "base/UserMessage.h"
#include "datalog/DatalogModel.h"
#include "link/CSerial.h"

#include <utility>

const char *const MeterDialogue::kCommErrorText
    = "\nUse Terminal Mode to Determine State of Flow Meter\n\n\rFlow Meter Must be in Run "
      "Mode\n\n\rTerminal Mode Window Must Be Closed";
const char *const MeterDialogue::kCommErrorTitle = "       Flow Meter Communication Error";
const char *const MeterDialogue::kFirmwareTitle
    = "               Flow Meter Firmware Upgrade Required";
const char *const MeterDialogue::kPortBusyText
    = "The meter port is in use by another window's exchange with the meter.\n"
      "Wait until it has finished, then try again.";
const char *const MeterDialogue::kDrainingStatus
    = "Waiting for the meter to finish sending its log";

namespace {
// Poll counts of the dialogue.
constexpr qint64 kAckPolls = 6000; // one round of WaitForAck
constexpr qint64 kPromptPolls = 3000000;
constexpr qint64 kIdentFieldPolls = 100000;
// Longest identification field kept; a meter that never sends a blank cannot fill the form.
constexpr int kMaxFieldLength = 64;
} // namespace

MeterDialogue::MeterDialogue(DatalogModel &model, DialogueRunner &runner)
    : m_model(model)
    , m_runner(runner)
{
}

QString MeterDialogue::FirmwareMessage()
{
    return QStringLiteral(
        "Contact Customer Service at Zarn 1-800-555-0147 Regarding Firmware Upgrades");
}

QString MeterDialogue::Status(const char *text)
{
    return QString::fromLatin1(text);
}

QString MeterDialogue::OneOf(const char *what, int n, int of)
{
    return QStringLiteral("%1 %2 of %3").arg(QLatin1String(what)).arg(n).arg(of);
}

// ---------------------------------------------------------------- link primitives

bool MeterDialogue::Cancelled() const
{
    return m_runner.Cancelled();
}

QDeadlineTimer MeterDialogue::Within(qint64 polls) const
{
    const CSerial *link = m_model.Link();
    return QDeadlineTimer(link ? link->Timing().PollsToMs(long(polls)) : 0);
}

Task<bool> MeterDialogue::ReadOne(qint64 polls, unsigned char *byte)
{
    CSerial *link = m_model.Link();
    if (!link)
        co_return false; // no link: nothing can ever arrive
    co_return co_await link->ReadByteBy(m_runner, byte, Within(polls)) == 1;
}

Task<bool> MeterDialogue::WaitForByte(unsigned char wanted, qint64 polls)
{
    CSerial *link = m_model.Link();
    if (!link)
        co_return false;
    co_return co_await link->WaitForByteAsync(m_runner, wanted, Within(polls));
}

Task<void> MeterDialogue::Pause(qint64 purges)
{
    if (const CSerial *link = m_model.Link())
        co_await m_runner.Sleep(link->Timing().PollsToMs(long(purges)));
    co_return;
}

Task<int> MeterDialogue::Send(QByteArray text)
{
    CSerial *link = m_model.Link();
    if (!link)
        co_return 0;
    const int sent = co_await link->SendStringAsync(m_runner, std::move(text));
    co_return sent;
}

Task<void> MeterDialogue::SendCommand(QByteArray text)
{
    if (CSerial *link = m_model.Link())
        co_await link->SendCommandAsync(m_runner, std::move(text));
    co_return;
}

void MeterDialogue::Purge()
{
    if (CSerial *link = m_model.Link())
        link->PurgeInput();
}

void MeterDialogue::Say(const QString &text, const QString &caption)
{
    m_messages.append({ text, caption });
}

void MeterDialogue::ShowMessages()
{
    // Taken first: the next dialogue, started from a message box's event loop, keeps its own.
    const QList<Message> messages = std::exchange(m_messages, {});
    for (const Message &message : messages)
        UserMessage::Show(message.text, message.caption);
}

bool MeterDialogue::Begin(SerialPort::Claim *claim)
{
    CSerial *link = m_model.Link();
    if (!link)
        return true; // no meter link at all: the dialogue's waits fail at once
    if (link->IsEnabled())
        link->Revive(); // an adapter that went and came back is opened again
    if (!link->IsEnabled() || !link->IsOpen()) {
        Say(link->NotOpenText(), QString::fromLatin1(kCommErrorTitle));
        return false;
    }
    *claim = SerialPort::Claim(link, this, [this] { m_runner.Cancel(); });
    if (!claim->Held()) {
        Say(QString::fromLatin1(kPortBusyText), QString::fromLatin1(kCommErrorTitle));
        return false;
    }
    return true;
}

Task<bool> MeterDialogue::MeterAnswers()
{
    CSerial *link = m_model.Link();
    if (!link)
        co_return true; // no meter link at all: the dialogue's waits fail at once
    m_model.SetStatusMode(Status("Contacting Meter"), Status("METER Comm Mode"));
    m_model.SetProgress(QStringLiteral("waiting for the meter to answer"));
    const bool answered = co_await link->AnswersAsync(m_runner);
    m_model.SetProgress(QString());
    if (Cancelled())
        co_return false;
    if (!answered) {
        Say(link->IsGone() ? link->GoneText() : link->SilentText(),
            QString::fromLatin1(kCommErrorTitle));
        m_model.SetStatusMode(Status("IDLE"), QString());
    }
    co_return answered;
}

// ---------------------------------------------------------------- the dialogue's steps

Task<void> MeterDialogue::WaitForAck(int rounds)
{
    co_await WaitForByte(kAck, qint64(rounds) * kAckPolls);
}

Task<bool> MeterDialogue::WaitForPrompt()
{
    return WaitForByte('>', kPromptPolls);
}

Task<bool> MeterDialogue::ContactMeter()
{
    for (int attempt = 1; attempt <= kContactAttempts && !Cancelled(); ++attempt) {
        m_model.SetStatusMode(Status("Contacting Meter"), Status("METER Comm Mode"));
        m_model.SetProgress(OneOf("attempt", attempt, kContactAttempts));
        Purge();
        m_commandMode = true;
        co_await Send("..................");
        if (co_await WaitForPrompt()) {
            m_model.SetStatus(Status("Command Sent To Meter"));
            m_model.SetProgress(QString());
            co_await WaitForAck(2);
            co_return !Cancelled();
        }
        if (attempt < kContactAttempts && !Cancelled()) {
            co_await Send("rrrrrr");
            m_model.SetStatus(Status("Refresh Meter"));
            co_await WaitForAck(250);
        }
    }
    co_return false;
}

Task<bool> MeterDialogue::ReadMeterValue(QByteArray number, QString *value)
{
    for (int repeat = 0; !Cancelled(); ++repeat) {
        // A value half read before a repeat is not kept.
        QByteArray text;
        co_await Send(number + "\r\n");
        if (co_await WaitForByte('=', kValuePolls)) {
            // An answer came: there is a link.
            const bool closed = co_await m_model.Link()->ReadUntilAsync(
                m_runner, Within(kValuePolls), [&text](unsigned char byte) {
                    if (byte == '=')
                        return true;
                    if (byte > 0 && byte < 127 && byte != '>')
                        text.append(char(byte));
                    return false;
                });
            if (closed) {
                *value = QString::fromLatin1(text);
                co_return true;
            }
        }
        if (repeat == 10)
            break;
        co_await Send("\r\n");
        co_await WaitForAck(25);
    }
    co_return false;
}

Task<void> MeterDialogue::ReturnToRunMode()
{
    unsigned char byte = 0;
    if (CSerial *link = m_model.Link())
        link->ReadByte(&byte);
    co_await WaitForByte('\'', kLongPolls);
    co_await WaitForAck(2);
    co_await WaitForAck(2);
    co_await SendCommand("rrrrrrrrrrr");
    if (!Cancelled())
        m_commandMode = false;
    co_await WaitForAck(2);
    co_await WaitForAck(2);
}

Task<void> MeterDialogue::BackToRunMode()
{
    CSerial *link = m_model.Link();
    SerialPort::Claim claim;
    if (link && link->IsEnabled() && link->IsOpen())
        claim = SerialPort::Claim(link, this, [this] { m_runner.Cancel(); });
    if (!claim.Held()) {
        m_commandMode = false; // nothing can be sent; the next contact refreshes the meter first
        co_return;
    }
    co_await SendCommand("rrrrrrrrrrr");
    Purge();
    m_commandMode = false;
}

Task<bool> MeterDialogue::RefreshMeterParameters()
{
    DatalogFields &f = m_model.fields;
    LoggerState &st = m_model.state;
    m_model.SetMode(Status("METER Comm Mode"));
    bool identified = false;
    for (int attempt = 1; attempt <= kContactAttempts && !identified && !Cancelled(); ++attempt) {
        m_model.SetStatus(Status("Refresh Meter"));
        m_model.SetProgress(OneOf("attempt", attempt, kContactAttempts));
        co_await SendCommand("rrrrrr\r\n");
        Purge();
        co_await WaitForAck(250);
        if (Cancelled())
            break;
        m_model.SetStatus(Status("Contacting Meter"));
        Purge();
        co_await Send("......");
        identified = co_await WaitForByte('v', kValuePolls);
    }
    m_model.SetProgress(QString());
    if (!identified)
        co_return false;
    CSerial &link = *m_model.Link(); // the meter answered: there is a link

    // "v4.1A #12345678 #1 ,model,rev,UNITS units": firmware, serial number, active range, and
    // after three commas the units up to the first "n".
    QByteArray firmware = "v";
    co_await link.CollectWordAsync(m_runner, &firmware, kMaxFieldLength, Within(kIdentFieldPolls));
    // Past blanks and "#": the first other byte, or 0 when none came.
    unsigned char first = 0;
    const auto firstAfterMarks = [&first](unsigned char byte) {
        first = byte;
        return byte != ' ' && byte != '#';
    };
    co_await WaitForByte('#', kIdentFieldPolls);
    QByteArray serial;
    first = 0;
    if (co_await link.ReadUntilAsync(m_runner, Within(kIdentFieldPolls), firstAfterMarks)) {
        serial.append(char(first));
        co_await link.CollectWordAsync(
            m_runner, &serial, kMaxFieldLength, Within(kIdentFieldPolls));
    }
    co_await WaitForByte('#', kIdentFieldPolls);
    QByteArray range;
    if (co_await link.ReadUntilAsync(m_runner, Within(kIdentFieldPolls), firstAfterMarks))
        range.append(char(first));
    for (int i = 0; i < 3; ++i)
        co_await WaitForByte(',', kIdentFieldPolls);
    QByteArray units;
    co_await link.ReadUntilAsync(m_runner, Within(kIdentFieldPolls), [&units](unsigned char byte) {
        if (byte != ' ' && units.size() < kMaxFieldLength)
            units.append(char(byte));
        return byte == 'n';
    });
    if (Cancelled())
        co_return false;
    f.firmwareRev = QString::fromLatin1(firmware);
    f.serialNumber = QString::fromLatin1(serial);
    if (!serial.trimmed().isEmpty())
        AppServices::Meter().SetSerial(
            f.serialNumber.trimmed()); // the connected meter's, for a form's Send
    f.activeRange = QString::fromLatin1(range);
    st.flowUnits = QString::fromLatin1(units.left(4));
    st.totalUnits = st.flowUnits.left(3);
    m_model.FieldsChanged();

    if (!co_await ContactMeter())
        co_return false;
    QString value;
    m_model.SetStatus(Status("Data Transfer in Progress"));
    co_await Send("600\r\n");
    if (!co_await WaitForPrompt())
        co_return false;

    // The four items, each read with its number, then left with "." for the next prompt. The
    // meter's pacing differs a little between them: whether the line is settled and purged
    // before the number is sent, and after the value before "." goes out.
    const struct
    {
        const char *status;
        const char *number;
        QString *field;
        bool settleBefore;
        bool settleAfter;
    } items[] = {
        { "Transferring Calib Date", "221", &f.calibrationDate, true, false },
        { "Transferring Flow Range", "140", &f.flowRange, false, true },
        { "Transferring X-sect", "813", &f.xSection, true, true },
        { "Transferring Offset", "812", &f.zeroOffset, true, true },
    };
    int n = 0;
    for (const auto &item : items) {
        m_model.SetStatus(Status(item.status));
        m_model.SetProgress(OneOf("value", ++n, int(std::size(items))));
        if (item.settleBefore) {
            co_await WaitForAck(25);
            Purge();
        }
        if (!co_await ReadMeterValue(item.number, &value))
            co_return false;
        *item.field = value;
        if (item.field == &f.flowRange) {
            if (const auto flow = ScanText::Double(value))
                m_model.log.fullScaleFlow = float(*flow);
        }
        m_model.FieldsChanged();
        if (item.settleAfter)
            co_await WaitForAck(25);
        co_await Send(".\r\n");
        if (item.settleAfter)
            Purge();
        if (!co_await WaitForPrompt())
            co_return false;
    }
    m_model.SetProgress(QString());

    m_model.SetStatus(Status("Data Transfer Completed"));
    co_await WaitForAck(50);
    Purge();
    co_await Send("956\r\n");
    // The memory figure is the token's characters 5 to 8 in hexadecimal ("MEM:7D00").
    QByteArray token;
    co_await link.CollectWordAsync(m_runner, &token, kMaxFieldLength, Within(kLongPolls));
    if (Cancelled())
        co_return false;
    if (token.size() >= 5) {
        if (const auto figure = ScanText::Hex(QString::fromLatin1(token.mid(4, 4))))
            st.memoryFigure = unsigned(*figure);
    }

    co_await ReturnToRunMode();
    st.meterParametersRead = true;
    m_model.ShowSnapshotCapacity();
    co_await WaitForAck(2);
    co_await WaitForAck(75);
    m_model.SetStatusMode(Status("IDLE"), QString());
    co_return true;
}

Task<bool> MeterDialogue::CheckMeter()
{
    LoggerState &st = m_model.state;
    if (st.meterParametersRead)
        co_return true;
    if (!co_await RefreshMeterParameters()) {
        if (Cancelled())
            co_return false; // the user stopped it: no message
        const CSerial *link = m_model.Link();
        // A port that went away is named as such, not blamed on the meter's mode.
        QString text
            = link && link->IsGone() ? link->GoneText() : QString::fromLatin1(kCommErrorText);
        if (const QString errors = link ? link->LineErrorText() : QString(); !errors.isEmpty())
            text = errors + QLatin1Char('\n') + text;
        Say(text, QString::fromLatin1(kCommErrorTitle));
        m_model.SetStatusMode(Status("IDLE"), QString());
        co_return false;
    }
    st.meterParametersRead = true;
    const QString &rev = m_model.fields.firmwareRev;
    if (rev.startsWith(QLatin1String("v3")) || rev.startsWith(QLatin1String("v4.0"))) {
        if (!Cancelled())
            Say(FirmwareMessage(), QString::fromLatin1(kFirmwareTitle));
        m_model.SetStatusMode(Status("IDLE"), QString());
        co_return false;
    }
    co_return true;
}

// ---------------------------------------------------------------- buttons

Task<bool> MeterDialogue::CheckBeforeLogging()
{
    if (m_model.state.meterParametersRead)
        co_return true;
    SerialPort::Claim claim;
    if (!Begin(&claim) || !co_await MeterAnswers())
        co_return false;
    co_return co_await CheckMeter();
}

Task<void> MeterDialogue::Update()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!Begin(&claim) || !co_await MeterAnswers())
        co_return;
    m_model.state.meterParametersRead = false;
    co_await CheckMeter();
}

Task<void> MeterDialogue::NotResponding()
{
    m_model.SetStatus(Status("Meter Not Responding"));
    co_await Pause(100000);
    m_model.SetStatusMode(Status("IDLE"), QString());
    co_await ReturnToRunMode();
}
Task<void> MeterDialogue::StartMeter()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!Begin(&claim) || !co_await MeterAnswers())
        co_return;
    co_await Send("eeeeeeeeeeeee");
    if (Cancelled())
        co_return;
    if (m_model.fields.timerEnabled) {
        if (!co_await ContactMeter())
            co_return;
        // Once "466" or the E's went out whole the meter's logger is armed or running: a Cancel
        // at that moment does not hide it (the run-mode command still follows the Cancel).
        if (co_await Send("466\r\n") == 0 && Cancelled())
            co_return;
        co_await ReturnToRunMode();
        m_model.SetMode(Status("METER Timer Mode"));
    } else {
        if (co_await Send("EEEEEEEEEEEEE") == 0 && Cancelled())
            co_return;
        m_model.SetMode(Status("METER Manual Mode"));
    }
    m_model.SetStatus(Status("Z-Ozuved Running"));
}

Task<void> MeterDialogue::StopMeter()
{
    const QString &mode = m_model.fields.mode;
    if (mode == QLatin1String("PC Manual Mode") || mode == QLatin1String("PC Timer Mode"))
        co_return;
    SerialPort::Claim claim;
    if (!Begin(&claim))
        co_return;
    co_await Send("eeeeeeeeeee");
    m_model.SetStatusMode(Status("IDLE"), QString());
}

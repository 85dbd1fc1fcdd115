#include "datalog/MeterDialogue.h"

#include "audit/AuditLog.h"
#include "audit/AuditRecord.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/DialogueRunner.h"
#include "base/MeterSession.h"
#include "base/PrintfText.h"
#include "base/ScanText.h"
#include "base/UserMessage.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/DatalogModel.h"
#include "datalog/LogFileWriter.h"
#include "link/CSerial.h"
#include "meter/MeterSeries.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

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
constexpr qint64 kValuePolls = 200000;
constexpr qint64 kIdentFieldPolls = 100000;
constexpr qint64 kLongPolls = 500000; // apostrophe, memory token, configuration and log bytes
// Longest identification field kept; a meter that never sends a blank cannot fill the form.
constexpr int kMaxFieldLength = 64;
// Log bytes taken between two returns to the event loop when the meter sends faster than they
// are read: the window stays live whatever the line's speed.
constexpr int kBytesPerSlice = 1024;
// Log bytes between two updates of the transfer's progress.
constexpr int kProgressStep = 256;
// Values of the logger configuration ("955" and "954").
constexpr int kConfigValues = 17;

QString Status(const char *text)
{
    return QString::fromLatin1(text);
}

// What the application says after a log transfer that did not end whole, once the transfer is
// over however it ended (a window closed mid-transfer destroys the dialogue where it waits):
// what became of the named file and of what arrived. A transfer the user stopped (Cancel,
// closing the window, Exit) is told as information; a failure under the datalogger's error title.
class TransferNotice
{
public:
    TransferNotice(QString path, QString partial, bool inPlace, LogFileWriter &file,
        const int &received, int count)
        : m_path(std::move(path))
        , m_partial(std::move(partial))
        , m_inPlace(inPlace)
        , m_file(file)
        , m_received(received)
        , m_count(count)
        , m_pathExisted(QFileInfo::exists(m_path))
    {
    }
    ~TransferNotice()
    {
        if (m_done)
            return;
        const QString title = QString::fromLatin1(LogFileWriter::kDatalogErrorTitle);
        if (!m_failure.isEmpty()) {
            UserMessage::ShowLater(m_failure, title);
            return;
        }
        QString text = m_failed ? QStringLiteral("The transfer of the meter's log was cut short.")
                                : QStringLiteral("The transfer of the meter's log was cancelled.");
        if (m_inPlace) {
            // Written straight to a FIFO or terminal: what arrived went there as it came.
            text += QStringLiteral("\n%1 got what arrived (%2 of %3 bytes).")
                        .arg(m_path)
                        .arg(m_received)
                        .arg(m_count);
        } else {
            text += QLatin1Char('\n') + FileLeft();
            if (m_received > 0) {
                text += QStringLiteral("; what arrived (%1 of %2 bytes) is kept in %3.")
                            .arg(m_received)
                            .arg(m_count)
                            .arg(m_partial);
            } else {
                // Only the file's own header: nothing of the log to keep.
                m_file.Close();
                QFile::remove(m_partial);
                text += QStringLiteral("; nothing of the log had arrived.");
            }
        }
        if (m_failed)
            UserMessage::ShowLater(text, title);
        else
            UserMessage::InformLater(text);
    }
    TransferNotice(const TransferNotice &) = delete;
    TransferNotice &operator=(const TransferNotice &) = delete;
    // What became of the named file: it existed before the transfer, or it never did.
    QString FileLeft() const
    {
        return (m_pathExisted ? QStringLiteral("%1 is left as it was")
                              : QStringLiteral("Nothing was written to %1"))
            .arg(m_path);
    }
    // The meter stopped sending, or the port went: not the user's doing.
    void Failed() { m_failed = true; }
    // A failure of the file's own, said as it stands.
    void Fail(QString text) { m_failure = std::move(text); }
    // The log is whole (or nothing needed saying): no notice.
    void Done() { m_done = true; }

private:
    QString m_path;
    QString m_partial;
    bool m_inPlace;
    LogFileWriter &m_file;
    const int &m_received;
    int m_count;
    bool m_pathExisted;
    bool m_failed = false;
    bool m_done = false;
    QString m_failure;
};

QString OneOf(const char *what, int n, int of)
{
    return QStringLiteral("%1 %2 of %3").arg(QLatin1String(what)).arg(n).arg(of);
}
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

int MeterDialogue::OptionsValue(const bool options[8])
{
    int value = 0;
    for (int i = 0; i < 8; ++i) {
        if (options[i])
            value |= 0x80 >> i;
    }
    return value;
}

// ---------------------------------------------------------------- link primitives

bool MeterDialogue::Cancelled() const
{
    return m_runner.Cancelled();
}

Task<bool> MeterDialogue::ReadUntil(qint64 polls, std::function<bool(unsigned char)> done)
{
    CSerial *link = m_model.Link();
    if (!link)
        co_return false; // no link: nothing can ever arrive
    const QDeadlineTimer deadline(link->Timing().PollsToMs(long(polls)));
    unsigned char byte = 0;
    while (co_await link->ReadByteBy(m_runner, &byte, deadline) == 1) {
        if (done(byte))
            co_return true;
    }
    co_return false;
}

Task<bool> MeterDialogue::ReadOne(qint64 polls, unsigned char *byte)
{
    return ReadUntil(polls, [byte](unsigned char b) {
        *byte = b;
        return true;
    });
}

Task<bool> MeterDialogue::WaitForByte(unsigned char wanted, qint64 polls)
{
    return ReadUntil(polls, [wanted](unsigned char b) { return b == wanted; });
}

Task<bool> MeterDialogue::CollectWord(qint64 polls, QByteArray *word)
{
    return ReadUntil(polls, [word](unsigned char b) {
        if (b == ' ')
            return true;
        if (word->size() < kMaxFieldLength)
            word->append(char(b));
        return false;
    });
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
            const bool closed = co_await ReadUntil(kValuePolls, [&text](unsigned char byte) {
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

    // "v4.1A #12345678 #1 ,model,rev,UNITS units": firmware, serial number, active range, and
    // after three commas the units up to the first "n".
    QByteArray firmware = "v";
    co_await CollectWord(kIdentFieldPolls, &firmware);
    // Past blanks and "#": the first other byte, or 0 when none came.
    unsigned char first = 0;
    const auto firstAfterMarks = [&first](unsigned char byte) {
        first = byte;
        return byte != ' ' && byte != '#';
    };
    co_await WaitForByte('#', kIdentFieldPolls);
    QByteArray serial;
    first = 0;
    if (co_await ReadUntil(kIdentFieldPolls, firstAfterMarks)) {
        serial.append(char(first));
        co_await CollectWord(kIdentFieldPolls, &serial);
    }
    co_await WaitForByte('#', kIdentFieldPolls);
    QByteArray range;
    if (co_await ReadUntil(kIdentFieldPolls, firstAfterMarks))
        range.append(char(first));
    for (int i = 0; i < 3; ++i)
        co_await WaitForByte(',', kIdentFieldPolls);
    QByteArray units;
    co_await ReadUntil(kIdentFieldPolls, [&units](unsigned char byte) {
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
    co_await CollectWord(kLongPolls, &token);
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

Task<void> MeterDialogue::SendConfiguration()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!Begin(&claim))
        co_return;
    // The configuration as it stood when the button was pressed, dates and times as two-digit
    // parts of their normalized texts.
    const DatalogFields &f = m_model.fields;
    QList<QByteArray> values;
    for (const QString &text : { DatalogFieldRules::NormalizeDate(f.startDate),
             DatalogFieldRules::NormalizeDate(f.stopDate),
             DatalogFieldRules::NormalizeTime(f.startTime),
             DatalogFieldRules::NormalizeTime(f.stopTime) }) {
        for (int part = 0; part < 3; ++part)
            values << text.mid(part * 3, 2).toLatin1();
    }
    values << f.hour.toLatin1() << f.min.toLatin1() << f.sec.toLatin1()
           << QByteArray::number(OptionsValue(f.options.data()))
           << QByteArray(f.timerEnabled ? "1" : "0");
    const QString action = QStringLiteral("send logger configuration");
    if (!co_await MeterAnswers() || !co_await CheckMeter() || !co_await ContactMeter()) {
        AuditConfiguration(
            action, Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"));
        co_return;
    }
    co_await Send("955\r\n");
    m_model.SetStatus(Status("Data Transfer in Progress"));
    for (int i = 0; i < kConfigValues && !Cancelled(); ++i) {
        m_model.SetProgress(OneOf("value", i + 1, kConfigValues));
        co_await SendCommand(values.at(i) + "\r\n");
        // Dates and times are each acknowledged within 25 rounds, the interval's hours and
        // minutes within 20; the seconds, options and timer flag follow at once.
        if (i < 12)
            co_await WaitForAck(25);
        else if (i < 14)
            co_await WaitForAck(20);
    }
    if (Cancelled()) {
        AuditConfiguration(action, QStringLiteral("cancelled"));
        co_return;
    }
    m_model.SetProgress(QString());
    m_model.SetStatus(Status("Transfer Completed"));
    co_await WaitForAck(20);
    co_await ReturnToRunMode();
    m_model.SetStatusMode(Status("IDLE"), QString());
    AuditConfiguration(action, QStringLiteral("ok"));
}

Task<void> MeterDialogue::NotResponding()
{
    m_model.SetStatus(Status("Meter Not Responding"));
    co_await Pause(100000);
    m_model.SetStatusMode(Status("IDLE"), QString());
    co_await ReturnToRunMode();
}

Task<void> MeterDialogue::ReadConfiguration()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!Begin(&claim))
        co_return;
    const QString action = QStringLiteral("read logger configuration");
    if (!co_await MeterAnswers() || !co_await CheckMeter() || !co_await ContactMeter()) {
        AuditConfiguration(
            action, Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"));
        co_return;
    }
    co_await Send("954\r\n");
    Purge();
    m_model.SetStatus(Status("Data Transfer in Progress"));
    unsigned char b[kConfigValues] = {};
    for (int i = 0; i < kConfigValues; ++i) {
        m_model.SetProgress(OneOf("byte", i + 1, kConfigValues));
        if (!co_await ReadOne(kLongPolls, &b[i])) {
            const bool cancelled = Cancelled();
            if (!cancelled)
                co_await NotResponding();
            AuditConfiguration(
                action, cancelled ? QStringLiteral("cancelled") : QStringLiteral("failed"));
            co_return;
        }
    }
    m_model.SetProgress(QString());
    const auto n = [&b](int i) { return QString::number(int(static_cast<signed char>(b[i]))); };
    const QString slash = QStringLiteral("/");
    const QString colon = QStringLiteral(":");
    DatalogFields &f = m_model.fields;
    f.startDate = DatalogFieldRules::NormalizeDate(n(0) + slash + n(1) + slash + n(2));
    f.stopDate = DatalogFieldRules::NormalizeDate(n(3) + slash + n(4) + slash + n(5));
    f.startTime = DatalogFieldRules::NormalizeTime(n(6) + colon + n(7) + colon + n(8));
    f.stopTime = DatalogFieldRules::NormalizeTime(n(9) + colon + n(10) + colon + n(11));
    f.hour = n(12);
    f.min = n(13);
    f.sec = n(14);
    for (int i = 0; i < 8; ++i)
        f.options[i] = (b[15] & (0x80 >> i)) != 0;
    f.timerEnabled = (b[16] & 1) != 0;
    m_model.FieldsChanged();
    m_model.SetStatus(Status("Transfer Completed"));
    Purge();
    co_await ReturnToRunMode();
    m_model.ShowSnapshotCapacity();
    m_model.SetStatusMode(Status("IDLE"), QString());
    AuditConfiguration(action, QStringLiteral("ok"));
}

void MeterDialogue::AuditConfiguration(const QString &action, const QString &result)
{
    const DatalogFields &f = m_model.fields;
    AuditRecord record = AuditRecord::Now(action, QString());
    record.model = AppServices::Meter().Model().trimmed();
    record.firmware = AuditRecord::FirmwareText(f.firmwareRev);
    record.series = MeterSeries::Name(MeterSeries::OfVersion(record.firmware));
    record.serial = f.serialNumber.trimmed().isEmpty() ? AppServices::Meter().Serial().trimmed()
                                                       : f.serialNumber.trimmed();
    record.result = result;
    // The configuration as the form holds it: what was sent, or what the meter answered.
    QStringList options;
    for (int i = 0; i < 8; ++i)
        if (f.options[i])
            options << QLatin1String(DatalogFields::kOptionNames[i]);
    record.message
        = QStringLiteral("start %1 %2, stop %3 %4, interval %5:%6:%7, options %8, timer %9")
              .arg(DatalogFieldRules::NormalizeDate(f.startDate),
                  DatalogFieldRules::NormalizeTime(f.startTime),
                  DatalogFieldRules::NormalizeDate(f.stopDate),
                  DatalogFieldRules::NormalizeTime(f.stopTime), f.hour, f.min, f.sec,
                  options.join(QStringLiteral(", ")),
                  f.timerEnabled ? QStringLiteral("on") : QStringLiteral("off"));
    QString error;
    if (!AuditLog(AuditSettings::TrailPath()).Append(record, &error))
        Say(error + QStringLiteral("\nThe logger's configuration is not affected."),
            QString::fromLatin1(kAppTitle));
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

Task<QString> MeterDialogue::TransferMeterLog()
{
    if (!m_model.IsIdle())
        co_return QString();
    SerialPort::Claim claim;
    if (!Begin(&claim) || !co_await MeterAnswers())
        co_return QString();
    // Cleared however the transfer ends, the dialogue destroyed where it waits too.
    m_transferring = true;
    const auto transferring = qScopeGuard([this] { m_transferring = false; });
    if (!co_await ContactMeter())
        co_return QString();
    // The log goes into a file of its own beside the named one, which it replaces only when
    // whole: a transfer cut short (Cancel, a silent meter, the window closed, a full disk) keeps
    // the earlier log, and what arrived stays under the other name.
    const QString path = m_model.fields.fileName;
    const bool inPlace = LogFileWriter::WritesInPlace(path);
    const QString partial = inPlace ? path : LogFileWriter::PartialName(path);
    const auto discard = [&] {
        if (!inPlace)
            QFile::remove(partial);
    };
    LogFileWriter file;
    if (!file.Create(partial)) {
        Say(QString::fromLatin1(LogFileWriter::kCreateErrorText),
            QString::fromLatin1(LogFileWriter::kCreateErrorTitle));
        m_model.SetStatusMode(Status("IDLE"), QString());
        co_return QString();
    }
    m_model.ClearDisplay();
    file.Write(
        PrintfText::Format("%cHalvren - Flow Meter Datalog Filename %s\n", 34, qPrintable(path))
            .toLatin1());
    file.Write(
        PrintfText::Format("%cFull Scale Flow Rate = %f\n", 34, double(m_model.log.fullScaleFlow))
            .toLatin1());
    co_await Send("953\r\n");
    Purge();
    unsigned char high = 0;
    unsigned char low = 0;
    bool counted = false;
    if (!Cancelled()) {
        m_model.SetStatus(Status("Data Transfer in Progress"));
        counted = co_await ReadOne(kLongPolls, &high) && co_await ReadOne(kLongPolls, &low);
        if (!counted && !Cancelled())
            co_await NotResponding();
    }
    if (!counted) {
        // Nothing of the log arrived: no partial log to keep.
        file.Close();
        discard();
        co_return QString();
    }
    const int count = high * 256 + low;
    if (count == 0) {
        m_model.SetStatus(Status("No Data, File Empty"));
        co_await Pause(500000);
        m_model.SetStatusMode(Status("IDLE"), QString());
    }
    // Said once the transfer has ended short of the whole log, however it ended (the window
    // closed too, the dialogue destroyed where it waited): by the application, after the fact.
    int stored = 0;
    TransferNotice notice(path, partial, inPlace, file, stored, count);
    m_logLeft = count;
    while (stored < count) {
        if (stored % kProgressStep == 0)
            m_model.SetProgress(QStringLiteral("%1 of %2 bytes").arg(stored).arg(count));
        if (stored % kBytesPerSlice == 0 && stored > 0)
            co_await m_runner.Sleep(1);
        unsigned char byte = 0;
        if (!co_await ReadOne(kLongPolls, &byte)) {
            file.Close();
            if (Cancelled()) {
                co_await DrainLog(count - stored);
            } else {
                notice.Failed();
                co_await NotResponding();
            }
            m_logLeft = -1;
            co_return QString();
        }
        file.Write(QByteArray(1, char(byte)));
        ++stored;
        m_logLeft = count - stored;
    }
    if (count > 0) {
        m_model.SetProgress(QString());
        m_model.SetStatus(Status("Transfer Completed"));
        co_await ReturnToRunMode();
        m_model.SetStatusMode(Status("IDLE"), QString());
    }
    file.Close();
    m_logLeft = -1;
    if (file.Failed()) {
        notice.Fail(QStringLiteral("The meter's log could not be written in full to %1 (is the "
                                   "disk full?).")
                        .arg(partial)
            + (inPlace ? QString() : QLatin1Char('\n') + notice.FileLeft() + QLatin1Char('.')));
        discard();
        co_return QString();
    }
    if (inPlace || (count == 0 && QFileInfo::exists(path))) {
        // An empty memory is no reason to lose the log already in the file; what went straight
        // to a FIFO or terminal cannot be read back to be shown.
        discard();
        notice.Done();
        co_return QString();
    }
    QString error;
    if (!LogFileWriter::Replace(partial, path, &error)) {
        notice.Fail(QStringLiteral("The meter's log could not replace %1:\n%2\n%3; the log "
                                   "is kept in %4.")
                        .arg(path, error, notice.FileLeft(), partial));
        co_return count > 0 ? partial : QString();
    }
    notice.Done();
    co_return count > 0 ? path : QString();
}

Task<void> MeterDialogue::DrainLog(int remaining)
{
    // After a Cancel the meter goes on sending the rest of its log: the next dialogue would take
    // it for an answer. Its bytes are read and dropped, each within the log's byte time-out,
    // until none are left or the line is quiet; a second Cancel ends this at once.
    if (!m_runner.BeginWindUp())
        co_return;
    m_model.SetStatus(Status(kDrainingStatus));
    if (CSerial *link = m_model.Link()) {
        int shown = remaining + kProgressStep;
        co_await link->DrainAsync(
            m_runner, remaining, link->Timing().PollsToMs(kLongPolls), [this, &shown](int left) {
                m_logLeft = left;
                if (shown - left >= kProgressStep) {
                    shown = left;
                    m_model.SetProgress(QStringLiteral("%1 bytes to go").arg(left));
                }
            });
    }
    m_logLeft = -1;
    m_model.SetProgress(QString());
    m_runner.EndWindUp();
}

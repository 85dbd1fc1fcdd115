#include "datalog/MeterDialogue.h"

#include "base/PrintfText.h"
#include "base/ScanText.h"
#include "base/UserMessage.h"
#include "datalog/DatalogCore.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/LogFileWriter.h"
#include "datalog/LogLoader.h"
#include "datalog/PcLogger.h"
#include "link/CSerial.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>

const char *const MeterDialogue::kCommErrorText
    = "\nUse Terminal Mode to Determine State of Flow Meter\n\n\rFlow Meter Must be in Run "
      "Mode\n\n\rTerminal Mode Window Must Be Closed";
const char *const MeterDialogue::kCommErrorTitle = "       Flow Meter Communication Error";
const char *const MeterDialogue::kFirmwareTitle
    = "               Flow Meter Firmware Upgrade Required";

namespace {
// Poll counts of the dialogue.
constexpr qint64 kAckPolls = 6000; // one round of WaitForAck
constexpr qint64 kPromptPolls = 3000000;
constexpr qint64 kValuePolls = 200000;
constexpr qint64 kIdentFieldPolls = 100000;
constexpr qint64 kLongPolls = 500000; // apostrophe, memory token, configuration and log bytes
// Longest identification field kept; a meter that never sends a blank cannot fill the form.
constexpr int kMaxFieldLength = 64;

QString Status(const char *text)
{
    return QString::fromLatin1(text);
}
} // namespace

MeterDialogue::MeterDialogue(DatalogCore &core)
    : m_core(core)
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

QDeadlineTimer MeterDialogue::Within(qint64 polls) const
{
    const CSerial *link = m_core.Link();
    return QDeadlineTimer(link ? link->Timing().PollsToMs(long(polls)) : 0);
}

bool MeterDialogue::ReadBy(const QDeadlineTimer &deadline, unsigned char *byte)
{
    CSerial *link = m_core.Link();
    if (!link || !link->IsEnabled() || !link->IsOpen())
        return false; // nothing can ever arrive: no wait
    for (;;) {
        if (link->ReadByte(byte) == 1)
            return true;
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        link->WaitForInput(int(std::min<qint64>(left, 100)));
    }
}

bool MeterDialogue::WaitForByte(unsigned char wanted, qint64 polls)
{
    const QDeadlineTimer deadline = Within(polls);
    unsigned char byte = 0;
    while (ReadBy(deadline, &byte)) {
        if (byte == wanted)
            return true;
    }
    return false;
}

bool MeterDialogue::CollectWord(qint64 polls, QByteArray *word)
{
    const QDeadlineTimer deadline = Within(polls);
    unsigned char byte = 0;
    while (ReadBy(deadline, &byte)) {
        if (byte == ' ')
            return true;
        if (word->size() < kMaxFieldLength)
            word->append(char(byte));
    }
    return false;
}

void MeterDialogue::Pause(qint64 purges)
{
    const CSerial *link = m_core.Link();
    if (link)
        QThread::msleep(ulong(link->Timing().PollsToMs(long(purges))));
}

void MeterDialogue::Send(const QByteArray &text)
{
    if (CSerial *link = m_core.Link())
        link->SendString(text);
}

void MeterDialogue::SendCommand(const QByteArray &text)
{
    if (CSerial *link = m_core.Link())
        link->SendCommand(text);
}

void MeterDialogue::Purge()
{
    if (CSerial *link = m_core.Link())
        link->PurgeInput();
}

// ---------------------------------------------------------------- the dialogue's steps

void MeterDialogue::WaitForAck(int rounds)
{
    WaitForByte(kAck, qint64(rounds) * kAckPolls);
}

bool MeterDialogue::WaitForPrompt()
{
    return WaitForByte('>', kPromptPolls);
}

bool MeterDialogue::ContactMeter()
{
    for (int attempt = 1; attempt <= 5; ++attempt) {
        m_core.SetStatusMode(Status("Contacting Meter"), Status("METER Comm Mode"));
        Purge();
        Send("..................");
        if (WaitForPrompt()) {
            m_core.SetStatus(Status("Command Sent To Meter"));
            WaitForAck(2);
            return true;
        }
        if (attempt < 5) {
            Send("rrrrrr");
            m_core.SetStatus(Status("Refresh Meter"));
            WaitForAck(250);
        }
    }
    return false;
}

bool MeterDialogue::ReadMeterValue(const QByteArray &number, QString *value)
{
    for (int repeat = 0;; ++repeat) {
        // A value half read before a repeat is not kept.
        QByteArray text;
        Send(number + "\r\n");
        if (WaitForByte('=', kValuePolls)) {
            const QDeadlineTimer deadline = Within(kValuePolls);
            unsigned char byte = 0;
            while (ReadBy(deadline, &byte)) {
                if (byte == '=') {
                    *value = QString::fromLatin1(text);
                    return true;
                }
                if (byte > 0 && byte < 127 && byte != '>')
                    text.append(char(byte));
            }
        }
        if (repeat == 10)
            return false;
        Send("\r\n");
        WaitForAck(25);
    }
}

void MeterDialogue::ReturnToRunMode()
{
    unsigned char byte = 0;
    if (CSerial *link = m_core.Link())
        link->ReadByte(&byte);
    WaitForByte('\'', kLongPolls);
    WaitForAck(2);
    WaitForAck(2);
    SendCommand("rrrrrrrrrrr");
    WaitForAck(2);
    WaitForAck(2);
}

bool MeterDialogue::RefreshMeterParameters()
{
    DatalogFields &f = m_core.fields;
    LoggerState &st = m_core.state;
    m_core.SetMode(Status("METER Comm Mode"));
    bool identified = false;
    for (int attempt = 1; attempt <= 5 && !identified; ++attempt) {
        m_core.SetStatus(Status("Refresh Meter"));
        SendCommand("rrrrrr\r\n");
        Purge();
        WaitForAck(250);
        m_core.SetStatus(Status("Contacting Meter"));
        Purge();
        Send("......");
        identified = WaitForByte('v', kValuePolls);
    }
    if (!identified)
        return false;

    // "v4.1A #12345678 #1 ,model,rev,UNITS units": firmware, serial number, active range, and
    // after three commas the units up to the first "n".
    QByteArray firmware = "v";
    CollectWord(kIdentFieldPolls, &firmware);
    const auto skipTo = [this](unsigned char marker) { WaitForByte(marker, kIdentFieldPolls); };
    // Past blanks and "#": the first other byte, or 0 when none came.
    const auto firstAfterMarks = [this]() -> unsigned char {
        const QDeadlineTimer deadline = Within(kIdentFieldPolls);
        unsigned char byte = 0;
        while (ReadBy(deadline, &byte)) {
            if (byte != ' ' && byte != '#')
                return byte;
        }
        return 0;
    };
    skipTo('#');
    QByteArray serial;
    if (const unsigned char first = firstAfterMarks()) {
        serial.append(char(first));
        CollectWord(kIdentFieldPolls, &serial);
    }
    skipTo('#');
    QByteArray range;
    if (const unsigned char first = firstAfterMarks())
        range.append(char(first));
    for (int i = 0; i < 3; ++i)
        skipTo(',');
    QByteArray units;
    {
        const QDeadlineTimer deadline = Within(kIdentFieldPolls);
        unsigned char byte = 0;
        while (ReadBy(deadline, &byte)) {
            if (byte != ' ' && units.size() < kMaxFieldLength)
                units.append(char(byte));
            if (byte == 'n')
                break;
        }
    }
    f.firmwareRev = QString::fromLatin1(firmware);
    f.serialNumber = QString::fromLatin1(serial);
    f.activeRange = QString::fromLatin1(range);
    st.flowUnits = QString::fromLatin1(units.left(4));
    st.totalUnits = st.flowUnits.left(3);
    m_core.FieldsChanged();

    if (!ContactMeter())
        return false;
    QString value;
    m_core.SetStatus(Status("Data Transfer in Progress"));
    Send("600\r\n");
    if (!WaitForPrompt())
        return false;

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
    for (const auto &item : items) {
        m_core.SetStatus(Status(item.status));
        if (item.settleBefore) {
            WaitForAck(25);
            Purge();
        }
        if (!ReadMeterValue(item.number, &value))
            return false;
        *item.field = value;
        if (item.field == &f.flowRange) {
            if (const auto flow = ScanText::Double(value))
                m_core.log.fullScaleFlow = float(*flow);
        }
        m_core.FieldsChanged();
        if (item.settleAfter)
            WaitForAck(25);
        Send(".\r\n");
        if (item.settleAfter)
            Purge();
        if (!WaitForPrompt())
            return false;
    }

    m_core.SetStatus(Status("Data Transfer Completed"));
    WaitForAck(50);
    Purge();
    Send("956\r\n");
    // The memory figure is the token's characters 5 to 8 in hexadecimal ("MEM:7D00").
    QByteArray token;
    CollectWord(kLongPolls, &token);
    if (token.size() >= 5) {
        if (const auto figure = ScanText::Hex(QString::fromLatin1(token.mid(4, 4))))
            st.memoryFigure = unsigned(*figure);
    }

    ReturnToRunMode();
    st.meterParametersRead = true;
    m_core.ShowSnapshotCapacity();
    WaitForAck(2);
    WaitForAck(75);
    m_core.SetStatusMode(Status("IDLE"), QString());
    return true;
}

bool MeterDialogue::CheckMeter()
{
    LoggerState &st = m_core.state;
    if (st.meterParametersRead)
        return true;
    if (!RefreshMeterParameters()) {
        UserMessage::Show(
            QString::fromLatin1(kCommErrorText), QString::fromLatin1(kCommErrorTitle));
        m_core.SetStatusMode(Status("IDLE"), QString());
        return false;
    }
    st.meterParametersRead = true;
    const QString &rev = m_core.fields.firmwareRev;
    if (rev.startsWith(QLatin1String("v3")) || rev.startsWith(QLatin1String("v4.0"))) {
        UserMessage::Show(FirmwareMessage(), QString::fromLatin1(kFirmwareTitle));
        m_core.SetStatusMode(Status("IDLE"), QString());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- buttons

void MeterDialogue::Update()
{
    if (!m_core.IsIdle())
        return;
    m_core.state.meterParametersRead = false;
    CheckMeter();
}

void MeterDialogue::SendConfiguration()
{
    if (!m_core.IsIdle() || !CheckMeter() || !ContactMeter())
        return;
    DatalogFields &f = m_core.fields;
    Send("955\r\n");
    m_core.SetStatus(Status("Data Transfer in Progress"));
    // Dates and times as two-digit parts of their normalized texts.
    for (const QString &text : { DatalogFieldRules::NormalizeDate(f.startDate),
             DatalogFieldRules::NormalizeDate(f.stopDate),
             DatalogFieldRules::NormalizeTime(f.startTime),
             DatalogFieldRules::NormalizeTime(f.stopTime) }) {
        for (int part = 0; part < 3; ++part) {
            SendCommand(text.mid(part * 3, 2).toLatin1() + "\r\n");
            WaitForAck(25);
        }
    }
    SendCommand(f.hour.toLatin1() + "\r\n");
    WaitForAck(20);
    SendCommand(f.min.toLatin1() + "\r\n");
    WaitForAck(20);
    SendCommand(f.sec.toLatin1() + "\r\n");
    SendCommand(QByteArray::number(OptionsValue(f.options.data())) + "\r\n");
    SendCommand(f.timerEnabled ? "1\r\n" : "0\r\n");
    m_core.SetStatus(Status("Transfer Completed"));
    WaitForAck(20);
    ReturnToRunMode();
    m_core.SetStatusMode(Status("IDLE"), QString());
}

void MeterDialogue::NotResponding()
{
    m_core.SetStatus(Status("Meter Not Responding"));
    Pause(100000);
    m_core.SetStatusMode(Status("IDLE"), QString());
    ReturnToRunMode();
}

void MeterDialogue::ReadConfiguration()
{
    if (!m_core.IsIdle() || !CheckMeter() || !ContactMeter())
        return;
    Send("954\r\n");
    Purge();
    m_core.SetStatus(Status("Data Transfer in Progress"));
    unsigned char b[17] = {};
    for (unsigned char &byte : b) {
        if (!ReadBy(Within(kLongPolls), &byte)) {
            NotResponding();
            return;
        }
    }
    const auto n = [&b](int i) { return QString::number(int(static_cast<signed char>(b[i]))); };
    const QString slash = QStringLiteral("/");
    const QString colon = QStringLiteral(":");
    DatalogFields &f = m_core.fields;
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
    m_core.FieldsChanged();
    m_core.SetStatus(Status("Transfer Completed"));
    Purge();
    ReturnToRunMode();
    m_core.ShowSnapshotCapacity();
    m_core.SetStatusMode(Status("IDLE"), QString());
}

void MeterDialogue::StartMeter()
{
    if (!m_core.IsIdle())
        return;
    Send("eeeeeeeeeeeee");
    if (m_core.fields.timerEnabled) {
        if (!ContactMeter())
            return;
        Send("466\r\n");
        ReturnToRunMode();
        m_core.SetMode(Status("METER Timer Mode"));
    } else {
        Send("EEEEEEEEEEEEE");
        m_core.SetMode(Status("METER Manual Mode"));
    }
    m_core.SetStatus(Status("Z-Ozuved Running"));
}

void MeterDialogue::StopMeter()
{
    const QString &mode = m_core.fields.mode;
    if (mode == QLatin1String("PC Manual Mode") || mode == QLatin1String("PC Timer Mode"))
        return;
    Send("eeeeeeeeeee");
    m_core.SetStatusMode(Status("IDLE"), QString());
}

void MeterDialogue::TransferMeterLog()
{
    if (!m_core.IsIdle() || !ContactMeter())
        return;
    const DatalogFields &f = m_core.fields;
    LogFileWriter file;
    if (!file.Create(f.fileName)) {
        UserMessage::Show(QString::fromLatin1(PcLogger::kCreateErrorText),
            QString::fromLatin1(PcLogger::kCreateErrorTitle));
        m_core.SetStatusMode(Status("IDLE"), QString());
        return;
    }
    m_core.ClearDisplay();
    file.Write(PrintfText::Format(
        "%cHalvren - Flow Meter Datalog Filename %s\n", 34, qPrintable(f.fileName))
                   .toLatin1());
    file.Write(
        PrintfText::Format("%cFull Scale Flow Rate = %f\n", 34, double(m_core.log.fullScaleFlow))
            .toLatin1());
    Send("953\r\n");
    Purge();
    m_core.SetStatus(Status("Data Transfer in Progress"));

    unsigned char high = 0;
    unsigned char low = 0;
    if (!ReadBy(Within(kLongPolls), &high) || !ReadBy(Within(kLongPolls), &low)) {
        NotResponding();
        file.Close();
        return;
    }
    int count = high * 256 + low;
    if (count == 0) {
        m_core.SetStatus(Status("No Data, File Empty"));
        Pause(500000);
        m_core.SetStatusMode(Status("IDLE"), QString());
        file.Close();
        return;
    }
    QByteArray chunk;
    while (count > 0) {
        unsigned char byte = 0;
        if (!ReadBy(Within(kLongPolls), &byte)) {
            file.Write(chunk);
            NotResponding();
            file.Close();
            return;
        }
        chunk.append(char(byte));
        --count;
        if (chunk.size() >= 4096) {
            file.Write(chunk);
            chunk.clear();
        }
    }
    file.Write(chunk);
    m_core.SetStatus(Status("Transfer Completed"));
    ReturnToRunMode();
    file.Close();
    m_core.SetStatusMode(Status("IDLE"), QString());
    if (file.Failed()) {
        UserMessage::Show(QString::fromLatin1(PcLogger::kWriteErrorText),
            QString::fromLatin1(PcLogger::kDatalogErrorTitle));
        return;
    }
    m_core.ClearDisplay();
    LoadLog();
}

void MeterDialogue::LoadLog()
{
    if (!m_core.IsIdle())
        return;
    // A log that cannot be read leaves the one shown as it is; every load that brings no
    // rows, or not all of them, says so.
    const QString path = m_core.fields.fileName.trimmed();
    const QString name = QFileInfo(path).fileName();
    QString problem;
    LogLoader::Outcome outcome = LogLoader::Outcome::Rows;
    if (path.isEmpty() || path == QLatin1String(DatalogCore::kPlaceholderFileName)) {
        problem = QStringLiteral("Enter the name of the log file to load in E-LOG FILENAME,\n"
                                 "or choose it with Browse.");
    } else if (!LogLoader::LoadFile(path, m_core.log, &outcome)) {
        problem = QFileInfo::exists(path)
            ? QStringLiteral("%1 could not be read.\nCheck that you may open it.").arg(name)
            : QStringLiteral("%1 was not found in %2.").arg(name, QFileInfo(path).absolutePath());
    } else {
        m_core.ListsReset();
        m_core.FieldsChanged();
        if (outcome == LogLoader::Outcome::NoRows)
            problem = QStringLiteral("%1 holds no logged rows.").arg(name);
        else if (outcome == LogLoader::Outcome::Cut)
            problem = QStringLiteral("%1 holds more rows than the datalogger takes: only the "
                                     "first %2 are loaded.")
                          .arg(name)
                          .arg(m_core.log.snapshotList.size());
    }
    if (!problem.isEmpty())
        UserMessage::Show(problem, QString::fromLatin1(PcLogger::kDatalogErrorTitle));
}

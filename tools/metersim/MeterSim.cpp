#include "MeterSim.h"

#include "PtyPort.h"
#include "base/PrintfText.h"

#include <QDateTime>
#include <QFile>

#include <cmath>

namespace {

constexpr char kAck = 0x1C; // the meter's acknowledgement byte
constexpr char kEsc = 0x1B;
constexpr int kDotsIdent = 6; // "." typed this often: identification text
constexpr int kDotsCommand = 18; // ... this often: command mode
constexpr int kLetterRun = 10; // "e" or "E" typed this often: stop or start the logger
constexpr int kLineMax = 80; // longest command line kept
constexpr int kEntryTimeoutMs = 5000; // data entry abandoned after this silence
constexpr int kTickPeriodMs = 250; // idle apostrophes after a logger command
constexpr int kTickCount = 40;
constexpr int kPendingMax = 65536; // bytes of answers held back at most

QByteArray Prompt()
{
    return QByteArray("\r\n>") + kAck;
}

bool IsHex2(const QByteArray &t)
{
    if (t.size() != 2)
        return false;
    for (char c : t) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

MeterSim::MeterSim(PtyPort &port)
    : m_port(port)
{
}

int MeterSim::Init(const MeterSettings &settings, QString *error)
{
    m_deafWakes = settings.deafWakes;
    m_answerWakes = settings.answerWakes;
    m_storeWrong = settings.storeWrong;
    m_flow.Configure(settings.total, settings.fixedFlow, settings.flow);
    if (!settings.logFile.isEmpty()) {
        QFile log(settings.logFile);
        if (!log.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the stored log %1").arg(settings.logFile);
            return 0;
        }
        m_logger.Preload(log.read(0xFFFF));
    }
    return m_meter.Init(settings, error);
}

// ---------------------------------------------------------------- output

void MeterSim::Say(const QByteArray &text)
{
    // A program that never falls silent gets no answers; what piles up meanwhile is bounded
    // (a real meter's output buffer overflows too).
    if (m_pending.size() + text.size() <= kPendingMax)
        m_pending += text;
}

void MeterSim::Echo(const QByteArray &text)
{
    // Keep the order of what the meter says: an echo never overtakes a waiting answer.
    if (!m_pending.isEmpty())
        Say(text);
    else
        m_port.Write(text);
}

void MeterSim::Prompt()
{
    Say(::Prompt());
}

void MeterSim::StartTicker(qint64 nowMs)
{
    m_ticks = kTickCount;
    m_nextTickMs = nowMs + kTickPeriodMs;
}

void MeterSim::EnterRun()
{
    m_mode = Mode::Run;
    m_line.clear();
    m_dots = 0;
    Say("\r\nRUN\r\n");
}

void MeterSim::EnterCommand()
{
    m_mode = Mode::Command;
    m_line.clear();
    m_dots = 0;
    Prompt();
}

// ---------------------------------------------------------------- screens

void MeterSim::DrawMainScreen()
{
    QByteArray s;
    s += kEsc;
    s += '\n';
    s += m_meter.Settings().quixal ? " HALVREN  QUIXAL  THERMAL MASS FLOW METER\r\n"
                                   : " HALVREN  KELVANE  THERMAL MASS FLOW METER\r\n";
    s += m_meter.IdentLine() + "\r\n";
    s += "\r\n";
    s += "  [    REDRAW THIS SCREEN        r    RUN MODE\r\n";
    s += "  i    IDENTIFICATION            c    CONFIGURATION\r\n";
    s += "  1-4  SELECT RANGE              l    LOGGER STATUS\r\n";
    s += "\r\n";
    s += " SELECT: ";
    m_pending = s;
}

void MeterSim::DrawConfigScreen()
{
    QByteArray s;
    s += kEsc;
    s += '\n';
    s += " CONFIGURATION, RANGE " + QByteArray::number(m_meter.Range()) + "\r\n";
    s += " SERIAL NUMBER     " + QByteArray::number(m_meter.Serial()) + "\r\n";
    s += " FULL SCALE        " + m_meter.ItemValue(140).toLatin1() + " "
        + m_meter.FlowUnits().toLatin1() + "\r\n";
    s += " X-SECTION         " + m_meter.ItemValue(813).toLatin1() + "\r\n";
    s += " ZERO OFFSET       " + m_meter.ItemValue(812).toLatin1() + "\r\n";
    s += " CALIBRATION DUE   " + m_meter.ItemValue(221).toLatin1() + "\r\n";
    s += " LAYOUT            " + m_meter.Image().Section().toLatin1() + ", "
        + QByteArray::number(m_meter.Image().TextByteCount()) + " BYTES\r\n";
    s += "\r\n";
    s += " [ MAIN MENU   r RUN MODE\r\n";
    s += " SELECT: ";
    m_pending = s;
}

void MeterSim::DrawLoggerScreen()
{
    const QByteArray c = m_logger.Config();
    const auto b = [&c](int i) {
        return QByteArray::number(int((unsigned char)c.at(i))).rightJustified(2, '0');
    };
    QByteArray s;
    s += kEsc;
    s += '\n';
    s += " LOGGER " + m_logger.StateText().toLatin1() + "\r\n";
    s += " START     " + b(0) + "/" + b(1) + "/" + b(2) + " " + b(6) + ":" + b(7) + ":" + b(8)
        + "\r\n";
    s += " STOP      " + b(3) + "/" + b(4) + "/" + b(5) + " " + b(9) + ":" + b(10) + ":" + b(11)
        + "\r\n";
    s += " INTERVAL  " + b(12) + ":" + b(13) + ":" + b(14) + "\r\n";
    s += " OPTIONS   " + QByteArray::number(int((unsigned char)c.at(15))) + "   TIMER "
        + ((c.at(16) & 1) ? "ON" : "OFF") + "\r\n";
    s += " ROWS      " + QByteArray::number(m_logger.Rows()) + "   FREE "
        + QByteArray::number(m_logger.FreeBytes()) + " BYTES\r\n";
    s += "\r\n";
    s += " [ MAIN MENU   r RUN MODE\r\n";
    s += " SELECT: ";
    m_pending = s;
}

// ---------------------------------------------------------------- input

void MeterSim::OnInput(const QByteArray &bytes, qint64 nowMs)
{
    if (m_meter.Settings().silent)
        return;
    for (char c : bytes)
        OnByte((unsigned char)c, nowMs);
}

void MeterSim::CountLetters(unsigned char c, qint64 nowMs)
{
    // Runs of "e" stop the logger, runs of "E" start it; the first ten of a run decide.
    if (c == 'e') {
        m_upperE = 0;
        if (++m_lowerE == kLetterRun) {
            m_logger.Stop(QDateTime::currentDateTime());
        }
        return;
    }
    if (c == 'E') {
        m_lowerE = 0;
        if (++m_upperE == kLetterRun) {
            m_logger.StartManual(QDateTime::currentDateTime(), QString::number(m_meter.Serial()),
                m_meter.FlowUnits());
            m_nextLoggerMs = nowMs;
        }
        return;
    }
    m_lowerE = m_upperE = 0;
}

void MeterSim::OnByte(unsigned char c, qint64 nowMs)
{
    m_lastInputMs = nowMs;
    if (c != '\n')
        m_ticks = 0; // input ends the idle apostrophes (not the LF that ends the command itself)
    CountLetters(c, nowMs);
    if (m_mode == Mode::Run || m_mode == Mode::Menu) {
        OnRunOrMenuByte(c, nowMs);
        return;
    }
    if (m_mode == Mode::Command
        && ((c == 'e' && m_lowerE >= kLetterRun) || (c == 'E' && m_upperE >= kLetterRun))) {
        // A logger start or stop typed in command mode: the letters are no command line.
        m_line.clear();
        return;
    }
    OnCommandByte(c, nowMs);
}

void MeterSim::OnRunOrMenuByte(unsigned char c, qint64 nowMs)
{
    const bool menu = m_mode == Mode::Menu;
    if (c == '.') {
        if (nowMs - m_lastDotMs > 2000)
            m_dots = 0;
        m_lastDotMs = nowMs;
        if (menu)
            Echo(".");
        ++m_dots;
        if (m_dots == kDotsIdent)
            Say("\r\n" + m_meter.IdentText() + "\r\n");
        if (m_dots == kDotsCommand) {
            if (m_answerWakes == 0) {
                // A meter that went away after answering as many wake-ups as it was given.
                m_dots = 0;
                return;
            }
            if (m_answerWakes > 0 && m_deafWakes == 0)
                --m_answerWakes;
            if (m_deafWakes > 0) {
                // A meter busy elsewhere: this wake-up goes unanswered.
                --m_deafWakes;
                m_dots = 0;
                return;
            }
            EnterCommand();
        }
        return;
    }
    m_dots = 0;
    if (c == '[') {
        m_mode = Mode::Menu;
        DrawMainScreen();
        return;
    }
    if (!menu)
        return; // run mode takes no other keys (e and E were counted above)

    switch (c) {
    case 'r':
    case 'R':
        EnterRun();
        return;
    case 'i':
    case 'I':
        Echo(QByteArray(1, char(c)));
        Say("\r\n" + m_meter.IdentText() + "\r\n SELECT: ");
        return;
    case 'c':
    case 'C':
        DrawConfigScreen();
        return;
    case 'l':
    case 'L':
        DrawLoggerScreen();
        return;
    case '1':
    case '2':
    case '3':
    case '4':
        Echo(QByteArray(1, char(c)));
        m_meter.SetRange(c - '0');
        m_meter.SaveImage();
        DrawMainScreen();
        return;
    case 'e':
    case 'E':
        Echo(QByteArray(1, char(c)));
        return;
    case '\r':
        Echo("\r\n SELECT: ");
        return;
    case '\n':
        return;
    default:
        break;
    }
    if (c >= 32 && c < 127) {
        // Not a menu key: show it, then take it back.
        Echo(QByteArray(1, char(c)) + "\b \b");
    }
}

void MeterSim::OnCommandByte(unsigned char c, qint64 nowMs)
{
    if (c == '\n') {
        // A line feed right after a carriage return belongs to the same line end; a lone one
        // (some terminals send only LF) ends a line as well.
        if (m_lastWasCr) {
            m_lastWasCr = false;
            return;
        }
        c = '\r';
    }
    m_lastWasCr = c == '\r';
    if (c == '\r') {
        const QByteArray line = m_line;
        m_line.clear();
        OnLine(line, nowMs);
        return;
    }
    if (m_line.isEmpty() && (c == 'r' || c == 'R')) {
        // "r" leads back to run mode from every command state; no value or hex byte starts
        // with it, so an interrupted write or entry is simply abandoned.
        m_imageIn.clear();
        m_configIn.clear();
        EnterRun();
        return;
    }
    if (m_mode == Mode::Command || m_mode == Mode::Item) {
        if (m_line.isEmpty() && c == '.') {
            // A lone "." steps back: out of an item, or a fresh prompt.
            m_mode = Mode::Command;
            Prompt();
            return;
        }
        if (m_line.isEmpty() && c == '[') {
            m_mode = Mode::Menu;
            DrawMainScreen();
            return;
        }
    }
    if (c == 8 || c == 127) {
        if (!m_line.isEmpty())
            m_line.chop(1);
        return;
    }
    if (c < 32 || c >= 127)
        return; // binary noise is ignored
    if (m_line.size() >= kLineMax) {
        // An endless line is noise; drop it and say so.
        m_line.clear();
        if (m_mode == Mode::Command) {
            Say("\r\nERR LINE TOO LONG");
            Prompt();
        }
        return;
    }
    m_line.append(char(c));
}

void MeterSim::OnLine(const QByteArray &rawLine, qint64 nowMs)
{
    const QByteArray line = rawLine.trimmed();
    switch (m_mode) {
    case Mode::Command:
        if (line.isEmpty())
            Prompt();
        else
            RunCommand(line, nowMs);
        return;
    case Mode::Item:
        OnItemLine(line);
        return;
    case Mode::ImageIn:
        m_entryDeadline = nowMs + kEntryTimeoutMs;
        OnImageLine(line);
        return;
    case Mode::RangeIn:
        OnRangeLine(line);
        return;
    case Mode::ConfigIn:
        m_entryDeadline = nowMs + kEntryTimeoutMs;
        OnConfigLine(line);
        if (m_mode == Mode::Command)
            StartTicker(nowMs);
        return;
    case Mode::Run:
    case Mode::Menu:
        return;
    }
}

void MeterSim::RunCommand(const QByteArray &cmd, qint64 nowMs)
{
    bool numeric = false;
    const int code = cmd.toInt(&numeric);
    if (!numeric) {
        Say("\r\nERR " + cmd.left(16).toUpper());
        Prompt();
        return;
    }
    switch (code) {
    case 600: // parameter group; the items below are reached from here
        Prompt();
        return;
    case 221:
    case 140:
    case 813:
    case 812: {
        static const char *const names[] = { "CAL DATE", "FLOW RANGE", "X-SECT", "ZERO OFFSET" };
        const int idx = code == 221 ? 0 : code == 140 ? 1 : code == 813 ? 2 : 3;
        m_item = code;
        m_mode = Mode::Item;
        Say(QByteArray("\r\n") + names[idx] + " =" + m_meter.ItemValue(code).toLatin1() + "="
            + kAck);
        return;
    }
    case 956: {
        // The token's characters 5 to 8 are the free log memory in hexadecimal.
        const QString token = m_meter.Settings().memToken.isEmpty()
            ? PrintfText::Format("MEM:%04X", m_logger.FreeBytes())
            : m_meter.Settings().memToken;
        Say(token.toLatin1() + " BYTES FREE\r\n");
        StartTicker(nowMs);
        return;
    }
    case 955:
        m_mode = Mode::ConfigIn;
        m_configIn.clear();
        m_entryDeadline = nowMs + kEntryTimeoutMs;
        return;
    case 954:
        Say(m_logger.Config());
        StartTicker(nowMs);
        return;
    case 953: {
        const QByteArray text = m_logger.LogText().left(0xFFFF);
        QByteArray out;
        out += char((text.size() >> 8) & 0xFF);
        out += char(text.size() & 0xFF);
        out += text;
        Say(out);
        StartTicker(nowMs);
        return;
    }
    case 466:
        m_logger.Arm(QString::number(m_meter.Serial()), m_meter.FlowUnits());
        Say("\r\nLOGGER ARMED\r\n");
        StartTicker(nowMs);
        return;
    case 100:
        Say(PrintfText::Format("\r\nVER=%s REV=%s SN=%u RNG=%d MOD=%s",
            qPrintable(m_meter.Settings().version.left(4)),
            qPrintable(m_meter.Settings().revision.left(1)), m_meter.Serial(), m_meter.Range(),
            qPrintable(m_meter.Settings().model))
                .toLatin1());
        Prompt();
        return;
    case 110:
        Say("\r\nIMG=" + m_meter.Image().ToText(' ') + "\r\nEND");
        Prompt();
        return;
    case 120:
        m_mode = Mode::ImageIn;
        m_imageIn.clear();
        m_entryDeadline = nowMs + kEntryTimeoutMs;
        Say("\r\nSEND IMAGE " + QByteArray::number(m_meter.Image().TextByteCount()) + " BYTES");
        Prompt();
        return;
    case 130:
        m_mode = Mode::RangeIn;
        m_entryDeadline = nowMs + kEntryTimeoutMs;
        Say("\r\nRANGE 1-4 ?");
        Prompt();
        return;
    default:
        break;
    }
    Say("\r\nERR " + cmd.left(16));
    Prompt();
}

void MeterSim::OnItemLine(const QByteArray &line)
{
    m_mode = Mode::Command;
    if (line.isEmpty() || line == ".") {
        Prompt();
        return;
    }
    bool ok = false;
    if (m_item == 812) {
        const float z = line.toFloat(&ok);
        if (ok && std::fabs(z) <= 5.0f) {
            m_meter.Image().SetF(QStringLiteral("coeff[11]"), z);
            m_meter.SaveImage();
            Say("\r\nSTORED*");
        } else {
            Say("\r\nREFUSED");
        }
    } else if (m_item == 221) {
        const QList<QByteArray> parts = line.split('/');
        int a = 0, b = 0, c = 0;
        if (parts.size() == 3) {
            bool o1, o2, o3;
            a = parts[0].toInt(&o1);
            b = parts[1].toInt(&o2);
            c = parts[2].toInt(&o3);
            ok = o1 && o2 && o3 && a >= 1 && a <= 12 && b >= 1 && b <= 31 && c >= 0 && c <= 99;
        }
        if (ok) {
            m_meter.Image().SetU(QStringLiteral("cal_date"),
                (quint32(b) << 24) | (quint32(a) << 16) | (quint32(c) << 8));
            m_meter.SaveImage();
            Say("\r\nSTORED*");
        } else {
            Say("\r\nREFUSED");
        }
    } else {
        Say("\r\nREAD ONLY");
    }
    Prompt();
}

void MeterSim::OnImageLine(const QByteArray &line)
{
    if (line.isEmpty()) {
        FinishImage();
        return;
    }
    // One byte per line as the program sends it; several blank-separated bytes are taken
    // too, for a technician typing at a terminal.
    for (const QByteArray &tok : line.simplified().split(' ')) {
        if (!IsHex2(tok)) {
            m_mode = Mode::Command;
            m_imageIn.clear();
            Say("\r\nIMAGE REFUSED BAD DATA");
            Prompt();
            return;
        }
        if (m_imageIn.size() < 4096)
            m_imageIn.append(char(tok.toInt(nullptr, 16)));
    }
}

void MeterSim::FinishImage()
{
    m_mode = Mode::Command;
    const int want = m_meter.Image().TextByteCount();
    QByteArray reason;
    if (m_imageIn.size() != want) {
        reason = "SIZE " + QByteArray::number(m_imageIn.size()) + " OF " + QByteArray::number(want);
    } else {
        MeterImage check = m_meter.Image();
        check.FromTextBytes(m_imageIn);
        if (check.Has(QStringLiteral("key")) && check.GetU(QStringLiteral("key")) != 0xAA)
            reason = "KEY";
    }
    if (!reason.isEmpty()) {
        Say("\r\nIMAGE REFUSED " + reason);
    } else {
        // A meter with a fault in its memory: one byte stored other than it came.
        if (m_storeWrong >= 0 && m_storeWrong < m_imageIn.size())
            m_imageIn[m_storeWrong] = char(m_imageIn.at(m_storeWrong) ^ 0x01);
        m_meter.Image().FromTextBytes(m_imageIn);
        m_meter.SaveImage();
        Say("\r\nIMAGE STORED*");
    }
    m_imageIn.clear();
    Prompt();
}

void MeterSim::OnRangeLine(const QByteArray &line)
{
    m_mode = Mode::Command;
    if (line.size() >= 1 && line.at(0) >= '1' && line.at(0) <= '4'
        && (line.size() == 1 || line.at(1) == ' ')) {
        m_meter.SetRange(line.at(0) - '0');
        m_meter.SaveImage();
        Say("\r\nRANGE " + QByteArray::number(m_meter.Range()) + " ACTIVE*");
    } else {
        Say("\r\nRANGE REFUSED");
    }
    Prompt();
}

void MeterSim::OnConfigLine(const QByteArray &line)
{
    if (line.isEmpty())
        return;
    bool ok = false;
    const int v = line.toInt(&ok);
    m_configIn.append(char(ok ? (v & 0xFF) : 0));
    Say(QByteArray(1, kAck));
    if (m_configIn.size() == MeterLogger::kConfigSize) {
        m_logger.SetConfig(m_configIn);
        m_configIn.clear();
        m_mode = Mode::Command;
    }
}

// ---------------------------------------------------------------- time

MeterLogger::Reading MeterSim::CurrentReading(qint64 nowMs)
{
    return m_flow.Next(nowMs, m_meter.FullScale(), m_meter.Tracking());
}

QByteArray MeterSim::ReadingLine(const MeterLogger::Reading &r) const
{
    // flow, unit, total, total unit, high, low, relay 1, relay 2; upper case only. The
    // acknowledgement byte closes each record, so a program waiting for one after sending
    // the meter back to run mode sees the stream start.
    const QString units = m_meter.FlowUnits();
    QString line = r.flow + units + QStringLiteral("  ") + r.total + units.left(3)
        + QStringLiteral("  ") + r.high + QStringLiteral("  ") + r.low + QStringLiteral("  ")
        + r.relay1 + QStringLiteral(" ") + r.relay2;
    return line.toLatin1() + kAck + "\r\n";
}

void MeterSim::OnTime(qint64 nowMs)
{
    if (m_meter.Settings().silent)
        return;
    m_flow.Start(nowMs);

    // Answers go out once the program has stopped sending (it purges its input right after
    // some commands, so an answer that came too early would be lost).
    if (!m_pending.isEmpty() && nowMs - m_lastInputMs >= m_meter.Settings().quietMs) {
        const QByteArray out = m_pending;
        m_pending.clear();
        m_port.Write(out);
    }

    const bool entry
        = m_mode == Mode::ImageIn || m_mode == Mode::RangeIn || m_mode == Mode::ConfigIn;
    if (entry && nowMs > m_entryDeadline) {
        const bool image = m_mode == Mode::ImageIn;
        m_mode = Mode::Command;
        m_imageIn.clear();
        m_configIn.clear();
        Say(image ? "\r\nIMAGE REFUSED TIMEOUT" : "\r\nTIMEOUT");
        Prompt();
    }

    if (m_ticks > 0 && nowMs >= m_nextTickMs && m_pending.isEmpty()
        && nowMs - m_lastInputMs >= m_meter.Settings().quietMs) {
        m_port.Write("'");
        --m_ticks;
        m_nextTickMs = nowMs + kTickPeriodMs;
    }

    if (nowMs >= m_nextLineMs) {
        // A meter's own clock: a late turn does not slow the stream down (after a stall of a
        // whole period or more, the stream goes on from now).
        const qint64 period = qMax(50, m_meter.Settings().streamMs);
        m_nextLineMs = m_nextLineMs + period > nowMs ? m_nextLineMs + period : nowMs + period;
        const MeterLogger::Reading r = CurrentReading(nowMs);
        if (m_mode == Mode::Run && m_pending.isEmpty()) {
            const QByteArray line = ReadingLine(r);
            if (m_port.Write(line) == line.size())
                ++m_linesStreamed;
        }
    }

    if (nowMs >= m_nextLoggerMs) {
        m_nextLoggerMs = nowMs + 250;
        if (m_logger.IsRunning() || m_logger.IsArmed())
            m_logger.Tick(QDateTime::currentDateTime(), CurrentReading(nowMs));
    }
}

int MeterSim::NextWakeMs(qint64 nowMs) const
{
    qint64 next = nowMs + 1000;
    const auto consider = [&next](qint64 t) {
        if (t < next)
            next = t;
    };
    if (!m_pending.isEmpty())
        consider(m_lastInputMs + m_meter.Settings().quietMs);
    consider(m_nextLineMs);
    if (m_ticks > 0)
        consider(qMax(m_nextTickMs, m_lastInputMs + m_meter.Settings().quietMs));
    if (m_logger.IsRunning() || m_logger.IsArmed())
        consider(m_nextLoggerMs);
    if (m_mode == Mode::ImageIn || m_mode == Mode::RangeIn || m_mode == Mode::ConfigIn)
        consider(m_entryDeadline + 1);
    const qint64 d = next - nowMs;
    return d < 0 ? 0 : int(d);
}

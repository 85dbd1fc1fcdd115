#include "MeterLogger.h"

namespace {

QString DateText(const QDateTime &t)
{
    return t.toString(QStringLiteral("MM/dd/yyyy"));
}

QString TimeText(const QDateTime &t)
{
    // "%I:%M:%S %p": 12-hour clock with leading zero and AM/PM.
    return t.toString(QStringLiteral("hh:mm:ss AP"));
}

const char *const kColumnHeads[8]
    = { "; Date ", "; Time ", "; Flow ", "; Total ", "; High ", "; Low ", "; Relay1 ", "; Relay2" };

} // namespace

MeterLogger::MeterLogger()
{
    const QDate today = QDate::currentDate();
    const char defaults[kConfigSize]
        = { char(today.month()), char(today.day()), char(today.year() % 100), char(today.month()),
              char(today.day()), char(today.year() % 100), 0, 0, 0, 23, 59, 59, 0, 0, 5, 32, 0 };
    m_config = QByteArray(defaults, kConfigSize);
}

void MeterLogger::SetConfig(const QByteArray &config)
{
    if (config.size() == kConfigSize)
        m_config = config;
}

int MeterLogger::IntervalSeconds() const
{
    const auto b = [this](int i) { return int((unsigned char)m_config.at(i)); };
    const int s = b(12) * 3600 + b(13) * 60 + b(14);
    return s < 1 ? 5 : s;
}

QDateTime MeterLogger::ConfigTime(int first) const
{
    // first = 0 for the start, 3 for the stop; times follow at 6 and 9.
    const auto b = [this](int i) { return int((unsigned char)m_config.at(i)); };
    const QDate date(2000 + b(first + 2), b(first), b(first + 1));
    const QTime time(b(6 + first), b(7 + first), b(8 + first));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

void MeterLogger::Begin(const QDateTime &now)
{
    m_text.clear();
    m_rows = 0;
    m_full = false;
    const int options = (unsigned char)m_config.at(15);
    const int interval = IntervalSeconds();
    QByteArray t;
    t += "\"Serial#  " + m_serial.toLatin1() + "   Start Date: " + DateText(now).toLatin1()
        + "   Time: " + TimeText(now).toLatin1() + "\n";
    t += "\n";
    t += "\"Snapshot Interval = " + QByteArray::number(interval) + " secs   Flow Units = "
        + m_units.toLatin1() + "   Total Units = " + m_units.left(3).toLatin1() + "\n";
    t += "\n";
    // The PC log writes this line with its own CR before the line end; the meter keeps that.
    t += "\"Options Selected:\r\n";
    t += ";Line ";
    for (int i = 0; i < 8; ++i) {
        if (options & (0x80 >> i))
            t += kColumnHeads[i];
    }
    t += "\n";
    m_text = t;
    m_state = State::Running;
    m_nextRow = now;
}

void MeterLogger::StartManual(const QDateTime &now, const QString &serial, const QString &flowUnits)
{
    m_serial = serial;
    m_units = flowUnits;
    Begin(now);
}

void MeterLogger::Arm(const QString &serial, const QString &flowUnits)
{
    m_serial = serial;
    m_units = flowUnits;
    m_text.clear();
    m_rows = 0;
    m_state = State::Armed;
}

void MeterLogger::Stop(const QDateTime &now)
{
    if (m_state == State::Running)
        m_text += "\n\"Stop Ocurred " + DateText(now).toLatin1() + " " + TimeText(now).toLatin1()
            + "\n";
    m_state = State::Stopped;
}

void MeterLogger::Tick(const QDateTime &now, const Reading &reading)
{
    if (m_state == State::Armed) {
        const QDateTime start = ConfigTime(0);
        if (start.isValid() && now >= start)
            Begin(now);
        else
            return;
    }
    if (m_state != State::Running)
        return;
    const int timerEnabled = m_config.at(16) & 1;
    if (timerEnabled) {
        const QDateTime stop = ConfigTime(3);
        if (stop.isValid() && now >= stop) {
            Stop(now);
            return;
        }
    }
    if (now < m_nextRow || m_full)
        return;
    m_nextRow = now.addSecs(IntervalSeconds());
    const int options = (unsigned char)m_config.at(15);
    const QString values[8] = { DateText(now), TimeText(now), reading.flow, reading.total,
        reading.high, reading.low, reading.relay1, reading.relay2 };
    QByteArray row = "; " + QByteArray::number(m_rows + 1);
    for (int i = 0; i < 8; ++i) {
        if (options & (0x80 >> i))
            row += "; " + values[i].toLatin1() + " ";
    }
    row += "\n";
    // Keep room for the stop line; a full memory stops storing rows but keeps the run.
    if (m_text.size() + row.size() + 48 > kCapacity) {
        m_full = true;
        return;
    }
    m_text += row;
    ++m_rows;
}

int MeterLogger::FreeBytes() const
{
    const int free = kCapacity - int(m_text.size());
    return free < 0 ? 0 : free;
}

QString MeterLogger::StateText() const
{
    switch (m_state) {
    case State::Running:
        return m_full ? QStringLiteral("RUNNING, MEMORY FULL") : QStringLiteral("RUNNING");
    case State::Armed:
        return QStringLiteral("WAITING FOR START TIME");
    case State::Stopped:
        break;
    }
    return QStringLiteral("STOPPED");
}

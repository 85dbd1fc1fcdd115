#include "datalog/LoggerConfigDialogue.h"

#include "audit/AuditLog.h"
#include "audit/AuditRecord.h"
#include "audit/AuditSettings.h"
#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/MeterSession.h"
#include "datalog/DatalogFieldRules.h"
#include "datalog/DatalogModel.h"
#include "datalog/MeterDialogue.h"
#include "meter/MeterSeries.h"

namespace {
// Values of the logger configuration ("955" and "954").
constexpr int kConfigValues = 17;
} // namespace

LoggerConfigDialogue::LoggerConfigDialogue(MeterDialogue &meter)
    : m_meter(meter)
    , m_model(meter.Model())
{
}

int LoggerConfigDialogue::OptionsValue(const bool options[8])
{
    int value = 0;
    for (int i = 0; i < 8; ++i) {
        if (options[i])
            value |= 0x80 >> i;
    }
    return value;
}

Task<void> LoggerConfigDialogue::SendConfiguration()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!m_meter.Begin(&claim))
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
    if (!co_await m_meter.MeterAnswers() || !co_await m_meter.CheckMeter()
        || !co_await m_meter.ContactMeter()) {
        AuditConfiguration(
            action, m_meter.Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"));
        co_return;
    }
    co_await m_meter.Send("955\r\n");
    m_model.SetStatus(MeterDialogue::Status("Data Transfer in Progress"));
    for (int i = 0; i < kConfigValues && !m_meter.Cancelled(); ++i) {
        m_model.SetProgress(MeterDialogue::OneOf("value", i + 1, kConfigValues));
        co_await m_meter.SendCommand(values.at(i) + "\r\n");
        // Dates and times are each acknowledged within 25 rounds, the interval's hours and
        // minutes within 20; the seconds, options and timer flag follow at once.
        if (i < 12)
            co_await m_meter.WaitForAck(25);
        else if (i < 14)
            co_await m_meter.WaitForAck(20);
    }
    if (m_meter.Cancelled()) {
        AuditConfiguration(action, QStringLiteral("cancelled"));
        co_return;
    }
    m_model.SetProgress(QString());
    m_model.SetStatus(MeterDialogue::Status("Transfer Completed"));
    co_await m_meter.WaitForAck(20);
    co_await m_meter.ReturnToRunMode();
    m_model.SetStatusMode(MeterDialogue::Status("IDLE"), QString());
    AuditConfiguration(action, QStringLiteral("ok"));
}

Task<void> LoggerConfigDialogue::ReadConfiguration()
{
    if (!m_model.IsIdle())
        co_return;
    SerialPort::Claim claim;
    if (!m_meter.Begin(&claim))
        co_return;
    const QString action = QStringLiteral("read logger configuration");
    if (!co_await m_meter.MeterAnswers() || !co_await m_meter.CheckMeter()
        || !co_await m_meter.ContactMeter()) {
        AuditConfiguration(
            action, m_meter.Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"));
        co_return;
    }
    co_await m_meter.Send("954\r\n");
    m_meter.Purge();
    m_model.SetStatus(MeterDialogue::Status("Data Transfer in Progress"));
    unsigned char b[kConfigValues] = {};
    for (int i = 0; i < kConfigValues; ++i) {
        m_model.SetProgress(MeterDialogue::OneOf("byte", i + 1, kConfigValues));
        if (!co_await m_meter.ReadOne(MeterDialogue::kLongPolls, &b[i])) {
            const bool cancelled = m_meter.Cancelled();
            if (!cancelled)
                co_await m_meter.NotResponding();
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
    m_model.SetStatus(MeterDialogue::Status("Transfer Completed"));
    m_meter.Purge();
    co_await m_meter.ReturnToRunMode();
    m_model.ShowSnapshotCapacity();
    m_model.SetStatusMode(MeterDialogue::Status("IDLE"), QString());
    AuditConfiguration(action, QStringLiteral("ok"));
}

void LoggerConfigDialogue::AuditConfiguration(const QString &action, const QString &result)
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
        m_meter.Say(error + QStringLiteral("\nThe logger's configuration is not affected."),
            QString::fromLatin1(kAppTitle));
}

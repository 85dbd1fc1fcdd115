#include "cli/CliModbusCommand.h"

#include "base/CsvTime.h"
#include "base/DialogueRunner.h"
#include "base/ReadingSink.h"
#include "cli/CliContext.h"
#include "link/SerialPortList.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusPoller.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {
// "1-8", "1,3,5" or a mix ("1-3,7"): the addresses in order; empty for a text that names none
// or an address outside 1..247.
QList<int> AddressList(const QString &text)
{
    QList<int> addresses;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = item.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int first = ends.value(0).trimmed().toInt(&ok1);
        const int last = ends.size() == 2 ? ends.at(1).trimmed().toInt(&ok2) : first;
        if (ends.size() > 2 || !ok1 || !ok2 || first < 1 || last > 247 || last < first)
            return {};
        for (int a = first; a <= last; ++a)
            addresses << a;
    }
    return addresses;
}

} // namespace

Task<void> CliModbusCommand::Modbus()
{
    const bool scan = m_cli.args.Has(QStringLiteral("--scan"));
    const QList<int> addresses = AddressList(scan && !m_cli.args.Has(QStringLiteral("--addresses"))
            ? QStringLiteral("1-247")
            : m_cli.args.Value(QStringLiteral("--addresses")));
    ModbusMaster::Timing timing;
    bool timeoutOk = true, retriesOk = true;
    if (m_cli.args.Has(QStringLiteral("--timeout")))
        timing.headerMs = m_cli.args.Value(QStringLiteral("--timeout")).toInt(&timeoutOk);
    if (m_cli.args.Has(QStringLiteral("--retries")))
        timing.attempts = m_cli.args.Value(QStringLiteral("--retries")).toInt(&retriesOk) + 1;
    if (!timeoutOk || timing.headerMs < 1 || timing.headerMs > 60000 || !retriesOk
        || timing.attempts < 1 || timing.attempts > 100) {
        CliContext::Err(QStringLiteral("modbus takes --timeout MS from 1 to 60000 and --retries N "
                                       "from 0 to 99 (\"tarvik-cli modbus --help\")."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    if (scan
        && (m_cli.PortArg().isEmpty() || addresses.isEmpty()
            || m_cli.args.Has(QStringLiteral("--csv"))
            || m_cli.args.Has(QStringLiteral("--csv-dialect"))
            || m_cli.args.Has(QStringLiteral("--count")) || m_cli.args.Has(QStringLiteral("--mqtt"))
            || !m_cli.args.Plain().isEmpty())) {
        CliContext::Err(QStringLiteral("modbus --scan takes --port P, --addresses A-B (within "
                                       "1..247, default all), --json, --timeout and --retries "
                                       "(\"tarvik-cli modbus --help\")."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    if (m_cli.args.Has(QStringLiteral("--csv-dialect"))) {
        const std::optional<CsvDialect> dialect
            = CsvDialect::FromName(m_cli.args.Value(QStringLiteral("--csv-dialect")));
        if (!dialect) {
            CliContext::Err(QStringLiteral("--csv-dialect %1 is no CSV dialect: give %2.")
                                .arg(m_cli.args.Value(QStringLiteral("--csv-dialect")),
                                    CsvDialect::Names().join(QStringLiteral(", "))));
            m_cli.code = CliContext::kBadInput;
            co_return;
        }
        m_dialect = *dialect;
    } else {
        m_dialect.SetLineEnd("\n"); // as a shell's lines end, as before dialects were offered
    }
    bool countOk = true, intervalOk = true;
    const int count = m_cli.args.Has(QStringLiteral("--count"))
        ? m_cli.args.Value(QStringLiteral("--count")).toInt(&countOk)
        : 1;
    const int interval = m_cli.args.Has(QStringLiteral("--interval"))
        ? m_cli.args.Value(QStringLiteral("--interval")).toInt(&intervalOk)
        : 1000;
    if (m_cli.PortArg().isEmpty() || addresses.isEmpty() || !countOk || count < 1 || !intervalOk
        || interval < 0 || !m_cli.args.Plain().isEmpty()) {
        CliContext::Err(
            QStringLiteral("modbus takes --port P --addresses A-B (within 1..247) and a count "
                           "of 1 or more (\"tarvik-cli modbus --help\")."));
        m_cli.code = CliContext::kBadInput;
        co_return;
    }
    const QString port = SerialPortList::Resolved(m_cli.PortArg());
    mbCSerial serial(port);
    serial.SetPortText(port);
    serial.SetBaudText(m_cli.Baud());
    serial.SetParityText(m_cli.args.Has(QStringLiteral("--parity"))
            ? m_cli.args.Value(QStringLiteral("--parity"))
            : QStringLiteral("1 8 EVEN 1"));
    if (!serial.OpenPort() || !co_await serial.ConnectedAsync(*m_cli.runner)) {
        CliContext::Err(QStringLiteral("Cannot use the port %1.\n%2")
                            .arg(port, serial.IsGone() ? serial.GoneText() : serial.LastError()));
        m_cli.code = CliContext::kPortUnusable;
        co_return;
    }
    SerialPort::Claim claim(&serial, this);
    ModbusMaster master(&serial);
    master.SetTiming(timing);
    if (scan) {
        co_await Scan(master, addresses);
        serial.ClosePort();
        co_return;
    }
    // The addresses are the poller's slots, in order.
    ModbusPoller poller(master, int(addresses.size()));
    ModbusPoller::Hooks hooks;
    hooks.address = [&addresses](int slot) { return QString::number(addresses.at(slot - 1)); };
    // What is published and the CSV rows carry each meter's units and serial number (the
    // published topic is keyed by it): one static sweep first tells both.
    QHash<int, Statics> units;
    ReadingSink *sink = m_cli.publishing ? ReadingSink::Instance() : nullptr;
    const bool csv = m_cli.args.Has(QStringLiteral("--csv"))
        || m_cli.args.Has(QStringLiteral("--csv-dialect"));
    if (sink || csv) {
        hooks.result = [&](const ModbusPoller::Result &r) {
            if (r.ok)
                units[addresses.at(r.slot - 1)] = { master.FlowUnitsText().trimmed(),
                    master.TotalizerUnitsText().trimmed(), master.SerialNumberText().trimmed() };
        };
        poller.SetHooks(hooks);
        ModbusPoller::Settings statics;
        statics.dynamic = false;
        statics.keepPolling = true;
        poller.SetSettings(statics);
        co_await poller.Run(*m_cli.runner);
    }
    const QString temperatureUnit = QString(QChar(0xB0)) + QLatin1Char('F');
    if (csv)
        CliContext::OutBytes(m_dialect.Preamble()
            + m_dialect.Row(
                { "sweep", "time", CsvTime::kOffsetHeader, "address", "serial", "flow", "flow unit",
                    "totalizer", "totalizer unit", "temperature", "temperature unit", "status" }));
    hooks.result = [&](const ModbusPoller::Result &r) {
        const int address = addresses.at(r.slot - 1);
        // A CSV line carries the date and offset (two cells) as every CSV the program writes
        // does; a line for people the clock time alone.
        const QDateTime now = QDateTime::currentDateTime();
        const QString time = now.time().toString(QStringLiteral("HH:mm:ss"));
        if (sink) {
            std::vector<ReadingSink::Value> values;
            if (r.ok)
                values = { { QStringLiteral("flow"), master.FlowText(), units[address].flowUnits },
                    { QStringLiteral("totalizer"), master.TotalizerText(),
                        units[address].totalizerUnits },
                    { QStringLiteral("temperature"), master.TemperatureText(), temperatureUnit } };
            sink->ModbusReading(now, address, units.value(address).serial, values,
                r.ok ? QString() : master.FailureText(r.address).trimmed());
        }
        if (!r.ok) {
            CliContext::Err(master.FailureText(r.address));
            m_cli.code = CliContext::kMeterFailed;
        }
        if (CliContext::OutputFailed()) {
            poller.Stop(); // nothing more can be recorded: the run ends with the reason
            return;
        }
        // A meter that failed keeps its row, cells empty, the failure in the status column:
        // the CSV alone shows every failure.
        if (csv) {
            const Statics known = units.value(address);
            const auto number = [&](const QString &text) {
                return r.ok ? m_dialect.Number(text.trimmed().toLatin1()) : QByteArray();
            };
            const auto text
                = [&](const QString &cell) { return r.ok ? m_dialect.Text(cell) : QByteArray(); };
            CliContext::OutBytes(m_dialect.Row({ QByteArray::number(r.sweep), m_dialect.Moment(now),
                QByteArray::number(address), m_dialect.Text(known.serial),
                number(master.FlowText()), text(known.flowUnits), number(master.TotalizerText()),
                text(known.totalizerUnits), number(master.TemperatureText()), text(temperatureUnit),
                r.ok ? QByteArray("ok")
                     : m_dialect.Text(master.FailureText(r.address).trimmed()) }));
        } else if (!r.ok)
            return;
        else
            CliContext::Out(QStringLiteral("%1 address %2: flow %3, totalizer %4, temperature %5\n")
                                .arg(time)
                                .arg(address)
                                .arg(master.FlowText().trimmed(), master.TotalizerText().trimmed(),
                                    master.TemperatureText().trimmed()));
        if (CliContext::OutputFailed())
            poller.Stop();
    };
    // Sweeps at the window's pace: a meter per step, a sweep every interval.
    hooks.sweepBegins = [&poller] {
        if (CliContext::OutputFailed())
            poller.Stop();
        return true;
    };
    poller.SetHooks(hooks);
    ModbusPoller::Settings settings;
    settings.sweeps = count;
    settings.periodMs = interval;
    settings.keepPolling = true;
    poller.SetSettings(settings);
    poller.SetNext(1);
    if (!m_cli.runner->Cancelled() && !CliContext::OutputFailed())
        co_await poller.Run(*m_cli.runner);
    if (m_cli.runner->Cancelled())
        CliContext::Err(QStringLiteral("Interrupted."));
    serial.ClosePort();
}

Task<void> CliModbusCommand::Scan(ModbusMaster &master, const QList<int> &addresses)
{
    // At the wire's pace: the next address is asked as soon as the last answered or timed out.
    const bool json = m_cli.args.Has(QStringLiteral("--json"));
    const bool progress = m_cli.Progress();
    QJsonArray found;
    int answered = 0, failed = 0;
    if (!json)
        CliContext::Out(QStringLiteral("address\tserial\tflow units\ttotalizer units\tmax range\t"
                                       "full scale\n"));
    for (const int address : addresses) {
        if (m_cli.runner->Cancelled() || CliContext::OutputFailed())
            break;
        if (progress)
            std::fprintf(stderr, "\rtarvik-cli: address %d of %d", address, int(addresses.last()));
        const QString text = QString::number(address);
        if (co_await master.ReadStaticAsync(*m_cli.runner, text)) {
            ++answered;
            const ScanRow row { address, master.SerialNumberText().trimmed(),
                master.FlowUnitsText().trimmed(), master.TotalizerUnitsText().trimmed(),
                master.MaxRangeText().trimmed(), master.FullScaleText().trimmed(), QString() };
            if (json)
                found.append(Json(row));
            else
                CliContext::Out(Line(row));
            continue;
        }
        if (m_cli.runner->Cancelled())
            break;
        // No reply is an address nobody has; a reply that is wrong (two meters at one address
        // garble each other's CRC) is said for that address.
        if (master.LastErrorKind() == ModbusMaster::TimedOut && !master.Port()->IsGone())
            continue;
        ++failed;
        if (progress)
            std::fputs("\n", stderr);
        CliContext::Err(master.FailureText(text));
        if (master.Port()->IsGone())
            break;
        if (json)
            found.append(Json({ address, {}, {}, {}, {}, {}, master.FailureText(text).trimmed() }));
    }
    if (progress)
        std::fputs("\n", stderr);
    if (json)
        CliContext::Out(QString::fromUtf8(QJsonDocument(found).toJson(QJsonDocument::Compact))
            + QLatin1Char('\n'));
    if (m_cli.runner->Cancelled())
        CliContext::Err(QStringLiteral("Interrupted."));
    if (!m_cli.args.Has(QStringLiteral("--quiet")))
        CliContext::Err(
            QStringLiteral("%1 of %2 addresses answered%3.")
                .arg(answered)
                .arg(addresses.size())
                .arg(failed ? QStringLiteral(", %1 with faulty replies").arg(failed) : QString()));
    if (failed > 0 || answered == 0)
        m_cli.code = CliContext::kMeterFailed;
}

QString CliModbusCommand::Line(const ScanRow &row)
{
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
        .arg(row.address)
        .arg(row.serial, row.flowUnits, row.totalizerUnits, row.maxRange, row.fullScale);
}

QJsonObject CliModbusCommand::Json(const ScanRow &row)
{
    QJsonObject object { { QStringLiteral("address"), row.address } };
    if (!row.failure.isEmpty()) {
        object.insert(QStringLiteral("failure"), row.failure);
        return object;
    }
    object.insert(QStringLiteral("serial"), row.serial);
    object.insert(QStringLiteral("flow_units"), row.flowUnits);
    object.insert(QStringLiteral("totalizer_units"), row.totalizerUnits);
    object.insert(QStringLiteral("max_range"), row.maxRange.toDouble());
    object.insert(QStringLiteral("full_scale"), row.fullScale.toDouble());
    return object;
}

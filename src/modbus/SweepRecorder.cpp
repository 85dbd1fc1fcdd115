#include "modbus/SweepRecorder.h"

#include "base/CsvTime.h"
#include "base/ScanText.h"

#include <QFileInfo>

namespace {

// A number as the master printed it, trimmed; anything that is not one gives an empty cell.
QByteArray NumberCell(const QString &text)
{
    const QString t = text.trimmed();
    return ScanText::WholeDouble(t) ? t.toLatin1() : QByteArray();
}

QString Quoted(const QString &cell)
{
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"')))
        return cell;
    QString q = cell;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

QStringList SweepRecorder::Header() const
{
    QStringList header { QStringLiteral("Time"), QString::fromLatin1(CsvTime::kOffsetHeader) };
    for (const Meter &m : m_meters) {
        const QString name = QStringLiteral("Meter %1 (address %2)").arg(m.panel).arg(m.address);
        const auto units = [](const QString &u) {
            return u.trimmed().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(u.trimmed());
        };
        header << name + QStringLiteral(" Flow") + units(m.flowUnits)
               << name + QStringLiteral(" Total") + units(m.totalUnits)
               << name + QStringLiteral(" Temperature");
    }
    return header;
}

QString SweepRecorder::Start(const QString &path, std::vector<Meter> meters)
{
    Stop();
    m_meters = std::move(meters);
    m_rows = 0;
    m_file.setFileName(path);
    // Unbuffered: each row reaches the disk when its sweep ends, and a full disk shows at once.
    if (path.isEmpty()
        || !m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        const QString reason = m_file.errorString();
        m_file.setFileName(QString());
        return QStringLiteral("Cannot record to %1\n%2")
            .arg(QFileInfo(path).absoluteFilePath(), reason);
    }
    QStringList cells;
    for (const QString &cell : Header())
        cells << Quoted(cell);
    const QByteArray line = cells.join(QLatin1Char(',')).toUtf8() + "\r\n";
    if (m_file.write(line) != line.size()) {
        const QString reason = m_file.errorString();
        m_file.close();
        return QStringLiteral("Cannot record to %1\n%2")
            .arg(QFileInfo(path).absoluteFilePath(), reason);
    }
    return QString();
}

void SweepRecorder::Stop()
{
    m_sweepOpen = false;
    if (m_file.isOpen())
        m_file.close();
}

void SweepRecorder::BeginSweep(const QDateTime &at)
{
    if (!Recording())
        return;
    m_sweepStart = at;
    m_cells.assign(m_meters.size() * 3, QByteArray());
    m_sweepOpen = true;
}

void SweepRecorder::Reading(int panel, const QString &address, const QString &flow,
    const QString &total, const QString &temperature)
{
    if (!m_sweepOpen)
        return;
    for (size_t i = 0; i < m_meters.size(); ++i) {
        // The meter the column names: the same panel and the same address.
        if (m_meters[i].panel != panel || m_meters[i].address != address)
            continue;
        m_cells[3 * i] = NumberCell(flow);
        m_cells[3 * i + 1] = NumberCell(total);
        m_cells[3 * i + 2] = NumberCell(temperature);
    }
}

QString SweepRecorder::EndSweep()
{
    if (!m_sweepOpen || !Recording())
        return QString();
    m_sweepOpen = false;
    QByteArray line = CsvTime::Format(m_sweepStart);
    for (const QByteArray &cell : m_cells)
        line += ',' + cell;
    line += "\r\n";
    if (m_file.write(line) != line.size()) {
        const QString message
            = QStringLiteral("Recording to %1 stopped: %2")
                  .arg(QFileInfo(m_file.fileName()).absoluteFilePath(), m_file.errorString());
        Stop();
        return message;
    }
    ++m_rows;
    return QString();
}

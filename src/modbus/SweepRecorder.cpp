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

} // namespace

QStringList SweepRecorder::Header() const
{
    QStringList header { QStringLiteral("Time"), QString::fromLatin1(CsvTime::kOffsetHeader) };
    for (const Meter &m : m_meters) {
        const QString name = m.serial.trimmed().isEmpty()
            ? QStringLiteral("Meter %1 (address %2)").arg(m.panel).arg(m.address)
            : QStringLiteral("Meter %1 (address %2, serial %3)")
                  .arg(m.panel)
                  .arg(m.address, m.serial.trimmed());
        const auto units = [](const QString &u) {
            return u.trimmed().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(u.trimmed());
        };
        header << name + QStringLiteral(" Flow") + units(m.flowUnits)
               << name + QStringLiteral(" Total") + units(m.totalUnits)
               << name + QStringLiteral(" Temperature");
    }
    return header;
}

QString SweepRecorder::Start(
    const QString &path, std::vector<Meter> meters, const CsvDialect &dialect)
{
    Stop();
    m_meters = std::move(meters);
    m_dialect = dialect;
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
    QList<QByteArray> cells;
    for (const QString &cell : Header())
        cells << m_dialect.Text(cell);
    const QByteArray line = m_dialect.Preamble() + m_dialect.Row(cells);
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
        m_cells[3 * i] = m_dialect.Number(NumberCell(flow));
        m_cells[3 * i + 1] = m_dialect.Number(NumberCell(total));
        m_cells[3 * i + 2] = m_dialect.Number(NumberCell(temperature));
    }
}

QString SweepRecorder::EndSweep()
{
    if (!m_sweepOpen || !Recording())
        return QString();
    m_sweepOpen = false;
    QByteArray line = m_dialect.Moment(m_sweepStart);
    for (const QByteArray &cell : m_cells)
        line += m_dialect.Separator() + cell;
    line += m_dialect.LineEnd();
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

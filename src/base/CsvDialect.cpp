#include "base/CsvDialect.h"

#include "base/CsvTime.h"

namespace {
const char *const kNames[] = { "excel", "rfc4180", "semicolon" };

// CsvTime's cells with their comma between them given the dialect's separator.
QByteArray Separated(QByteArray cells, char separator)
{
    const qsizetype comma = cells.lastIndexOf(',');
    if (comma >= 0)
        cells[comma] = separator;
    return cells;
}
} // namespace

CsvDialect::CsvDialect(Kind kind)
    : m_kind(kind)
{
}

std::optional<CsvDialect> CsvDialect::FromName(const QString &name)
{
    for (int i = 0; i < 3; ++i)
        if (name == QLatin1String(kNames[i]))
            return CsvDialect(Kind(i));
    return std::nullopt;
}

QStringList CsvDialect::Names()
{
    return { QLatin1String(kNames[0]), QLatin1String(kNames[1]), QLatin1String(kNames[2]) };
}

QStringList CsvDialect::FileFilters()
{
    return { QStringLiteral("CSV, comma-separated (*.csv)"),
        QStringLiteral("CSV for Excel, comma-separated (*.csv)"),
        QStringLiteral("CSV, semicolon-separated, decimal comma (*.csv)") };
}

CsvDialect CsvDialect::FromFileFilter(const QString &filter)
{
    const QStringList filters = FileFilters();
    if (filter == filters.at(1))
        return CsvDialect(Kind::Excel);
    if (filter == filters.at(2))
        return CsvDialect(Kind::Semicolon);
    return CsvDialect(Kind::Rfc4180);
}

QString CsvDialect::Name() const
{
    return QLatin1String(kNames[int(m_kind)]);
}

QByteArray CsvDialect::Preamble() const
{
    return m_kind == Kind::Rfc4180 ? QByteArray() : QByteArrayLiteral("\xEF\xBB\xBF");
}

QByteArray CsvDialect::Text(const QString &text) const
{
    const QByteArray bytes = text.toUtf8();
    if (!bytes.contains(Separator()) && !bytes.contains('"') && !bytes.contains('\n')
        && !bytes.contains('\r'))
        return bytes;
    QByteArray quoted = bytes;
    quoted.replace("\"", "\"\"");
    return '"' + quoted + '"';
}

QByteArray CsvDialect::Number(const QByteArray &pointText) const
{
    if (m_kind != Kind::Semicolon)
        return pointText;
    QByteArray text = pointText;
    text.replace('.', ',');
    return text;
}

QByteArray CsvDialect::Row(const QList<QByteArray> &cells) const
{
    return cells.join(Separator()) + m_lineEnd;
}

QByteArray CsvDialect::Moment(const QDateTime &moment) const
{
    return Separated(CsvTime::Format(moment, true), Separator());
}

QByteArray CsvDialect::Logged(QDate date, int secondsOfDay) const
{
    return Separated(CsvTime::Format(date, secondsOfDay), Separator());
}

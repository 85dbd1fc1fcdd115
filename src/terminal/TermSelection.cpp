#include "terminal/TermSelection.h"

#include "terminal/TermScreen.h"

namespace {
bool Before(const QPoint &a, const QPoint &b)
{
    return a.y() < b.y() || (a.y() == b.y() && a.x() < b.x());
}
} // namespace

void TermSelection::Begin(const QPoint &cell)
{
    m_on = true;
    m_anchor = cell;
    m_end = cell;
}

void TermSelection::Extend(const QPoint &cell)
{
    if (m_on)
        m_end = cell;
}

void TermSelection::Clear()
{
    m_on = false;
}

QPoint TermSelection::First() const
{
    return Before(m_end, m_anchor) ? m_end : m_anchor;
}

QPoint TermSelection::Last() const
{
    return Before(m_end, m_anchor) ? m_anchor : m_end;
}

bool TermSelection::Contains(int row, int column) const
{
    if (IsEmpty())
        return false;
    const QPoint cell(column, row);
    return !Before(cell, First()) && !Before(Last(), cell);
}

QString TermSelection::Text(const TermScreen &screen) const
{
    return Text([&screen](int row) { return screen.RowText(row); });
}

QString TermSelection::Text(const std::function<QByteArray(int row)> &rowText) const
{
    if (IsEmpty())
        return QString();
    const QPoint first = First();
    const QPoint last = Last();
    QStringList rows;
    for (int row = first.y(); row <= last.y(); ++row) {
        const QByteArray bytes = rowText(row);
        int from = row == first.y() ? first.x() : 0;
        // The meter writes a line from column 1 (column 0 only takes a wrapped character), so
        // a blank there is not part of the line.
        if (from == 0 && !bytes.isEmpty() && bytes.at(0) == ' ')
            from = 1;
        const int to = row == last.y() ? last.x() : TermScreen::kColumns - 1;
        QString text;
        for (int column = from; column <= to && column < bytes.size(); ++column)
            text += TermScreen::DisplayChar(static_cast<unsigned char>(bytes.at(column)));
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        rows << text;
    }
    return rows.join(QLatin1Char('\n'));
}

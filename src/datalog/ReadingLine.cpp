#include "datalog/ReadingLine.h"

#include <algorithm>

namespace {

// A cursor over the scanned part of a line.
class Scan
{
public:
    explicit Scan(const QByteArray &line)
        : m_line(line)
        , m_end(std::min<qsizetype>(line.size(), ReadingLine::kScanLimit))
    {
    }
    bool AtBlank() const { return m_pos < m_end && m_line.at(m_pos) == ' '; }
    bool AtWord() const { return m_pos < m_end && m_line.at(m_pos) != ' '; }
    char Take() { return m_line.at(m_pos++); }
    void SkipBlanks()
    {
        while (AtBlank())
            ++m_pos;
    }
    QString Word()
    {
        const qsizetype start = m_pos;
        while (AtWord())
            ++m_pos;
        return QString::fromLatin1(m_line.constData() + start, m_pos - start);
    }
    QString Blanks()
    {
        const qsizetype start = m_pos;
        SkipBlanks();
        return QString(m_pos - start, QLatin1Char(' '));
    }

private:
    const QByteArray &m_line;
    qsizetype m_end;
    qsizetype m_pos = 0;
};

} // namespace

ReadingLine ReadingLine::Parse(const QByteArray &line)
{
    ReadingLine r;
    Scan scan(line);
    while (scan.AtWord()) {
        const char c = scan.Take();
        if (c != 'T')
            r.flowValue += QLatin1Char(c);
    }
    r.flowValue += scan.Blanks();
    r.flowDisplay = r.flowValue + scan.Word();

    scan.SkipBlanks();
    r.totalValue = scan.Word();
    r.totalValue += scan.Blanks();
    r.totalDisplay = r.totalValue + scan.Word();

    scan.SkipBlanks();
    r.high = scan.Word();
    scan.SkipBlanks();
    r.low = scan.Word();
    scan.SkipBlanks();
    r.relay1 = scan.Word();
    scan.SkipBlanks();
    r.relay2 = scan.Word();
    return r;
}

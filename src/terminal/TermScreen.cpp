#include "terminal/TermScreen.h"

#include "base/AppServices.h"
#include "base/MeterSession.h"

#include <cctype>

namespace {
constexpr unsigned char kBackspace = 8;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kEscape = 27;

// Up to count bytes at pos, fewer when the text ends; nothing when pos lies outside it.
QString Piece(const QByteArray &text, qsizetype pos, qsizetype count)
{
    if (pos < 0 || pos >= text.size())
        return QString();
    return QString::fromLatin1(text.mid(pos, count));
}
} // namespace

TermScreen::TermScreen(bool scansIdentification)
    : m_scansIdentification(scansIdentification)
{
    Reset();
}

void TermScreen::Reset()
{
    m_text = QByteArray(kScreenSize, ' ');
    m_row = 0;
    m_column = 0;
    MarkAll();
}

void TermScreen::StartTick()
{
    m_suppressed = false;
}

void TermScreen::Put(unsigned char byte)
{
    switch (byte) {
    case kBackspace:
        if (m_column > 0)
            --m_column;
        return;
    case kLineFeed: {
        if (!m_suppressed && m_row < kRows - 1)
            ++m_row;
        // Keep the last `row` rows and add a blank one below them: at the bottom this scrolls,
        // above it the text shrinks to the rows in use (the length never drops below
        // (row + 1) * 77, so every cell the cursor can reach stays inside the text).
        const qsizetype keep = qMin<qsizetype>(qsizetype(m_row) * kColumns, m_text.size());
        // The rows dropped from the top leave for the scrollback; at the bottom that is one
        // scrolled row, kept even when blank (an empty line the meter sent).
        const qsizetype dropped = (m_text.size() - keep + kColumns - 1) / kColumns;
        KeepRows(0, dropped - 1, m_row == kRows - 1 && dropped == 1);
        m_text = m_text.right(keep) + QByteArray(kColumns, ' ');
        m_suppressed = false;
        MarkAll();
        return;
    }
    case kCarriageReturn:
        m_column = 0;
        if (m_scansIdentification)
            ScanIdentification(m_text, AppServices::Meter());
        return;
    case kEscape:
        m_suppressed = true;
        // The screen being cleared leaves for the scrollback, down to the cursor's row.
        KeepRows(0, m_row, false);
        Reset();
        return;
    default:
        break;
    }
    m_column = m_column < kColumns - 1 ? m_column + 1 : 0;
    if (m_suppressed)
        return;
    const qsizetype pos = qsizetype(m_row) * kColumns + m_column;
    if (pos < m_text.size()) {
        m_text[pos] = char(byte);
        MarkCell(m_row, m_column);
    }
}

void TermScreen::KeepRows(qsizetype first, qsizetype last, bool always)
{
    for (qsizetype r = first; r <= last; ++r) {
        const QByteArray row = m_text.mid(r * kColumns, kColumns);
        if (row.isEmpty())
            break;
        if (always || row.count(' ') != row.size())
            m_history.Push(row);
    }
}

void TermScreen::FeedTick(const QByteArray &bytes)
{
    StartTick();
    for (const char c : bytes)
        Put(static_cast<unsigned char>(c));
}

QByteArray TermScreen::RowText(int row) const
{
    if (row < 0 || row >= kRows)
        return QByteArray();
    const qsizetype start = qsizetype(row) * kColumns;
    if (start >= m_text.size())
        return QByteArray();
    return m_text.mid(start, kColumns);
}

bool TermScreen::HasRepaint() const
{
    if (m_repaintAll)
        return true;
    for (int r = 0; r < kRows; ++r) {
        if (m_dirtyFirst[r] >= 0)
            return true;
    }
    return false;
}

QList<QRect> TermScreen::TakeRepaint()
{
    QList<QRect> cells;
    if (m_repaintAll) {
        cells.append(QRect(0, 0, kColumns, kRows));
    } else {
        for (int r = 0; r < kRows; ++r) {
            if (m_dirtyFirst[r] >= 0)
                cells.append(QRect(m_dirtyFirst[r], r, m_dirtyLast[r] - m_dirtyFirst[r] + 1, 1));
        }
    }
    m_repaintAll = false;
    m_dirtyFirst.fill(-1);
    m_dirtyLast.fill(-1);
    return cells;
}

void TermScreen::MarkCell(int row, int column)
{
    if (m_repaintAll)
        return;
    if (m_dirtyFirst[row] < 0 || column < m_dirtyFirst[row])
        m_dirtyFirst[row] = column;
    if (column > m_dirtyLast[row])
        m_dirtyLast[row] = column;
}

void TermScreen::MarkAll()
{
    m_repaintAll = true;
    m_dirtyFirst.fill(-1);
    m_dirtyLast.fill(-1);
}

void TermScreen::ScanIdentification(
    const QByteArray &text, QString &model, QString &version, QString &revision, QString &number)
{
    const qsizetype p = text.indexOf(" v");
    if (p - 3 > 0)
        model = Piece(text, p - 3, 3);
    if (p > 25 && p < 3000) {
        version = Piece(text, p + 2, 4);
        const qsizetype rev = text.indexOf("ev.");
        revision = rev >= 0 ? Piece(text, rev + 3, 1) : QString();
        const QString series = version.left(3);
        const qsizetype q = (series == QLatin1String("4.0") || series == QLatin1String("3.9"))
            ? text.indexOf("er#")
            : text.indexOf("ge#");
        number = q >= 0 ? Piece(text, q + 3, 1) : QString();
    }
}

void TermScreen::ScanIdentification(const QByteArray &text, MeterSession &session)
{
    QString model = session.Model();
    QString version = session.Version();
    QString revision = session.Revision();
    QString number = session.Range();
    ScanIdentification(text, model, version, revision, number);
    session.SetIdentity(model, version, revision, number);
}

QChar TermScreen::DisplayChar(unsigned char byte)
{
    // clang-format off
    static const char16_t kHigh[32] = {
        0x20AC, 0x0020, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0020, 0x017D, 0x0020,
        0x0020, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0020, 0x017E, 0x0178,
    };
    // clang-format on
    if (byte < 0x20 || byte == 0x7F)
        return QLatin1Char(' ');
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kHigh[byte - 0x80]);
    return QLatin1Char(char(byte));
}

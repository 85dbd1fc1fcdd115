#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// How the program's CSV files are written for the spreadsheet that opens them: the field
// separator, the decimal mark, quoting and the line end. "excel" and "rfc4180" put a comma
// between fields and a point in numbers (rfc4180: no byte-order mark, as strict readers want;
// excel: a UTF-8 byte-order mark, without which that spreadsheet reads "°F" wrongly);
// "semicolon" puts ";" between fields and the decimal comma, as spreadsheets in comma-decimal
// locales read them. Numbers are given with a point and written with the dialect's mark; times
// are CsvTime's two cells.
class CsvDialect
{
public:
    enum class Kind { Excel, Rfc4180, Semicolon };

    // The dialect today's files are written in: comma, point, CR LF, no byte-order mark.
    CsvDialect() = default;
    explicit CsvDialect(Kind kind);
    // "excel", "rfc4180" or "semicolon"; nothing for another name.
    static std::optional<CsvDialect> FromName(const QString &name);
    static QStringList Names();
    // The save dialog's filters, one per dialect (today's first), and the dialect of the one
    // chosen (today's for any other).
    static QStringList FileFilters();
    static CsvDialect FromFileFilter(const QString &filter);
    QString Name() const;
    Kind GetKind() const { return m_kind; }

    char Separator() const { return m_kind == Kind::Semicolon ? ';' : ','; }
    QByteArray LineEnd() const { return m_lineEnd; }
    // A shell's output ends its lines in LF alone.
    void SetLineEnd(const QByteArray &end) { m_lineEnd = end; }
    // What a file starts with (the byte-order mark, or nothing).
    QByteArray Preamble() const;
    // A text cell, quoted when it holds the separator, a quote or a line end.
    QByteArray Text(const QString &text) const;
    // A number written with a point ("12.5"), with the dialect's decimal mark.
    QByteArray Number(const QByteArray &pointText) const;
    // A row of cells already written, with the line end.
    QByteArray Row(const QList<QByteArray> &cells) const;
    // CsvTime's two cells, with milliseconds, joined by the separator.
    QByteArray Moment(const QDateTime &moment) const;
    QByteArray Logged(QDate date, int secondsOfDay) const;

private:
    Kind m_kind = Kind::Rfc4180;
    QByteArray m_lineEnd = "\r\n";
};

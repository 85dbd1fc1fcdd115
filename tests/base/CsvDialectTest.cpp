// The CSV dialects cell by cell: quoting by the dialect's separator, the decimal mark, the line
// end and byte-order mark, the times to the millisecond, and the names and dialog filters that
// choose them.
#include "base/CsvDialect.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ctime>

TEST(CsvDialect, CellsNumbersAndTimesAsEachDialectWritesThem)
{
    using K = CsvDialect::Kind;
    const struct
    {
        K kind;
        QString text;
        const char *cell;
        const char *number; // of "-12.5"
    } cells[] = {
        { K::Rfc4180, QStringLiteral("Flow (SCFM)"), "Flow (SCFM)", "-12.5" },
        { K::Rfc4180, QStringLiteral("a,b"), "\"a,b\"", "-12.5" },
        { K::Rfc4180, QStringLiteral("a;b"), "a;b", "-12.5" },
        { K::Excel, QStringLiteral("say \"hi\""), "\"say \"\"hi\"\"\"", "-12.5" },
        { K::Semicolon, QStringLiteral("a;b"), "\"a;b\"", "-12,5" },
        { K::Semicolon, QStringLiteral("a,b"), "a,b", "-12,5" },
        { K::Semicolon, QStringLiteral("two\nlines"), "\"two\nlines\"", "-12,5" },
        { K::Excel, QString(QChar(0xB0)) + QLatin1Char('F'),
            "\xC2\xB0"
            "F",
            "-12.5" },
    };
    for (const auto &c : cells) {
        const CsvDialect dialect(c.kind);
        EXPECT_EQ(dialect.Text(c.text), QByteArray(c.cell)) << qPrintable(dialect.Name());
        EXPECT_EQ(dialect.Number("-12.5"), QByteArray(c.number)) << qPrintable(dialect.Name());
    }
    EXPECT_EQ(CsvDialect(K::Semicolon).Row({ "a", "1,5", "" }), QByteArray("a;1,5;\r\n"));
    EXPECT_EQ(CsvDialect(K::Rfc4180).Preamble(), QByteArray());
    EXPECT_EQ(CsvDialect(K::Excel).Preamble(), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(CsvDialect().Name(), QStringLiteral("rfc4180")) << "today's files";

    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QDateTime at(QDate(2026, 12, 9), QTime(3, 12, 33, 7), QTimeZone::utc());
    EXPECT_EQ(CsvDialect(K::Excel).Moment(at), QByteArray("2026-12-09T04:12:33.007,UTC+01:00"));
    EXPECT_EQ(CsvDialect(K::Semicolon).Moment(at), QByteArray("2026-12-09T04:12:33.007;UTC+01:00"));
    EXPECT_EQ(CsvDialect(K::Semicolon).Moment(QDateTime()), QByteArray(";"));
    EXPECT_EQ(CsvDialect(K::Semicolon).Logged(QDate(2026, 12, 31), 86399),
        QByteArray("2026-12-31T23:59:59;UTC+01:00"));
    qputenv("TZ", oldZone);
    if (oldZone.isEmpty())
        qunsetenv("TZ");
    tzset();

    for (const QString &name : CsvDialect::Names())
        EXPECT_EQ(CsvDialect::FromName(name)->Name(), name);
    EXPECT_FALSE(CsvDialect::FromName(QStringLiteral("Excel")).has_value());
    EXPECT_FALSE(CsvDialect::FromName(QString()).has_value());
    const QStringList filters = CsvDialect::FileFilters();
    ASSERT_EQ(filters.size(), 3);
    EXPECT_EQ(CsvDialect::FromFileFilter(filters.at(0)).GetKind(), K::Rfc4180);
    EXPECT_EQ(CsvDialect::FromFileFilter(filters.at(1)).GetKind(), K::Excel);
    EXPECT_EQ(CsvDialect::FromFileFilter(filters.at(2)).GetKind(), K::Semicolon);
    EXPECT_EQ(CsvDialect::FromFileFilter(QStringLiteral("All files (*)")).GetKind(), K::Rfc4180);
}

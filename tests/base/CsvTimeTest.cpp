// The CSV time cells under local zones given as POSIX TZ rules (no time zone database needed):
// the offset follows the zone and its daylight-saving changes; a logged clock time is written as
// logged, also in the hour a spring change skips.
#include "base/CsvTime.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ctime>

TEST(CsvTime, MomentsAndLoggedClockTimesCarryTheLocalOffset)
{
    const QByteArray oldZone = qgetenv("TZ");
    const auto zone = [](const char *rule) {
        qputenv("TZ", rule);
        tzset();
    };
    constexpr const char *kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    const struct
    {
        const char *zone, *utc, *expected;
    } moments[] = {
        { "UTC0", "2026-12-09T04:12:33", "2026-12-09T04:12:33,UTC+00:00" },
        { kBerlin, "2026-07-01T22:30:00", "2026-07-02T00:30:00,UTC+02:00" },
        { "NST3:30NDT,M3.2.0,M11.1.0", "2026-01-15T12:00:00", "2026-01-15T08:30:00,UTC-03:30" },
        // The autumn change repeats a clock hour: only the offset tells the two apart.
        { kBerlin, "2026-10-25T00:59:59", "2026-10-25T02:59:59,UTC+02:00" },
        { kBerlin, "2026-10-25T01:00:00", "2026-10-25T02:00:00,UTC+01:00" },
    };
    for (const auto &m : moments) {
        zone(m.zone);
        QDateTime at = QDateTime::fromString(QLatin1String(m.utc), Qt::ISODate);
        at.setTimeZone(QTimeZone::utc());
        EXPECT_EQ(CsvTime::Format(at), QByteArray(m.expected)) << m.zone << " " << m.utc;
    }
    EXPECT_EQ(CsvTime::Format(QDateTime()), QByteArray(",")) << "two empty cells";
    const struct
    {
        QDate date;
        int seconds;
        const char *expected;
    } logged[] = {
        { QDate(2026, 12, 31), 86399, "2026-12-31T23:59:59,UTC+01:00" },
        { QDate(2026, 3, 29), 2 * 3600 + 30 * 60, "2026-03-29T02:30:00,UTC+01:00" }, // skipped
        { QDate(2026, 3, 29), 3 * 3600, "2026-03-29T03:00:00,UTC+02:00" },
        { QDate(2026, 1, 1), 86400, "," },
        { QDate(), 10, "," },
    };
    for (const auto &l : logged)
        EXPECT_EQ(CsvTime::Format(l.date, l.seconds), QByteArray(l.expected)) << l.seconds;
    EXPECT_EQ(CsvTime::Offset(-19800), QByteArray("UTC-05:30"));
    qputenv("TZ", oldZone);
    if (oldZone.isEmpty())
        qunsetenv("TZ");
    tzset();
}

// The CSV time cells under several local zones, given as POSIX TZ rules so that no time zone
// database is needed: the offset follows the zone and its daylight-saving change, a half-hour
// zone keeps its minutes, and a logged clock time is written as logged, also in the hour a
// spring change skips.
#include "base/CsvTime.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <ctime>

namespace {

class LocalZone
{
public:
    explicit LocalZone(const char *rule)
        : m_old(qgetenv("TZ"))
        , m_had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", rule);
        tzset();
    }
    ~LocalZone()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had = false;
};

QDateTime Utc(const char *text)
{
    QDateTime at = QDateTime::fromString(QLatin1String(text), Qt::ISODate);
    at.setTimeZone(QTimeZone::utc());
    return at;
}

} // namespace

TEST(CsvTime, MomentsAndLoggedClockTimesCarryTheLocalOffset)
{
    constexpr const char *kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    constexpr const char *kStJohns = "NST3:30NDT,M3.2.0,M11.1.0";
    const struct
    {
        const char *zone;
        const char *utc;
        const char *expected;
    } moments[] = {
        { "UTC0", "2026-12-09T04:12:33", "2026-12-09T04:12:33,+00:00" },
        { kBerlin, "2026-12-09T03:12:33", "2026-12-09T04:12:33,+01:00" },
        { kBerlin, "2026-07-01T22:30:00", "2026-07-02T00:30:00,+02:00" },
        { kStJohns, "2026-01-15T12:00:00", "2026-01-15T08:30:00,-03:30" },
        // The last second before the autumn change and the first after it repeat a clock hour:
        // only the offset tells them apart.
        { kBerlin, "2026-10-25T00:59:59", "2026-10-25T02:59:59,+02:00" },
        { kBerlin, "2026-10-25T01:00:00", "2026-10-25T02:00:00,+01:00" },
    };
    EXPECT_EQ(CsvTime::Offset(-19800), QByteArray("-05:30"));
    EXPECT_EQ(CsvTime::Offset(45900), QByteArray("+12:45"));
    for (const auto &m : moments) {
        LocalZone zone(m.zone);
        EXPECT_EQ(CsvTime::Format(Utc(m.utc)), QByteArray(m.expected)) << m.zone << " " << m.utc;
    }
    EXPECT_EQ(CsvTime::Format(QDateTime()), QByteArray(",")) << "two empty cells";

    LocalZone zone(kBerlin);
    const struct
    {
        QDate date;
        int seconds;
        const char *expected;
    } logged[] = {
        { QDate(2026, 12, 31), 23 * 3600 + 59 * 60 + 55, "2026-12-31T23:59:55,+01:00" },
        { QDate(2026, 6, 1), 0, "2026-06-01T00:00:00,+02:00" },
        // 02:30 does not exist on the spring change's night: the meter's clock is kept.
        { QDate(2026, 3, 29), 2 * 3600 + 30 * 60, "2026-03-29T02:30:00,+01:00" },
        { QDate(2026, 3, 29), 3 * 3600, "2026-03-29T03:00:00,+02:00" },
        { QDate(2026, 1, 1), 86400, "," },
        { QDate(2026, 1, 1), -1, "," },
        { QDate(), 10, "," },
    };
    for (const auto &l : logged) {
        EXPECT_EQ(CsvTime::Format(l.date, l.seconds), QByteArray(l.expected))
            << qPrintable(l.date.toString(Qt::ISODate)) << " " << l.seconds;
    }
}

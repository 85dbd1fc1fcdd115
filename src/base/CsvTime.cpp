#include "base/CsvTime.h"

#include <QTime>
#include <QTimeZone>

#include <cstdio>
#include <cstdlib>

namespace {
QByteArray Stamp(QDate date, int seconds, int offset)
{
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", date.year(),
        date.month(), date.day(), seconds / 3600, seconds / 60 % 60, seconds % 60);
    return QByteArray(text, n) + ',' + CsvTime::Offset(offset);
}
} // namespace

QByteArray CsvTime::Offset(int secondsEastOfUtc)
{
    const int minutes = std::abs(secondsEastOfUtc) / 60;
    char text[24];
    const int n = std::snprintf(text, sizeof text, "UTC%c%02d:%02d",
        secondsEastOfUtc < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
    return QByteArray(text, n);
}

QByteArray CsvTime::Format(const QDateTime &moment, bool milliseconds)
{
    if (!moment.isValid())
        return QByteArrayLiteral(",");
    const QDateTime local = moment.toLocalTime();
    const QTime clock = local.time();
    QByteArray stamp = Stamp(local.date(),
        clock.hour() * 3600 + clock.minute() * 60 + clock.second(), local.offsetFromUtc());
    if (milliseconds) {
        char ms[8];
        const int n = std::snprintf(ms, sizeof ms, ".%03d", clock.msec());
        stamp.insert(stamp.indexOf(','), ms, n);
    }
    return stamp;
}

QByteArray CsvTime::Format(QDate date, int secondsOfDay)
{
    if (!date.isValid() || secondsOfDay < 0 || secondsOfDay >= 86400)
        return QByteArrayLiteral(",");
    const QTime clock(secondsOfDay / 3600, secondsOfDay / 60 % 60, secondsOfDay % 60);
    QDateTime local(date, clock);
    // In the hour a spring change skips, the offset is the one before the change.
    if (!local.isValid() || local.time() != clock)
        local = QDateTime(date, clock.addSecs(-3600));
    return Stamp(date, secondsOfDay, local.isValid() ? local.offsetFromUtc() : 0);
}

#pragma once

#include "base/ReadingSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

// The JSON of the published readings, one compact object per message:
//   {"time":"2026-12-09T03:43:12.125+01:00","address":3,
//    "values":{"flow":{"value":12.5,"unit":"SCFM"},...}}            (Modbus, one meter)
//   {"time":...,"address":3,"failure":"Address 3: Time Out"}        (a meter that failed)
//   {"time":...,"serial":"40123","values":{...}}                    (PC logging)
// A value whose text is a finite number is a JSON number, any other text a string, an empty
// text null; the unit is left out when none is known.
class ReadingPayload
{
public:
    static QByteArray Modbus(const QDateTime &at, int address,
        const std::vector<ReadingSink::Value> &values, const QString &failure);
    static QByteArray Meter(
        const QDateTime &at, const QString &serial, const std::vector<ReadingSink::Value> &values);
    // ISO 8601 with milliseconds and the offset from UTC ("+01:00", never "Z").
    static QString Time(const QDateTime &at);
    // A text made safe as one topic level: "/", "+", "#" and control characters become "_",
    // empty becomes "unknown".
    static QString TopicLevel(const QString &text);
};

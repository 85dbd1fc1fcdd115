#pragma once

#include "base/ReadingSink.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

// The topics and JSON of the published readings, one compact object per message. A meter is
// keyed by what stays, its serial number: PREFIX/meter/SERIAL, for Modbus readings too once
// the static block told it (before that PREFIX/modbus/ADDRESS); a failure goes to the same
// topic with "/error" added. Every payload carries "seq", counted per topic from 1, so a
// consumer sees a gap:
//   {"address":3,"seq":7,"serial":"20260003","time":"2026-12-09T03:43:12.125+01:00",
//    "values":{"flow":{"unit":"SCFM","value":12.5},...}}             (Modbus, one meter)
//   {"address":3,"failure":"Address 3: Time Out","seq":2,"time":...}  (.../error)
//   {"seq":1,"serial":"40123","time":...,"values":{...}}              (PC logging)
// A value whose text is a finite number is a JSON number, any other text a string, an empty
// text null; the unit is left out when none is known.
class ReadingPayload
{
public:
    // The topic under the prefix of a Modbus meter's reading, or of its failure.
    static QString ModbusTopic(int address, const QString &serial, bool failure);
    static QString MeterTopic(const QString &serial);
    static QByteArray Modbus(const QDateTime &at, int address, const QString &serial,
        const std::vector<ReadingSink::Value> &values, const QString &failure, qint64 seq);
    static QByteArray Meter(const QDateTime &at, const QString &serial,
        const std::vector<ReadingSink::Value> &values, qint64 seq);
    // ISO 8601 with milliseconds and the offset from UTC ("+01:00", never "Z").
    static QString Time(const QDateTime &at);
    // A text made safe as one topic level: "/", "+", "#" and control characters become "_",
    // empty becomes "unknown".
    static QString TopicLevel(const QString &text);
};

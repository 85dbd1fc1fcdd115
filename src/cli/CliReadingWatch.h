#pragma once

#include "datalog/ReadingLine.h"
#include "datalog/ReadingReceiver.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What tarvik-cli watch prints of the meter's run-mode stream: the bytes go through the PC
// logger's own line reader and parser, and each reading line becomes one output line (text or
// a JSON object), or the bytes are passed on as they came (raw). A line that is no reading (no
// number for flow or total, a line too long) is skipped and counted.
class CliReadingWatch
{
public:
    enum class Format { Text, Json, Raw };

    explicit CliReadingWatch(Format format);

    // The output for bytes that arrived at now.
    QByteArray Feed(const QByteArray &bytes, const QDateTime &now);
    qint64 Readings() const { return m_readings; }
    qint64 Skipped() const { return m_skipped; }

    // Whether a parsed line is a reading: its flow and total are numbers.
    static bool IsReading(const ReadingLine &r);
    // "08:30:00.125 flow 12.5 SCFM, total 1234.5 SCF, high 30, low 10, relay1 on, relay2 off"
    static QString Text(const ReadingLine &r, const QDateTime &at);
    // {"time":"2026-12-10T08:30:00.125+01:00","flow":{"value":12.5,"unit":"SCFM"},...}
    static QByteArray Json(const ReadingLine &r, const QDateTime &at);

private:
    Format m_format;
    ReadingReceiver m_receiver;
    qint64 m_readings = 0;
    qint64 m_skipped = 0;
};

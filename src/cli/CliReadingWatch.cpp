#include "cli/CliReadingWatch.h"

#include "base/ScanText.h"
#include "publish/ReadingPayload.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {
bool IsNumber(const QString &text)
{
    const std::optional<double> value = ScanText::WholeDouble(text);
    return value && std::isfinite(*value);
}

// The unit a display text adds after its value ("12.5  SCFM" after "12.5  ").
QString UnitOf(const QString &display, const QString &value)
{
    return display.mid(value.size()).trimmed();
}

QJsonValue NumberOrText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QJsonValue::Null;
    if (IsNumber(trimmed))
        return *ScanText::WholeDouble(trimmed);
    return trimmed;
}

QJsonObject Quantity(const QString &value, const QString &unit)
{
    QJsonObject object { { QStringLiteral("value"), NumberOrText(value) } };
    if (!unit.isEmpty())
        object.insert(QStringLiteral("unit"), unit);
    return object;
}

QString OnOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}
} // namespace

CliReadingWatch::CliReadingWatch(Format format)
    : m_format(format)
{
    // The port may have been opened in the middle of a line.
    m_receiver.Restart();
}

bool CliReadingWatch::IsReading(const ReadingLine &r)
{
    return IsNumber(r.flowValue) && IsNumber(r.totalValue);
}

QString CliReadingWatch::Text(const ReadingLine &r, const QDateTime &at)
{
    return QStringLiteral("%1 flow %2 %3, total %4 %5, high %6, low %7, relay1 %8, relay2 %9")
        .arg(at.time().toString(QStringLiteral("HH:mm:ss.zzz")), r.flowValue.trimmed(),
            UnitOf(r.flowDisplay, r.flowValue), r.totalValue.trimmed(),
            UnitOf(r.totalDisplay, r.totalValue), r.high, r.low, OnOff(r.Relay1On()),
            OnOff(r.Relay2On()));
}

QByteArray CliReadingWatch::Json(const ReadingLine &r, const QDateTime &at)
{
    QJsonObject object;
    object.insert(QStringLiteral("time"), ReadingPayload::Time(at));
    object.insert(
        QStringLiteral("flow"), Quantity(r.flowValue, UnitOf(r.flowDisplay, r.flowValue)));
    object.insert(
        QStringLiteral("total"), Quantity(r.totalValue, UnitOf(r.totalDisplay, r.totalValue)));
    object.insert(QStringLiteral("high"), NumberOrText(r.high));
    object.insert(QStringLiteral("low"), NumberOrText(r.low));
    object.insert(QStringLiteral("relay1"), r.Relay1On());
    object.insert(QStringLiteral("relay2"), r.Relay2On());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray CliReadingWatch::Feed(const QByteArray &bytes, const QDateTime &now)
{
    QByteArray out;
    if (m_format == Format::Raw)
        out = bytes;
    for (const char byte : bytes) {
        switch (m_receiver.Feed(static_cast<unsigned char>(byte))) {
        case ReadingReceiver::Result::None:
            break;
        case ReadingReceiver::Result::Overflow:
            ++m_skipped;
            // What follows the long run counts only from the next carriage return.
            m_receiver.Restart();
            break;
        case ReadingReceiver::Result::Line: {
            const ReadingLine r = ReadingLine::Parse(m_receiver.Line());
            if (!IsReading(r)) {
                // An empty line (a line feed's partner, a prompt's end) is no garbage.
                if (!m_receiver.Line().trimmed().isEmpty())
                    ++m_skipped;
                break;
            }
            ++m_readings;
            if (m_format == Format::Text)
                out += Text(r, now).toLocal8Bit() + '\n';
            else if (m_format == Format::Json)
                out += Json(r, now) + '\n';
            break;
        }
        }
    }
    return out;
}

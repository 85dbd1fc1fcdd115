#include "publish/ReadingPayload.h"

#include "base/ScanText.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {
QJsonObject ValuesObject(const std::vector<ReadingSink::Value> &values)
{
    QJsonObject object;
    for (const ReadingSink::Value &v : values) {
        QJsonObject value;
        const QString text = v.text.trimmed();
        const std::optional<double> number = ScanText::WholeDouble(text);
        if (text.isEmpty())
            value.insert(QStringLiteral("value"), QJsonValue::Null);
        else if (number && std::isfinite(*number))
            value.insert(QStringLiteral("value"), *number);
        else
            value.insert(QStringLiteral("value"), text);
        if (!v.unit.trimmed().isEmpty())
            value.insert(QStringLiteral("unit"), v.unit.trimmed());
        object.insert(v.name, value);
    }
    return object;
}
} // namespace

QString ReadingPayload::Time(const QDateTime &at)
{
    const QDateTime withOffset = at.toOffsetFromUtc(at.offsetFromUtc());
    QString text = withOffset.toString(Qt::ISODateWithMs);
    if (text.endsWith(QLatin1Char('Z')))
        text.replace(text.size() - 1, 1, QStringLiteral("+00:00"));
    return text;
}

QString ReadingPayload::ModbusTopic(int address, const QString &serial, bool failure)
{
    const QString topic = serial.trimmed().isEmpty() ? QStringLiteral("modbus/%1").arg(address)
                                                     : MeterTopic(serial);
    return failure ? topic + QStringLiteral("/error") : topic;
}

QString ReadingPayload::MeterTopic(const QString &serial)
{
    return QStringLiteral("meter/") + TopicLevel(serial);
}

QByteArray ReadingPayload::Modbus(const QDateTime &at, int address, const QString &serial,
    const std::vector<ReadingSink::Value> &values, const QString &failure, qint64 seq)
{
    QJsonObject object;
    object.insert(QStringLiteral("time"), Time(at));
    object.insert(QStringLiteral("address"), address);
    if (!serial.trimmed().isEmpty())
        object.insert(QStringLiteral("serial"), serial.trimmed());
    object.insert(QStringLiteral("seq"), seq);
    if (!failure.isEmpty())
        object.insert(QStringLiteral("failure"), failure);
    else
        object.insert(QStringLiteral("values"), ValuesObject(values));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray ReadingPayload::Meter(const QDateTime &at, const QString &serial,
    const std::vector<ReadingSink::Value> &values, qint64 seq)
{
    QJsonObject object;
    object.insert(QStringLiteral("time"), Time(at));
    object.insert(QStringLiteral("serial"), serial.trimmed());
    object.insert(QStringLiteral("seq"), seq);
    object.insert(QStringLiteral("values"), ValuesObject(values));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString ReadingPayload::TopicLevel(const QString &text)
{
    QString level = text.trimmed();
    for (QChar &c : level)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#')
            || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    return level.isEmpty() ? QStringLiteral("unknown") : level;
}

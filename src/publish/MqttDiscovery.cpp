#include "publish/MqttDiscovery.h"

#include "publish/ReadingPayload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
struct Quantity
{
    const char *name; // the reading's value
    const char *label;
    bool binary; // a relay: on or off
    bool total; // only ever grows
};

// What Modbus sweeps (flow, totalizer, temperature) and PC logging (flow, total, high, low and
// the relays) publish.
constexpr Quantity kQuantities[] = {
    { "flow", "Flow", false, false },
    { "totalizer", "Totalizer", false, true },
    { "temperature", "Temperature", false, false },
    { "total", "Total", false, true },
    { "high", "High", false, false },
    { "low", "Low", false, false },
    { "relay1", "Relay 1", true, false },
    { "relay2", "Relay 2", true, false },
};

const Quantity *Find(const QString &name)
{
    for (const Quantity &q : kQuantities)
        if (name == QLatin1String(q.name))
            return &q;
    return nullptr;
}

QByteArray ConfigTopic(const Quantity &q, const QString &id)
{
    return QStringLiteral("%1/%2/tarvik_%3/%4/config")
        .arg(QLatin1String(MqttDiscovery::kPrefix),
            QLatin1String(q.binary ? "binary_sensor" : "sensor"), id, QLatin1String(q.name))
        .toUtf8();
}
} // namespace

QString MqttDiscovery::Id(const QString &serial)
{
    QString id = serial.trimmed();
    for (QChar &c : id)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_')
            && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return id.isEmpty() ? QStringLiteral("unknown") : id;
}

std::vector<MqttDiscovery::Message> MqttDiscovery::Configs(const QString &prefix,
    const QString &statusTopic, const QString &serial,
    const std::vector<ReadingSink::Value> &values)
{
    const QString id = Id(serial);
    QJsonObject device;
    device.insert(QStringLiteral("identifiers"), QJsonArray { QStringLiteral("tarvik_") + id });
    device.insert(QStringLiteral("name"), QStringLiteral("Meter ") + serial.trimmed());
    device.insert(QStringLiteral("serial_number"), serial.trimmed());
    std::vector<Message> messages;
    for (const ReadingSink::Value &v : values) {
        const Quantity *q = Find(v.name);
        if (!q)
            continue;
        QJsonObject config;
        config.insert(QStringLiteral("name"), QLatin1String(q->label));
        config.insert(QStringLiteral("unique_id"),
            QStringLiteral("tarvik_%1_%2").arg(id, QLatin1String(q->name)));
        config.insert(QStringLiteral("state_topic"),
            prefix + QLatin1Char('/') + ReadingPayload::MeterTopic(serial));
        config.insert(QStringLiteral("value_template"),
            QStringLiteral("{{ value_json['values']['%1']['value'] }}")
                .arg(QLatin1String(q->name)));
        config.insert(QStringLiteral("availability_topic"), statusTopic);
        config.insert(QStringLiteral("device"), device);
        if (q->binary) {
            config.insert(QStringLiteral("payload_on"), QStringLiteral("on"));
            config.insert(QStringLiteral("payload_off"), QStringLiteral("off"));
        }
        // A unit makes the value a number to chart; without one it is shown as text.
        const QString unit = v.unit.trimmed();
        if (!q->binary && !unit.isEmpty()) {
            config.insert(QStringLiteral("unit_of_measurement"), unit);
            config.insert(QStringLiteral("state_class"),
                QLatin1String(q->total ? "total_increasing" : "measurement"));
            if (unit.size() == 2 && unit[0] == QChar(0xB0)
                && (unit[1] == QLatin1Char('F') || unit[1] == QLatin1Char('C')))
                config.insert(QStringLiteral("device_class"), QStringLiteral("temperature"));
        }
        messages.push_back(
            { ConfigTopic(*q, id), QJsonDocument(config).toJson(QJsonDocument::Compact) });
    }
    return messages;
}

std::vector<QByteArray> MqttDiscovery::Topics(const QString &serial)
{
    std::vector<QByteArray> topics;
    for (const Quantity &q : kQuantities)
        topics.push_back(ConfigTopic(q, Id(serial)));
    return topics;
}

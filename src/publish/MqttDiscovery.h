#pragma once

#include "base/ReadingSink.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Home Assistant's MQTT discovery: one retained config message per meter and quantity under
// "homeassistant/", so a dashboard lists the meters with their values and units and no hand
// mapping. Only a meter whose serial is known is announced, its state topic being the one that
// stays (PREFIX/meter/SERIAL); its availability is the publishing client's status topic. A
// meter that is gone is cleared with empty retained messages on the same config topics.
class MqttDiscovery
{
public:
    static constexpr const char *kPrefix = "homeassistant";

    struct Message
    {
        QByteArray topic;
        QByteArray payload;
    };

    // The config messages of the meter with this serial, one per value a reading of it carries.
    static std::vector<Message> Configs(const QString &prefix, const QString &statusTopic,
        const QString &serial, const std::vector<ReadingSink::Value> &values);
    // The config topics of every quantity this program announces for a meter, those of both
    // Modbus and PC logging: what clearing a meter empties.
    static std::vector<QByteArray> Topics(const QString &serial);
    // The serial as discovery's ids take it: letters, digits, "_" and "-"; others become "_".
    static QString Id(const QString &serial);
};

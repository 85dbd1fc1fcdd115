#pragma once

#include <memory>

class CliContext;
class MqttPublisher;

// --mqtt of tarvik-cli's log and modbus: the readings go to an MQTT broker while the command
// runs (ReadingSink), and what is still queued is delivered before the program ends.
class CliPublishing
{
public:
    explicit CliPublishing(CliContext &context);
    ~CliPublishing();

    // With --mqtt: starts the publisher and waits for the broker to take the connection; false
    // (said, status 2 or 3 set) when the options are wrong or the broker cannot be reached.
    // True without --mqtt.
    bool Start();
    // Sends what is still queued (5 s at most) and closes the connection.
    void Finish();

private:
    CliContext &m_cli;
    std::unique_ptr<MqttPublisher> m_publisher;
};

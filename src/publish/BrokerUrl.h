#pragma once

#include <QString>

// A broker address as the user gives it: "mqtt://host:port", or "mqtts://host:port" for TLS.
// Parse refuses any other scheme, a missing or out-of-range port, a path, user information in
// the address and anything that is not one host name or IP address, with a message that says
// which; the publisher, its settings page and tarvik-cli's --mqtt all parse through it.
class BrokerUrl
{
public:
    // Empty on success, else the message.
    QString Parse(const QString &text);

    QString Host() const { return m_host; }
    int Port() const { return m_port; }
    bool Tls() const { return m_tls; }
    // "host:port" for messages (an IPv6 address in brackets).
    QString HostPort() const;

private:
    QString m_host;
    int m_port = 0;
    bool m_tls = false;
};

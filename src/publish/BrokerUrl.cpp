#include "publish/BrokerUrl.h"

#include <QRegularExpression>

QString BrokerUrl::Parse(const QString &text)
{
    *this = BrokerUrl();
    const QString given = text.trimmed();
    const QString hint = QStringLiteral(" The broker is given as mqtt://host:port or "
                                        "mqtts://host:port (TLS), for example "
                                        "mqtt://192.168.1.20:1883.");
    const qsizetype schemeEnd = given.indexOf(QStringLiteral("://"));
    if (schemeEnd < 0)
        return QStringLiteral("\"%1\" is no broker address.").arg(given) + hint;
    const QString scheme = given.left(schemeEnd).toLower();
    if (scheme == QLatin1String("mqtts"))
        m_tls = true;
    else if (scheme != QLatin1String("mqtt"))
        return QStringLiteral("The scheme \"%1\" is not one of mqtt and mqtts.").arg(scheme) + hint;
    QString rest = given.mid(schemeEnd + 3);
    // A trailing "/" is harmless; a path or a query is not an MQTT thing.
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?'))
        || rest.contains(QLatin1Char('#')))
        return QStringLiteral("\"%1\" has a path; a broker address has a host and a port only.")
                   .arg(given)
            + hint;
    if (rest.contains(QLatin1Char('@')))
        return QStringLiteral("\"%1\" holds a user name; give it in the user field instead.")
            .arg(given);
    QString host;
    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return QStringLiteral("\"%1\" has an unclosed \"[\".").arg(given) + hint;
        host = rest.mid(1, close - 1);
        if (rest.mid(close + 1, 1) != QLatin1String(":"))
            return QStringLiteral("\"%1\" gives no port.").arg(given) + hint;
        port = rest.mid(close + 2);
        static const QRegularExpression ipv6(
            QStringLiteral("^[0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*$"));
        if (!ipv6.match(host).hasMatch())
            return QStringLiteral("\"%1\" is no IPv6 address.").arg(host) + hint;
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return QStringLiteral("\"%1\" gives no port (1883 is the usual one, 8883 with TLS).")
                       .arg(given)
                + hint;
        host = rest.left(colon);
        port = rest.mid(colon + 1);
        // Host names of letters, digits, '-', '_' and dots, or a dotted IPv4 address.
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_.-]*)$"));
        if (host.isEmpty() || host.size() > 253 || !name.match(host).hasMatch())
            return QStringLiteral("\"%1\" is no host name or IP address.").arg(host) + hint;
    }
    bool ok = false;
    const int number = port.toInt(&ok);
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!ok || !digits.match(port).hasMatch() || number < 1 || number > 65535)
        return QStringLiteral("\"%1\" is no port number (1 to 65535).").arg(port) + hint;
    m_host = host;
    m_port = number;
    return {};
}

QString BrokerUrl::HostPort() const
{
    if (m_host.contains(QLatin1Char(':')))
        return QStringLiteral("[%1]:%2").arg(m_host).arg(m_port);
    return QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

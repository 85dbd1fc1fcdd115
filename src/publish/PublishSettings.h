#pragma once

#include <QString>

class QSettings;

// What Settings > Publish keeps: whether readings are published, the broker's address, the CA
// file for mqtts, a client certificate and its key for brokers that log clients in by
// certificate, the topic prefix, client id, user, password, QoS and whether the meters are
// announced for Home Assistant's discovery. Stored in the
// preferences' "Publish" section. This desktop build has no secret store, so the password is
// kept there too, and the page says so.
class PublishSettings
{
public:
    static constexpr const char *kSection = "Publish";
    static constexpr const char *kDefaultPrefix = "tarvik";

    bool enabled = false;
    QString url;
    QString caFile;
    QString certFile; // the client's certificate (PEM), with keyFile; mqtts only
    QString keyFile; // its private key (PEM, not encrypted)
    QString topicPrefix = QString::fromLatin1(kDefaultPrefix);
    QString clientId; // empty: "tarvik-" with the host name and process id
    QString user;
    QString password;
    int qos = 1;
    bool discovery = false;

    static PublishSettings Load(QSettings &store);
    void Save(QSettings &store) const;

    // Empty when the settings can be used, else the message (address, prefix, QoS, CA file,
    // client certificate and key).
    QString Check() const;
    // Empty when prefix is a usable topic prefix: not empty, no "+" or "#" (wildcards of
    // subscriptions, refused in a published topic), no leading or trailing "/", no empty level,
    // no control characters, at most 200 bytes.
    static QString PrefixError(const QString &prefix);
    // The client id in force: the given one, else one made for this process.
    QString EffectiveClientId() const;
};

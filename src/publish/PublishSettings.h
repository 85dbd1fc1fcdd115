#pragma once

#include <QString>

class QSettings;

// What Settings > Publish keeps: whether readings are published, the broker's address, the CA
// file for mqtts, a client certificate and its key for brokers that log clients in by
// certificate, the topic prefix, client id, user, password, QoS and whether the meters are
// announced for Home Assistant's discovery. Stored in the
// preferences' "Publish" section, all but the password: the desktop's keyring keeps that, and
// the preferences only where no keyring runs (or as an earlier program left it, until the
// settings are next saved); the page says which.
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

    // password is the preferences' copy (empty when the keyring keeps it).
    static PublishSettings Load(QSettings &store);
    // Everything but the password.
    void Save(QSettings &store) const;
    // The preferences' copy of the password (removed when empty).
    static void StorePassword(QSettings &store, const QString &password);

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

#include "publish/PublishSettings.h"

#include "publish/BrokerUrl.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>

namespace {
QString PublishKey(const char *entry)
{
    return QString::fromLatin1(PublishSettings::kSection) + QLatin1Char('/') + QLatin1String(entry);
}
} // namespace

PublishSettings PublishSettings::Load(QSettings &store)
{
    PublishSettings s;
    s.enabled = store.value(PublishKey("ENABLED"), false).toBool();
    s.url = store.value(PublishKey("URL")).toString();
    s.caFile = store.value(PublishKey("CAFILE")).toString();
    s.certFile = store.value(PublishKey("CERTFILE")).toString();
    s.keyFile = store.value(PublishKey("KEYFILE")).toString();
    s.topicPrefix
        = store.value(PublishKey("PREFIX"), QString::fromLatin1(kDefaultPrefix)).toString();
    s.clientId = store.value(PublishKey("CLIENTID")).toString();
    s.user = store.value(PublishKey("USER")).toString();
    s.password = store.value(PublishKey("PASSWORD")).toString();
    const int qos = store.value(PublishKey("QOS"), 1).toInt();
    s.qos = qos == 0 ? 0 : 1;
    s.discovery = store.value(PublishKey("DISCOVERY"), false).toBool();
    return s;
}

void PublishSettings::Save(QSettings &store) const
{
    store.setValue(PublishKey("ENABLED"), enabled);
    store.setValue(PublishKey("URL"), url);
    store.setValue(PublishKey("CAFILE"), caFile);
    store.setValue(PublishKey("CERTFILE"), certFile);
    store.setValue(PublishKey("KEYFILE"), keyFile);
    store.setValue(PublishKey("PREFIX"), topicPrefix);
    store.setValue(PublishKey("CLIENTID"), clientId);
    store.setValue(PublishKey("USER"), user);
    store.setValue(PublishKey("QOS"), qos);
    store.setValue(PublishKey("DISCOVERY"), discovery);
}

void PublishSettings::StorePassword(QSettings &store, const QString &password)
{
    if (password.isEmpty())
        store.remove(PublishKey("PASSWORD"));
    else
        store.setValue(PublishKey("PASSWORD"), password);
}

QString PublishSettings::Check() const
{
    BrokerUrl broker;
    QString error = broker.Parse(url);
    if (!error.isEmpty())
        return error;
    error = PrefixError(topicPrefix);
    if (!error.isEmpty())
        return error;
    if (qos != 0 && qos != 1)
        return QStringLiteral("QoS %1 is not offered; choose 0 or 1.").arg(qos);
    if (broker.Tls() && !caFile.isEmpty() && !QFileInfo(caFile).isReadable())
        return QStringLiteral("The CA file \"%1\" cannot be read.").arg(caFile);
    if (!broker.Tls() && !caFile.isEmpty())
        return QStringLiteral("A CA file is for mqtts:// addresses; %1 is not one.").arg(url);
    if (certFile.isEmpty() != keyFile.isEmpty())
        return certFile.isEmpty()
            ? QStringLiteral("A client key needs its certificate; give both or neither.")
            : QStringLiteral("A client certificate needs its key file; give both or neither.");
    if (!certFile.isEmpty() && !broker.Tls())
        return QStringLiteral("A client certificate is for mqtts:// addresses; %1 is not one.")
            .arg(url);
    // The TLS library takes a client certificate only with a CA file of its own.
    if (!certFile.isEmpty() && caFile.isEmpty())
        return QStringLiteral("A client certificate needs the CA file that signed the broker's "
                              "certificate.");
    if (!certFile.isEmpty() && !QFileInfo(certFile).isReadable())
        return QStringLiteral("The client certificate \"%1\" cannot be read.").arg(certFile);
    if (!keyFile.isEmpty() && !QFileInfo(keyFile).isReadable())
        return QStringLiteral("The client key \"%1\" cannot be read.").arg(keyFile);
    if (clientId.toUtf8().size() > 23 * 4)
        return QStringLiteral("The client id is too long (at most 92 bytes).");
    return {};
}

QString PublishSettings::PrefixError(const QString &prefix)
{
    const QString what = QStringLiteral("The topic prefix \"%1\" ").arg(prefix);
    if (prefix.isEmpty())
        return QStringLiteral("The topic prefix is empty; \"tarvik\" is the usual one.");
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return what + QStringLiteral("holds \"+\" or \"#\", which only subscriptions may use.");
    if (prefix.startsWith(QLatin1Char('/')) || prefix.endsWith(QLatin1Char('/'))
        || prefix.contains(QStringLiteral("//")))
        return what + QStringLiteral("has an empty level (a leading, trailing or double \"/\").");
    for (QChar c : prefix)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return what + QStringLiteral("holds a control character.");
    if (prefix.toUtf8().size() > 200)
        return what + QStringLiteral("is longer than 200 bytes.");
    return {};
}

QString PublishSettings::EffectiveClientId() const
{
    if (!clientId.trimmed().isEmpty())
        return clientId.trimmed();
    return QStringLiteral("tarvik-%1-%2")
        .arg(QSysInfo::machineHostName().left(40))
        .arg(QCoreApplication::applicationPid());
}

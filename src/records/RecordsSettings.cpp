#include "records/RecordsSettings.h"

#include "base/CPrefs.h"
#include "records/RecordsStore.h"

#include <QSettings>

namespace {
const QString kRecordsServerKey = QStringLiteral("Records/UseServer");
const QString kRecordsHostKey = QStringLiteral("Records/Host");
const QString kRecordsPortKey = QStringLiteral("Records/Port");
const QString kRecordsDatabaseKey = QStringLiteral("Records/Database");
const QString kRecordsUserKey = QStringLiteral("Records/User");
const QString kRecordsPasswordKey = QStringLiteral("Records/Password");
const QString kRecordsSessionKey = QStringLiteral("Records/SessionHours");
} // namespace

bool RecordsSettings::UseServer()
{
    return CPrefs::OpenStore()->value(kRecordsServerKey).toString() == QLatin1String("true");
}

RecordsTarget RecordsSettings::Server()
{
    const auto store = CPrefs::OpenStore();
    RecordsTarget server;
    server.kind = RecordsTarget::Kind::Postgresql;
    server.host = store->value(kRecordsHostKey).toString();
    const int port = store->value(kRecordsPortKey).toInt();
    server.port = port > 0 && port < 65536 ? port : RecordsTarget::kDefaultPort;
    server.database = store->value(kRecordsDatabaseKey).toString();
    server.user = store->value(kRecordsUserKey).toString();
    return server;
}

void RecordsSettings::SetServer(bool use, const RecordsTarget &server)
{
    const auto store = CPrefs::OpenStore();
    store->setValue(kRecordsServerKey, use ? QStringLiteral("true") : QStringLiteral("false"));
    store->setValue(kRecordsHostKey, server.host.trimmed());
    store->setValue(kRecordsPortKey, server.port);
    store->setValue(kRecordsDatabaseKey, server.database.trimmed());
    store->setValue(kRecordsUserKey, server.user.trimmed());
}

RecordsTarget RecordsSettings::Target(const QString &trailPath)
{
    if (!UseServer())
        return RecordsTarget::BesideTrail(trailPath);
    RecordsTarget server = Server();
    server.password = StoredPassword();
    return server;
}

int RecordsSettings::SessionHours()
{
    const int hours = CPrefs::OpenStore()->value(kRecordsSessionKey).toInt();
    return hours > 0 ? hours : RecordsStore::kDefaultSessionHours;
}

void RecordsSettings::SetSessionHours(int hours)
{
    CPrefs::OpenStore()->setValue(kRecordsSessionKey, hours);
}

QString RecordsSettings::StoredPassword()
{
    return CPrefs::OpenStore()->value(kRecordsPasswordKey).toString();
}

void RecordsSettings::SetStoredPassword(const QString &password)
{
    const auto store = CPrefs::OpenStore();
    if (password.isEmpty())
        store->remove(kRecordsPasswordKey);
    else
        store->setValue(kRecordsPasswordKey, password);
}

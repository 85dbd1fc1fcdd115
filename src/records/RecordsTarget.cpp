#include "records/RecordsTarget.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

RecordsTarget RecordsTarget::BesideTrail(const QString &trailPath)
{
    RecordsTarget target;
    target.path = QFileInfo(trailPath).absoluteDir().filePath(QString::fromLatin1(kFileName));
    return target;
}

std::optional<RecordsTarget> RecordsTarget::Parse(const QString &text, QString *error)
{
    const QString given = text.trimmed();
    RecordsTarget target;
    if (given.startsWith(QLatin1String("sqlite:"))) {
        target.path = given.mid(7);
        if (target.path.startsWith(QLatin1String("//")))
            target.path = target.path.mid(2);
    } else if (given.startsWith(QLatin1String("postgresql://"))
        || given.startsWith(QLatin1String("postgres://"))) {
        const QUrl url(given, QUrl::StrictMode);
        target.kind = Kind::Postgresql;
        target.host = url.host();
        target.user = url.userName();
        target.password = url.password();
        target.port = url.port(kDefaultPort);
        target.database = url.path().mid(1);
        if (!url.isValid() || target.host.isEmpty() || target.user.isEmpty()
            || target.database.isEmpty() || target.database.contains(QLatin1Char('/'))
            || target.port <= 0) {
            *error = QStringLiteral("\"%1\" names no PostgreSQL database: give "
                                    "postgresql://USER@HOST[:PORT]/DB.")
                         .arg(given);
            return std::nullopt;
        }
        return target;
    } else if (given.contains(QLatin1String("://"))) {
        *error = QStringLiteral("\"%1\" names no store: give postgresql://USER@HOST[:PORT]/DB or "
                                "an SQLite file.")
                     .arg(given);
        return std::nullopt;
    } else {
        target.path = given;
    }
    if (target.path.isEmpty()) {
        *error = QStringLiteral("\"%1\" names no SQLite file.").arg(given);
        return std::nullopt;
    }
    target.path = QFileInfo(target.path).absoluteFilePath();
    return target;
}

QString RecordsTarget::Url() const
{
    if (kind == Kind::Sqlite)
        return QDir::toNativeSeparators(path);
    return QStringLiteral("postgresql://%1@%2%3/%4")
        .arg(user,
            host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host,
            port == kDefaultPort ? QString() : QStringLiteral(":%1").arg(port), database);
}

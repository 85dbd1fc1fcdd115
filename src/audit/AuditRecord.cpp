#include "audit/AuditRecord.h"

#include "base/Globals.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSysInfo>

#include <cstdlib>

namespace {
QString AuditAccount()
{
    for (const char *name : { "USER", "LOGNAME", "USERNAME" })
        if (const char *value = std::getenv(name); value && *value)
            return QString::fromLocal8Bit(value);
    return QString();
}
} // namespace

QString AuditRecord::TimeText(const QDateTime &time)
{
    // Qt::ISODate gives "Z" for UTC and drops the offset of a local time at +00:00; the trail
    // always carries an explicit offset.
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

AuditRecord AuditRecord::Now(const QString &action, const QString &operatorName)
{
    AuditRecord record;
    record.time = QDateTime::currentDateTime();
    record.operatorName
        = operatorName.trimmed().isEmpty() ? QStringLiteral("Anon") : operatorName.trimmed();
    record.account = AuditAccount();
    record.computer = QSysInfo::machineHostName();
    record.version = QString::fromLatin1(kAppTitle);
    record.action = action;
    return record;
}

QByteArray AuditRecord::ToJsonLine() const
{
    QJsonArray list;
    for (const Change &c : changes)
        list.append(
            QJsonObject { { QStringLiteral("caption"), c.caption }, { QStringLiteral("id"), c.id },
                { QStringLiteral("before"), c.before }, { QStringLiteral("after"), c.after } });
    const QJsonObject object {
        { QStringLiteral("time"), TimeText(time) },
        { QStringLiteral("operator"), operatorName },
        { QStringLiteral("account"), account },
        { QStringLiteral("computer"), computer },
        { QStringLiteral("version"), version },
        { QStringLiteral("action"), action },
        { QStringLiteral("series"), series },
        { QStringLiteral("model"), model },
        { QStringLiteral("firmware"), firmware },
        { QStringLiteral("serial"), serial },
        { QStringLiteral("file"), file },
        { QStringLiteral("sha256"), sha256 },
        { QStringLiteral("changes"), list },
        { QStringLiteral("result"), result },
        { QStringLiteral("message"), message },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<AuditRecord> AuditRecord::FromJson(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    AuditRecord r;
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODate);
    if (!r.time.isValid())
        return std::nullopt;
    const auto text = [&o](const char *key) { return o.value(QLatin1String(key)).toString(); };
    r.operatorName = text("operator");
    r.account = text("account");
    r.computer = text("computer");
    r.version = text("version");
    r.action = text("action");
    r.series = text("series");
    r.model = text("model");
    r.firmware = text("firmware");
    r.serial = text("serial");
    r.file = text("file");
    r.sha256 = text("sha256");
    r.result = text("result");
    r.message = text("message");
    for (const QJsonValue &v : o.value(QStringLiteral("changes")).toArray()) {
        const QJsonObject c = v.toObject();
        r.changes.push_back({ c.value(QStringLiteral("caption")).toString(),
            c.value(QStringLiteral("id")).toInt(), c.value(QStringLiteral("before")).toString(),
            c.value(QStringLiteral("after")).toString() });
    }
    return r;
}

#include "audit/AuditRecord.h"

#include "audit/AuditSettings.h"
#include "base/AppTitle.h"
#include "link/AppendOnlyFile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSysInfo>
#include <QUuid>

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
    record.lineId = NewLineId();
    record.time = QDateTime::currentDateTime();
    const QString anon = QStringLiteral("Anon");
    QString name = operatorName.trimmed();
    if (name.isEmpty() || name == anon)
        name = AuditSettings::Operator();
    record.operatorName = name.isEmpty() ? anon : name;
    record.account = ProcessAccount();
    record.computer = QSysInfo::machineHostName();
    record.version = QString::fromLatin1(kAppTitle);
    record.action = action;
    return record;
}

QString AuditRecord::ProcessAccount()
{
    return AppendOnlyFile::AccountName();
}

QString AuditRecord::FirmwareText(const QString &label)
{
    QString text = label.trimmed();
    if (text.startsWith(QLatin1Char('v')) || text.startsWith(QLatin1Char('V')))
        text = text.mid(1).trimmed();
    if (text.startsWith(QLatin1Char('[')) || text.startsWith(QLatin1Char('?')))
        return QString();
    return text;
}

QByteArray AuditRecord::ToJsonLine() const
{
    QJsonArray list;
    for (const Change &c : changes)
        list.append(
            QJsonObject { { QStringLiteral("caption"), c.caption }, { QStringLiteral("id"), c.id },
                { QStringLiteral("before"), c.before }, { QStringLiteral("after"), c.after } });
    QJsonObject object {
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
        { QStringLiteral("as_found"), asFound },
        { QStringLiteral("changes"), list },
        { QStringLiteral("result"), result },
        { QStringLiteral("message"), message },
    };
    if (!lineId.isEmpty())
        object.insert(QStringLiteral("id"), lineId);
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
    r.lineId = text("id");
    if (r.lineId.isEmpty())
        r.lineId = LineIdOf(line.trimmed());
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
    r.asFound = text("as_found");
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

QString AuditRecord::NewLineId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString AuditRecord::LineIdOf(const QByteArray &line)
{
    return QString::fromLatin1(QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex());
}

#include "cli/CliRecords.h"

#include "audit/AuditLog.h"
#include "cli/CliAudit.h"
#include "cli/CliContext.h"
#include "records/KeyringPassword.h"
#include "records/RecordsDelivery.h"
#include "records/RecordsSettings.h"
#include "records/RecordsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
bool g_recordsAppended = false;

QJsonObject RecordsActionJson(const AuditRecord &r)
{
    QJsonArray changes;
    for (const AuditRecord::Change &c : r.changes)
        changes.append(
            QJsonObject { { QStringLiteral("caption"), c.caption }, { QStringLiteral("id"), c.id },
                { QStringLiteral("before"), c.before }, { QStringLiteral("after"), c.after } });
    return QJsonObject { { QStringLiteral("id"), r.lineId },
        { QStringLiteral("time"), AuditRecord::TimeText(r.time) },
        { QStringLiteral("action"), r.action }, { QStringLiteral("result"), r.result },
        { QStringLiteral("message"), r.message }, { QStringLiteral("operator"), r.operatorName },
        { QStringLiteral("computer"), r.computer }, { QStringLiteral("version"), r.version },
        { QStringLiteral("model"), r.model }, { QStringLiteral("firmware"), r.firmware },
        { QStringLiteral("file"), r.file }, { QStringLiteral("sha256"), r.sha256 },
        { QStringLiteral("as_found"), r.asFound }, { QStringLiteral("changes"), changes } };
}

QJsonObject RecordsMeterJson(const RecordsStore::Meter &m)
{
    return QJsonObject { { QStringLiteral("serial"), m.serial },
        { QStringLiteral("series"), m.series }, { QStringLiteral("model"), m.model },
        { QStringLiteral("firmware"), m.firmware }, { QStringLiteral("last_visit"), m.lastVisit },
        { QStringLiteral("visits"), m.visits }, { QStringLiteral("interval_days"), m.intervalDays },
        { QStringLiteral("due"), m.due.toString(Qt::ISODate) } };
}

QString RecordsMeterLine(const RecordsStore::Meter &m)
{
    return QStringLiteral("%1 %2%3%4: %5 visit(s), last %6, due %7\n")
        .arg(m.series, m.serial,
            m.model.isEmpty() ? QString() : QStringLiteral(", model %1").arg(m.model),
            m.firmware.isEmpty() ? QString() : QStringLiteral(", firmware %1").arg(m.firmware))
        .arg(m.visits)
        .arg(m.lastVisit, m.due.toString(Qt::ISODate));
}
} // namespace

CliRecords::CliRecords(CliContext &cli)
    : m_cli(cli)
{
}

void CliRecords::WatchTrail()
{
    AuditLog::SetAppendedHook([](const QString &) { g_recordsAppended = true; });
}

bool CliRecords::CheckDb(const CliContext &cli, QString *error)
{
    return !cli.args.Has(QStringLiteral("--db"))
        || RecordsTarget::Parse(cli.args.Value(QStringLiteral("--db")), error).has_value();
}

std::optional<RecordsTarget> CliRecords::Target() const
{
    QString error;
    auto target = m_cli.args.Has(QStringLiteral("--db"))
        ? RecordsTarget::Parse(m_cli.args.Value(QStringLiteral("--db")), &error)
        : RecordsSettings::Target(CliAudit::TrailPath());
    // The server of the settings lends its password to the same server named here: the one the
    // preferences keep, else the keyring's, as the window takes it; with no keyring answering,
    // none after a bounded wait (libpq also takes PGPASSWORD and ~/.pgpass).
    if (target && target->kind == RecordsTarget::Kind::Postgresql && target->password.isEmpty()
        && RecordsSettings::Server().Url() == target->Url()) {
        target->password = RecordsSettings::StoredPassword();
        if (target->password.isEmpty())
            target->password = KeyringPassword::ReadWaiting(target->Url());
    }
    return target;
}

void CliRecords::DeliverIfAppended()
{
    if (!g_recordsAppended)
        return;
    g_recordsAppended = false;
    const auto target = Target();
    if (!target)
        return;
    RecordsStore store(*target);
    store.SetSessionHours(RecordsSettings::SessionHours());
    RecordsDelivery::Progress progress;
    if (store.Open() && RecordsDelivery::DeliverAll(store, CliAudit::TrailPath(), &progress))
        return;
    CliContext::Err(store.Error()
        + QStringLiteral("\nThe audit trail %1 keeps every record; they go to the store with the "
                         "next command that reaches it.")
              .arg(CliAudit::TrailPath()));
}

int CliRecords::History()
{
    const bool due = m_cli.args.Has(QStringLiteral("--due"));
    const bool json = m_cli.args.Has(QStringLiteral("--json"));
    const QStringList plain = m_cli.args.Plain();
    const bool interval = m_cli.args.Has(QStringLiteral("--interval"));
    bool ok = true;
    const int days = interval ? m_cli.args.Value(QStringLiteral("--interval")).toInt(&ok) : 0;
    if (plain.size() > 1 || (due && !plain.isEmpty()) || (!due && !interval && plain.size() != 1)
        || (interval && (!ok || days < 0)) || (interval && due)) {
        CliContext::Err(QStringLiteral("history takes one serial number, or --due, or "
                                       "--interval DAYS (with a serial number: that meter's; 0 "
                                       "gives it back to the lab's). (\"tarvik-cli history "
                                       "--help\")"));
        return CliContext::kBadInput;
    }
    const auto target = Target();
    if (!target)
        return CliContext::kBadInput;
    // The lines this bench's trail holds go first, so the answer includes them.
    RecordsStore store(*target);
    store.SetSessionHours(RecordsSettings::SessionHours());
    RecordsDelivery::Progress progress;
    if (!store.Open()) {
        CliContext::Err(store.Error());
        return CliContext::kPortUnusable;
    }
    if (!RecordsDelivery::DeliverAll(store, CliAudit::TrailPath(), &progress))
        CliContext::Err(store.Error()
            + QStringLiteral("\nThe lines of this computer's trail not yet in the store are "
                             "left out."));
    const QString serial = plain.value(0).trimmed();
    if (interval) {
        if (!store.SetIntervalDays(serial, days)) {
            CliContext::Err(store.Error());
            return serial.isEmpty() ? CliContext::kPortUnusable : CliContext::kMeterFailed;
        }
        CliContext::Out(
            QStringLiteral("Recalibration interval of %1: %2\n")
                .arg(serial.isEmpty() ? QStringLiteral("the lab") : serial,
                    days > 0 ? QStringLiteral("%1 days").arg(days) : QStringLiteral("the lab's")));
        return CliContext::kDone;
    }
    if (due)
        return Due(store, json);
    const auto visits = store.History(serial);
    auto meters = store.Meters(serial);
    if (!visits || !meters) {
        CliContext::Err(store.Error());
        return CliContext::kPortUnusable;
    }
    std::erase_if(*meters, [&serial](const RecordsStore::Meter &m) { return m.serial != serial; });
    if (visits->empty()) {
        CliContext::Err(QStringLiteral("The service records %1 hold no visit of the meter %2.")
                            .arg(target->Url(), serial));
        return CliContext::kMeterFailed;
    }
    if (json) {
        QJsonArray meterList, visitList;
        for (const RecordsStore::Meter &m : *meters)
            meterList.append(RecordsMeterJson(m));
        for (const RecordsStore::Visit &v : *visits) {
            QJsonArray actions;
            for (const AuditRecord &r : v.actions)
                actions.append(RecordsActionJson(r));
            visitList.append(QJsonObject { { QStringLiteral("id"), v.id },
                { QStringLiteral("series"), v.series },
                { QStringLiteral("operator"), v.operatorName },
                { QStringLiteral("computer"), v.computer }, { QStringLiteral("first"), v.first },
                { QStringLiteral("last"), v.last }, { QStringLiteral("actions"), actions } });
        }
        CliContext::Out(QString::fromUtf8(QJsonDocument(
            QJsonObject { { QStringLiteral("serial"), serial },
                { QStringLiteral("meters"), meterList }, { QStringLiteral("visits"), visitList } })
                                              .toJson(QJsonDocument::Indented)));
        return CliContext::kDone;
    }
    QString out;
    for (const RecordsStore::Meter &m : *meters)
        out += RecordsMeterLine(m);
    for (const RecordsStore::Visit &v : *visits) {
        out += QStringLiteral("\nVisit %1 to %2, %3%4 (%5)\n")
                   .arg(v.first, v.last, v.operatorName,
                       v.computer.isEmpty() ? QString() : QStringLiteral(" on ") + v.computer,
                       v.series);
        for (const AuditRecord &r : v.actions) {
            out += QStringLiteral("  %1 %2 %3%4\n")
                       .arg(AuditRecord::TimeText(r.time), r.action, r.result,
                           r.file.isEmpty() ? QString() : QStringLiteral(" ") + r.file);
            for (const AuditRecord::Change &c : r.changes)
                out += QStringLiteral("    %1 (%2): %3 -> %4\n")
                           .arg(c.caption)
                           .arg(c.id)
                           .arg(c.before, c.after);
        }
    }
    CliContext::Out(out);
    return CliContext::kDone;
}

int CliRecords::Due(RecordsStore &store, bool json)
{
    const auto meters = store.Due(QDate::currentDate());
    if (!meters) {
        CliContext::Err(store.Error());
        return CliContext::kPortUnusable;
    }
    if (json) {
        QJsonArray list;
        for (const RecordsStore::Meter &m : *meters)
            list.append(RecordsMeterJson(m));
        CliContext::Out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    } else {
        QString out;
        for (const RecordsStore::Meter &m : *meters)
            out += RecordsMeterLine(m);
        CliContext::Out(out);
    }
    return meters->empty() ? CliContext::kMeterFailed : CliContext::kDone;
}

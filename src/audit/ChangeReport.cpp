#include "audit/ChangeReport.h"

#include <QHash>

#include <algorithm>
#include <map>

namespace {
bool ReportStored(const AuditRecord &r)
{
    return r.result == QLatin1String("ok");
}

void ReportAddUnique(QStringList &list, const QString &text)
{
    if (!text.isEmpty() && !list.contains(text))
        list << text;
}

QString ReportCell(const QString &text, int width)
{
    return text.size() > width ? text.left(width - 1) + QLatin1Char('~')
                               : text.leftJustified(width);
}
} // namespace

std::vector<ChangeReport::Visit> ChangeReport::Visits(
    const std::vector<AuditRecord> &records, const QString &serial)
{
    std::vector<const AuditRecord *> sends;
    for (const AuditRecord &r : records)
        if (r.action == QLatin1String("send")
            && (serial.trimmed().isEmpty() || r.serial.trimmed() == serial.trimmed()))
            sends.push_back(&r);
    std::stable_sort(sends.begin(), sends.end(),
        [](const AuditRecord *a, const AuditRecord *b) { return a->time < b->time; });

    std::vector<Visit> visits;
    std::map<std::pair<QString, qint64>, size_t> index;
    std::vector<QHash<QString, size_t>> fieldIndex;
    for (const AuditRecord *r : sends) {
        const auto key = std::make_pair(r->serial.trimmed(), r->time.date().toJulianDay());
        auto found = index.find(key);
        if (found == index.end()) {
            Visit v;
            v.serial = r->serial.trimmed();
            v.date = r->time.date();
            found = index.emplace(key, visits.size()).first;
            visits.push_back(v);
            fieldIndex.emplace_back();
        }
        Visit &v = visits[found->second];
        QHash<QString, size_t> &fields = fieldIndex[found->second];
        if (!r->series.isEmpty())
            v.series = r->series;
        if (!r->model.isEmpty())
            v.model = r->model;
        if (!r->firmware.isEmpty())
            v.firmware = r->firmware;
        v.version = r->version;
        ReportAddUnique(v.operators, r->operatorName);
        ReportAddUnique(v.files, r->file);
        if (!ReportStored(*r)) {
            ++v.failed;
            continue;
        }
        ++v.sends;
        for (const AuditRecord::Change &c : r->changes) {
            const auto at = fields.find(c.caption);
            if (at == fields.end()) {
                fields.insert(c.caption, v.fields.size());
                v.fields.push_back(c);
            } else {
                v.fields[*at].after = c.after;
            }
        }
    }
    for (Visit &v : visits)
        v.fields.erase(std::remove_if(v.fields.begin(), v.fields.end(),
                           [](const AuditRecord::Change &c) { return c.before == c.after; }),
            v.fields.end());
    return visits;
}

SheetPage ChangeReport::Page(const Visit &visit, const SheetMetrics &metrics)
{
    SheetPage page(metrics);
    page.SetFont(SheetFont::Title);
    page.Text(QStringLiteral("Change Report"));
    page.DownOneAndHalf();
    page.Heading(QStringLiteral("Meter %1").arg(visit.serial));
    const auto line = [&page](const QString &text) {
        page.Text(text);
        page.DownLines(1);
    };
    line(QStringLiteral("Series:    %1").arg(visit.series));
    if (!visit.model.isEmpty())
        line(QStringLiteral("Model:     %1").arg(visit.model));
    line(QStringLiteral("Firmware:  %1").arg(visit.firmware));
    line(QStringLiteral("Date:      %1").arg(visit.date.toString(QStringLiteral("yyyy-MM-dd"))));
    line(QStringLiteral("Operator:  %1").arg(visit.operators.join(QStringLiteral(", "))));
    line(QStringLiteral("Program:   %1").arg(visit.version));
    for (const QString &file : visit.files)
        line(QStringLiteral("File:      %1").arg(file));
    line(QStringLiteral("Sends stored: %1   not stored or differing: %2")
             .arg(visit.sends)
             .arg(visit.failed));
    page.DownHalf();
    page.Heading(QStringLiteral("As found / as left"));
    if (visit.fields.empty()) {
        line(QStringLiteral("No field was changed."));
        return page;
    }
    line(ReportCell(QStringLiteral("Field"), 28) + QLatin1Char(' ')
        + ReportCell(QStringLiteral("As found"), 22) + QLatin1Char(' ')
        + QStringLiteral("As left"));
    for (const AuditRecord::Change &c : visit.fields)
        line(ReportCell(c.caption, 28) + QLatin1Char(' ') + ReportCell(c.before, 22)
            + QLatin1Char(' ') + ReportCell(c.after, 22).trimmed());
    return page;
}

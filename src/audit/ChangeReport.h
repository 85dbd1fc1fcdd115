#pragma once

#include "audit/AuditRecord.h"
#include "base/SheetPage.h"

#include <QDate>
#include <QStringList>

#include <vector>

// The change report: one page per meter visit (one serial number on one day) drawn from the
// audit trail, with the as-found and as-left text of every field the visit's sends changed, the
// operators, the date and the program version. Built as SheetPages, so the datasheet renderer
// prints it and writes it as PDF, from the Audit Trail window and from `tarvik-cli report`.
class ChangeReport
{
public:
    struct Visit
    {
        QString serial;
        QDate date;
        QString series;
        QString model;
        QString firmware;
        QStringList operators;
        QString version;
        QStringList files;
        // before: as found (the meter's text before the visit's first send that changed it);
        // after: as left (after its last). Fields changed and changed back are left out.
        std::vector<AuditRecord::Change> fields;
        int sends = 0; // sends the meter stored
        int failed = 0; // sends refused, cut short or stored differently
    };

    // The visits of serial (all when empty) in time order; only records of sends count, and a
    // visit without one is none.
    static std::vector<Visit> Visits(
        const std::vector<AuditRecord> &records, const QString &serial);
    static SheetPage Page(const Visit &visit, const SheetMetrics &metrics);
};

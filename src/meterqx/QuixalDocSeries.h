#pragma once

#include "meter/MeterDocSeries.h"

// The Quixal series of a meter document (".qxm"): tables from "varsQX.dat" under the Quixal
// version rule, a file read in the layout its key byte confirms whatever the working version,
// Convert targets by the Quixal table's own rows, the Quixal vocabulary.
class QuixalDocSeries : public MeterDocSeries
{
public:
    static const QuixalDocSeries &Instance();

    // The varsQX.dat section a Convert target names; empty for a version the Quixal table
    // names in no row of its own.
    static QString SectionForTarget(const QString &target);

    MeterSeries::Series Series() const override { return MeterSeries::Quixal; }
    std::unique_ptr<MeterVars> Table(const QString &requested, QString *version) const override;
    bool BuildsFor(const QString &version) const override { return !version.isEmpty(); }
    // Sections are read exactly as named: the working version does not decide where a file's
    // bytes lie, and opening leaves it as it was.
    bool Open(CMeterDoc &doc, const QString &line, const QString &fileName) const override;
    // The table is the section varsQX.dat holds for the target (">= 4.1A", "4.0x", "3.9G", a
    // stored "4.0A"); 0, and the working version as it was, when it holds none.
    int ConvertToVersion(CMeterDoc &doc, const QString &target) const override;
    void VarsToForm(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &) const override;
    void FormToVars(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &) const override;
    void UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits,
        const KelvaneFields::Rules &) const override;
};

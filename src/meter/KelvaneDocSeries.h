#pragma once

#include "meter/MeterDocSeries.h"

// The Kelvane series of a meter document (".mtr"): tables from "vars20.dat" under the Kelvane
// version rule, a file read in the layout the connected meter or the working version chooses
// (with a warning naming what chose it when the key does not fit), the Kelvane vocabulary.
class KelvaneDocSeries : public MeterDocSeries
{
public:
    static const KelvaneDocSeries &Instance();

    MeterSeries::Series Series() const override { return MeterSeries::Kelvane; }
    std::unique_ptr<MeterVars> Table(const QString &requested, QString *version) const override;
    bool BuildsFor(const QString &) const override { return true; }
    bool Open(CMeterDoc &doc, const QString &line, const QString &fileName) const override;
    // The target (">= 4.1A", "4.0x", "3.9G") becomes the working version first, so the layout
    // built is the one the prompt named even when opening the file had put another in force.
    int ConvertToVersion(CMeterDoc &doc, const QString &target) const override;
    void VarsToForm(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const override;
    void FormToVars(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const override;
    void UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits,
        const KelvaneFields::Rules &rules) const override;

private:
    // Applies the connected meter's version to doc's working version; true when it chose the
    // layout.
    static bool ChooseLayoutFromMeter(CMeterDoc &doc);
    static void WarnLayoutMismatch(const CMeterDoc &doc, const QString &fileName,
        const QString &line, bool meterChose, const QString &versionInForce);
};

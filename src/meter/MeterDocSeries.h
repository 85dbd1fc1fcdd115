#pragma once

#include "meter/KelvaneFields.h"
#include "meter/MeterSeries.h"

#include <QString>

#include <memory>

class CMeterDoc;
class IFieldAccess;
class MeterVars;

// What a meter document does by its series: the layout file and version rule its tables are
// built by, how a file's meter line is opened, how a Convert target names a layout and how its
// variables move to and from a form. CMeterDoc works through one; KelvaneDocSeries and
// QuixalDocSeries are the two, each a single instance the document manager's types hand over.
class MeterDocSeries
{
public:
    virtual ~MeterDocSeries() = default;

    // The Kelvane series (KelvaneDocSeries), which a document made without one works by.
    static const MeterDocSeries &Kelvane();

    virtual MeterSeries::Series Series() const = 0;
    // An empty table for `requested` under the working version *version, which the series'
    // version rule normalises.
    virtual std::unique_ptr<MeterVars> Table(const QString &requested, QString *version) const = 0;
    // Whether a version answer builds a new table ("[version]"); the Quixal series takes no
    // empty one.
    virtual bool BuildsFor(const QString &version) const = 0;
    // Reads a file's first line into doc (fileName names it in the messages): the table it is
    // read in, the warnings and the whole-image check. False when the file is refused.
    virtual bool Open(CMeterDoc &doc, const QString &line, const QString &fileName) const = 0;
    // File > Convert to a firmware version as the settings name it: 0, and the data as they
    // were, when the series has no layout for it.
    virtual int ConvertToVersion(CMeterDoc &doc, const QString &target) const = 0;
    // The variables into the form and back, and a units change, under the rules given (a series
    // whose rules do not depend on the version leaves them aside).
    virtual void VarsToForm(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const = 0;
    virtual void FormToVars(
        MeterVars &vars, IFieldAccess &form, const KelvaneFields::Rules &rules) const = 0;
    virtual void UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits,
        const KelvaneFields::Rules &rules) const = 0;
};

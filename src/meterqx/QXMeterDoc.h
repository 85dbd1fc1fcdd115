#pragma once

#include "meter/CMeterDoc.h"

class IFieldAccess;

// The meter document of a Quixal (".qxm") form: a CMeterDoc whose table the Quixal operations
// rebuild from "varsQX.dat" (a read's version answer, a conversion) and whose variables move
// to and from the form by the Quixal vocabulary. Created by the document manager for the
// Quixal type; the form and the command lists reach it through the form.
class QXMeterDoc : public CMeterDoc
{
    Q_OBJECT
public:
    explicit QXMeterDoc(QObject *parent = nullptr);
    explicit QXMeterDoc(const QString &version, QObject *parent = nullptr);

    // A Quixal file is read in the layout its key byte confirms, whatever the working version;
    // opening it leaves that version as it was.
    bool OnOpenDocument(const QString &path) override;
    // What opening does with the file's meter line; fileName names the file in the message.
    // True when a layout of "vars20.dat" fits the line (its key byte reads AA).
    bool OpenMeterLine(const QString &line, const QString &fileName);

    // Nothing for an empty version; else the working version becomes "[version]" and an empty
    // QXMeterVars is built for that section.
    void SetVersionQX(const QString &version);
    // Moves the data into a QXMeterVars for `section`, name by name. 0, and nothing changes,
    // when that layout has no variables.
    int ConvertToQX(const QString &section);
    // Convert with a firmware version from the settings (">= 4.1A", "4.0x", "3.9G", a stored
    // "4.0A"): the table is the section varsQX.dat holds for that version. 0, and nothing
    // changes (the working version neither), when it holds none.
    int ConvertToVersionQX(const QString &target);
    // The varsQX.dat section a Convert target names; empty for a version the Quixal table
    // names in no row of its own.
    static QString SectionForTarget(const QString &target);
    void VarsToFormQX(IFieldAccess &form);
    void FormToVarsQX(IFieldAccess &form);
    void UnitsChangedQX(IFieldAccess &form, int newUnits);
};

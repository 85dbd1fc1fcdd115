#pragma once

#include "base/CDocument.h"
#include "meter/KelvaneFields.h"
#include "meter/MeterContext.h"
#include "meter/MeterSeries.h"

#include <QString>

#include <memory>

class IFieldAccess;
class MeterDocSeries;
class MeterVars;

// The document behind one Kelvane (".mtr") or Quixal (".qxm") meter form: owns the variable
// table of one meter, loads it from and stores it to a meter file, rebuilds it for another
// firmware version, converts its data between layouts and moves values between the table and
// the form. What differs by series comes from the MeterDocSeries it is made with. The document
// manager creates it for both meter types; the forms and the command lists reach the table
// through it.
class CMeterDoc : public CDocument
{
    Q_OBJECT
public:
    // A Kelvane document, its working version empty or `version` (the one in force when it is
    // made).
    explicit CMeterDoc(QObject *parent = nullptr);
    explicit CMeterDoc(const QString &version, QObject *parent = nullptr);
    CMeterDoc(const MeterDocSeries &series, const QString &version, QObject *parent = nullptr);
    ~CMeterDoc() override;

    const MeterDocSeries &Series() const { return *m_series; }
    bool OnOpenDocument(const QString &path) override;
    // What opening does with the file's meter line; fileName names the file in the messages.
    // False when the file is refused (its image is not whole for the layout its key fits).
    bool OpenMeterLine(const QString &line, const QString &fileName);
    // Replaces the file atomically: a failed save leaves the old file as it was, tells the user
    // why and keeps the reason in SaveError.
    bool OnSaveDocument(const QString &path) override;
    bool StoresContent() const override { return true; }
    QString SaveError() const { return m_saveError; }

    // Builds an empty table for "[version]" (the working version takes that text first, so the
    // firmware-version rules choose the section); a version the series takes no table for (the
    // Quixal series: an empty one) changes nothing.
    void SetVersion(const QString &version);
    // Moves the data into the layout of `section`, variable by variable. 0 and nothing changes
    // when that layout has no variables.
    int ConvertTo(const QString &section);
    // The same into a table already built: 0, and nothing changes, when it has no variables.
    int ConvertInto(std::unique_ptr<MeterVars> fresh);
    // File > Convert... after the user agreed, to a firmware version as the settings name it
    // (">= 4.1A", "4.0x", "3.9G"), by the series' rule.
    int ConvertToVersion(const QString &target);
    // Under the rules of this document's context (its meter's version and revision). Showing and
    // collecting leave the context's units at the table's "flow_func"; a units change converts
    // from the context's units.
    void VarsToForm(IFieldAccess &form);
    void FormToVars(IFieldAccess &form);
    void UnitsChanged(IFieldAccess &form, int newUnits);
    // The same under given rules (a form shows and collects under the rules it showed with).
    void VarsToForm(IFieldAccess &form, const KelvaneFields::Rules &rules);
    void FormToVars(IFieldAccess &form, const KelvaneFields::Rules &rules);
    void UnitsChanged(IFieldAccess &form, int newUnits, const KelvaneFields::Rules &rules);
    // The rules this document's values are shown under now: the family of its own layout, and
    // the firmware version and revision of the meter identified in the terminal, or, while none
    // is, of the meter this document was read from (empty for a file).
    KelvaneFields::Rules RulesInForce() const;
    // The meter a read list filled this document from (its version and revision answers).
    void SetMeterIdentity(const QString &version, const QString &revision);
    void SetMeterVersion(const QString &version) { m_context.meterVersion = version; }
    void SetMeterRevision(const QString &revision) { m_context.revision = revision; }
    QString MeterVersion() const { return m_context.meterVersion; }
    QString MeterRevision() const { return m_context.revision; }
    // What this document works with: its working version, its meter, units and curve fit.
    MeterContext &Context() { return m_context; }
    const MeterContext &Context() const { return m_context; }
    // The kind of window last created when the document manager made this document (1 meter
    // form, 2 terminal, 5 Quixal form): opened right after a Quixal form, a file keeps the
    // version in force for a Quixal meter.
    void SetWindowKind(int kind) { m_windowKind = kind; }
    int WindowKind() const { return m_windowKind; }

    QString ImageToText() const;
    QString ImageToSendText() const;
    void ImageFromText(const QString &text);
    // Finds the layout of an image text among the sections of "vars20.dat" and makes its table
    // the document's. The header found, or empty (the table is then left as it was).
    QString DetectSection(const QString &text);

    MeterVars *Vars() const { return m_vars.get(); }
    // Replaces the table (the Quixal operations build their own tables).
    void SetVars(std::unique_ptr<MeterVars> vars);
    // The firmware version of the layout in force: the four characters after "[" of its section.
    QString LayoutVersion() const;
    // "About to convert meter data from %s to %s  !"
    QString ConvertPrompt(const QString &target) const;
    // Save from the form: when `path` holds the title the form remembered at opening, the file
    // name takes the current title instead (a meter read retitles the document), with ".mtr"
    // added when missing. Otherwise, or with no remembered title, the path as it is.
    static QString RebuildSavePath(
        const QString &path, const QString &remembered, const QString &current);
    // Whether the file last opened did not read 0xAA at the "key" of the layout it was read in,
    // or is otherwise not to be saved over (Save refuses it).
    bool LayoutMismatch() const { return m_layoutMismatch; }
    void SetLayoutMismatch(bool mismatch) { m_layoutMismatch = mismatch; }

    // The first line of a meter file's bytes without its line end, at most a sane length: what
    // opening the file reads from it.
    static QString MeterLine(const QByteArray &bytes);

    // Whether an image text (a meter file's first line) holds exactly the bytes of a layout of
    // `byteCount` bytes: empty when it does, else the reason, in the "N of M bytes" words of an
    // incomplete read ("extra" bytes beyond the layout are refused as well). Trailing blanks are
    // no bytes. Every opening of a meter file goes through it.
    static QString ImageFault(const QString &text, int byteCount, const QString &section);
    // Why the last OnOpenDocument refused the file, one or two sentences without the file's
    // name (empty when it opened or could not be read at all).
    QString OpenError() const { return m_openError; }
    bool SaidWhyOpenFailed() const override { return !m_openError.isEmpty(); }

    // A file whose layout (found in "vars20.dat") is of the other series than `formSeries`: tells
    // the user which form it needs; true when it was.
    static bool WarnOtherSeries(
        const QString &fileName, const QString &section, MeterSeries::Series formSeries);
    // Refuses a file whose image is not whole for the table now in force (the layout its key
    // byte was found in): tells the user, keeps the reason in OpenError and returns false.
    bool CheckWholeImage(const QString &fileName, const QString &line);

private:
    // The first line of a meter file without its line end, at most a sane length; false when
    // the file cannot be read.
    static bool ReadMeterLine(const QString &path, QString *line);
    // The rules of the working version and this document's meter.
    KelvaneFields::Rules ContextRules() const;

    const MeterDocSeries *m_series;
    std::unique_ptr<MeterVars> m_vars;
    QString m_saveError;
    QString m_openError;
    bool m_layoutMismatch = false;
    MeterContext m_context;
    int m_windowKind = 1;
};

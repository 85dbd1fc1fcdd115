#pragma once

#include "base/IShownFields.h"
#include "lists/IFieldAccess.h"
#include "meter/FieldCaptions.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFields.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class QDateTime;

// The Kelvane form's values as its controls hold them, with the rules of SetField and GetField
// by field id: the units and alarm lists (their lines and a selection, a units text matched by
// the beginning of a line, an alarm code by the end of one), the curve-fit choice, the two
// sliders that give back the value they were given until moved, the boxes, the three
// coefficient lists with their walk, the image text, the Desired range and the plain edits
// (the spin fields are their edits), each field kept as its rule's kind says (KelvaneFieldRules).
// The command-line program and the tests run the form's command lists and variable transfers
// through it without any window; ZarnFormView takes its list rules from it. The datasheet reads
// it as it reads the form's controls (IShownFields).
class KelvaneFormFields : public IFieldAccess, public IShownFields
{
public:
    // One field the form shows: its caption on the form and its field id.
    using Caption = FieldCaptions::Caption;
    // Every field the form shows a value in, in the form's reading order.
    static const std::vector<Caption> &Captions();
    // The id of the field whose caption is text (case-insensitive) or whose id text is; 0 when
    // none.
    static int IdOf(const QString &text);
    static QString CaptionOf(int id);
    static const FieldCaptions &Table();

    // Last n characters of a list line (the code part of the units and alarm lines).
    static QString Tail(const QString &line, int n);
    // The line of an alarm list whose last three characters are code; -1 for none or "".
    static int AlarmLine(const QStringList &lines, const QString &code);
    // The first units line that begins with text; -1 when none.
    static int UnitsLine(const QStringList &lines, const QString &text);

    KelvaneFormFields();

    // Fills the units list from unitsFile and the alarm lists from "alarms20.dat" in the
    // current directory, first line selected; a missing file leaves a list empty.
    void LoadUnits(const QString &unitsFile);
    void LoadAlarms();
    QString UnitsFile() const { return m_unitsFile; }

    void SetField(int id, const QString &text) override;
    QString GetField(int id) override;

    // While set, the Active range reads empty: a file keeps the range bits its image holds;
    // only a send takes the meter's active range.
    void SetCollectingForFile(bool forFile) { m_collectingForFile = forFile; }
    // The Active range the clock shows (the meter's, as identified).
    void SetActive(const QString &range) { m_text[FieldId::ActiveRange] = range; }
    // A firmware version (MeterVersion) or revision (Revision) answer arrived.
    void SetVersionHandler(std::function<void(const QString &)> handler)
    {
        m_onVersion = std::move(handler);
    }
    void SetRevisionHandler(std::function<void(const QString &)> handler)
    {
        m_onRevision = std::move(handler);
    }

    // The lists as the form shows them.
    const QStringList &UnitsLines() const { return m_unitsLines; }
    const QStringList &AlarmLines() const { return m_alarmLines; }
    int UnitsSelected() const { return m_units; }
    // A field's text as the form shows it: a list's whole selected line, a label as the clock
    // shows it, any other field as GetField gives it (the coefficient lists are ShownItems).
    QString ShownText(int id) override;
    bool ShownTicked(int id) override;
    // The Contrast and Refresh sliders' positions.
    int ShownPosition(int id) override;
    QStringList ShownItems(int id) override { return Coefficients(id); }
    // What the form's clock shows with no meter identified: the date and time of now (month
    // first, 12 hours, as a form opens), the meter version and revision the rules know (else
    // "?"), the "Template" label, and "?" as the Active range.
    void ShowClock(
        const KelvaneFields::Rules &rules, const QString &templateLabel, const QDateTime &now);
    // A units line picked by the user (by its wording): its index, or -1 when none matches.
    int FindUnits(const QString &wording) const;
    void SelectUnits(int index) { m_units = index; }
    // An alarm line by its wording or its code; -1 when none matches.
    int FindAlarm(const QString &wording) const;
    // What a control shows, moved in as it stands (no field rule): the form moves its controls
    // in before GetField and shows these again after SetField.
    void SetShown(int id, const QString &text) { m_text[id] = text; }
    QString Text(int id) const { return m_text.value(id); }
    void SetBox(int id, bool on) { m_box[id] = on; }
    int AlarmSelected(int row) const { return m_alarm[size_t(row)]; }
    void SelectAlarm(int row, int index) { m_alarm[size_t(row)] = index; }
    int CurveFitSelected() const { return m_curveFit; }
    void SelectCurveFit(int index) { m_curveFit = index; }
    int DesiredSelected() const { return m_desired; }
    void SelectDesired(int index) { m_desired = index; }
    // A slider's position (Contrast, Refresh); once the user has moved it, it gives
    // back its position instead of the value it was given.
    void SetSlider(int id, int position, bool moved);
    void SetCoefficients(int listId, const QStringList &values) { m_lists[listId] = values; }
    void SetImageText(const QString &text) { m_imageText = text; }
    bool CollectingForFile() const { return m_collectingForFile; }
    // Puts text at index of a coefficient list (PrimaryList, SecondaryList, PointWiseList); false
    // past its end.
    bool SetCoefficient(int listId, int index, const QString &text);
    const QStringList &Coefficients(int listId) const;
    QString ImageText() const { return m_imageText; }

private:
    QHash<int, QString> m_text;
    QHash<int, QString> m_labels; // the labels the clock sets (version, revision, template, active)
    QStringList m_unitsLines;
    QString m_unitsFile;
    QStringList m_alarmLines;
    int m_units = -1;
    std::array<int, 4> m_alarm { -1, -1, -1, -1 };
    int m_curveFit = -1;
    int m_desired = -1;
    int m_contrast = 128;
    int m_refresh = 8;
    QString m_contrastGiven;
    QString m_refreshGiven;
    QHash<int, bool> m_box; // the boxes, the LCD blanking flag among them
    QHash<int, QStringList> m_lists;
    int m_walkPos = 0;
    QString m_imageText;
    bool m_collectingForFile = false;
    std::function<void(const QString &)> m_onVersion;
    std::function<void(const QString &)> m_onRevision;
};

#pragma once

#include "meter/FieldIds.h"
#include "meter/UnitConversion.h"

#include <QDate>
#include <QString>
#include <QTime>

// The meter form's rules that need no window: how a text given to a field is trimmed, the
// limits applied when a field is left, the curve-fit choice per firmware version, the template
// label, which fields a firmware version has, the parameter ring and the coefficient-list walk.
// ZarnFormView calls them; tests check them without a form.
class ZarnFormRules
{
public:
    // Coefficient lists of the form.
    enum class CoeffList { Primary = 1, Secondary = 2, PointWise = 3 };

    // The text a field receives: leading white space removed and, except for the image-text
    // field ImageText, cut before the first blank (or other white space), "=" or ">" (so
    // "  12.5 =>..." gives "12.5").
    static QString TrimForField(int id, const QString &text);
    // Leading decimal integer as the C library's atoi reads it (0 when none), kept in int range.
    static int LeadingInt(const QString &text);
    // The units code an Engineering Units line stands for (UnitConversion::UnitsOfCode of the
    // code in its last four characters).
    static int UnitsOfLine(const QString &line)
    {
        return UnitConversion::UnitsOfCode(LeadingInt(line.right(4)));
    }
    // Leading decimal number (integer or fraction) as atof reads it; 0 when none or when no
    // float can hold it (ScanText::Double).
    static double LeadingNumber(const QString &text);

    // The text a field holds after it is left (KelvaneFieldRules): the limits of the alarm
    // values, trip delays, the ADC filter and the DAC time and filter. Other fields keep their
    // text.
    static QString LimitOnLeave(int id, const QString &text);
    // "Zero Offset" is bounded on every change: above 5 it reads "5.00000", below -5 "-5.00000".
    static QString LimitZeroOffset(const QString &text);

    // True when the firmware version in force has the secondary coefficients, point-wise
    // segments, watchdog timer and hold-flow relays (">= 4.1A").
    static bool HasExtendedFields(const QString &docVersion);
    // True for the versions whose curve fit is limited to "None" and "Primary only".
    static bool IsEarlyVersion(const QString &docVersion);
    // The curve-fit choice that stands after the user picks choice: the early versions put any
    // choice beyond the primary coefficients back to 1.
    static int CurveFitAfterPick(int choice, const QString &docVersion);

    // Text of the "Template" label for a table built from section. May set docVersion to
    // ">= 4.1A" (a non-empty version the form does not name). Empty when nothing is to be shown.
    static QString TemplateLabel(const QString &section, QString &docVersion);

    // The version and revision labels show "?" until a meter is identified; a datasheet prints
    // that "?" as nothing.
    static QString IdentityLabel(const QString &known);
    static QString Identified(const QString &label);
    // The Kelvane form's "Template" label: the family its fields follow, else the version label
    // of the version in force, else "?.??".
    static QString TemplateShown(const QString &family, const QString &versionLabel);

    // Parameter ring: codes 5 "Full Scale" ... 10 "Zero Offset"; step +1 (Enter, Down) or -1 (Up).
    static bool IsRingCode(int code) { return code >= 5 && code <= 10; }
    static int NextRingCode(int code, int step);
    // The field of a ring code (the same column on both forms); 0 for other codes.
    static int RingFieldId(int code);

    // The field id of a coefficient list (PrimaryList, SecondaryList, PointWiseList).
    static int ListIdOf(CoeffList list);
    // Label of item index of a coefficient list: "A=" ... for Primary/Secondary, "@5%=" ...
    static QString ItemLabel(CoeffList list, int index);
    // First item the user may edit (the 0 % point-wise value is fixed).
    static int FirstEditable(CoeffList list) { return list == CoeffList::PointWise ? 1 : 0; }
    // Item selected by the Down arrow from index in a list of count items (wraps to the first
    // editable item); -1 for an empty list.
    static int WalkDown(CoeffList list, int index, int count);
    // Item selected by the Up arrow; index itself when it may not move.
    static int WalkUp(CoeffList list, int index);

    // Whether a typed "Calibration Due" is a date: mm/dd/yy or dd.mm.yy.
    static bool IsCalibrationDate(const QString &text);

    // Whether "Change" may run: the active range is 1 to 4 and differs from the
    // desired one, which is 1 to 4 as well.
    static bool CanChangeRange(const QString &activeText, const QString &desiredText);

    // Whether text is an image text of at least byteCount bytes: two hexadecimal digits at
    // every third character (the separators are not examined). A read whose search text was
    // absent extracts whatever stood near it, which must never be decoded as an image.
    static bool IsImageText(const QString &text, int byteCount);
    // How many whole bytes of image text stand at the start of text (at most byteCount): two
    // hexadecimal digits at every third character.
    static int ImageBytes(const QString &text, int byteCount);

    // Clock texts: "%H:%M:%S" or "%I:%M:%S%p"; "%d.%m.%y" or "%m/%d/%y".
    static QString TimeText(const QTime &time, bool hours24);
    static QString DateText(const QDate &date, bool dayFirst);

    // Field ids the form answers; others give an empty text and take nothing.
    static constexpr int kFirstId = FieldId::Units;
    static constexpr int kLastId = FieldId::DesiredRange;
    static bool IsFormId(int id) { return id >= kFirstId && id <= kLastId; }
};

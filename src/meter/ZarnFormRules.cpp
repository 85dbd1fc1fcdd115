#include "meter/ZarnFormRules.h"

#include "base/PrintfText.h"
#include "base/ScanText.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFieldRules.h"
#include "meter/KelvaneFields.h"

#include <climits>
#include <cmath>

namespace {
bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r')
        || c == QLatin1Char('\n') || c == QLatin1Char('\v') || c == QLatin1Char('\f');
}

// Index of the first non-blank character, then an optional sign; returns the sign.
int SkipBlanksAndSign(const QString &text, int &pos)
{
    pos = 0;
    while (pos < text.size() && IsBlank(text.at(pos)))
        ++pos;
    int sign = 1;
    if (pos < text.size()
        && (text.at(pos) == QLatin1Char('+') || text.at(pos) == QLatin1Char('-'))) {
        if (text.at(pos) == QLatin1Char('-'))
            sign = -1;
        ++pos;
    }
    return sign;
}

bool IsDigit(const QString &text, int pos)
{
    return pos < text.size() && text.at(pos) >= QLatin1Char('0')
        && text.at(pos) <= QLatin1Char('9');
}
} // namespace

QString ZarnFormRules::TrimForField(int id, const QString &text)
{
    int start = 0;
    while (start < text.size() && IsBlank(text.at(start)))
        ++start;
    QString result = text.mid(start);
    if (id == FieldId::ImageText)
        return result;
    for (int i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        // Line ends and tabs end the field as a blank does: a one-line field never holds them.
        if (IsBlank(c) || c == QLatin1Char('=') || c == QLatin1Char('>'))
            return result.left(i);
    }
    return result;
}

int ZarnFormRules::LeadingInt(const QString &text)
{
    int pos = 0;
    const int sign = SkipBlanksAndSign(text, pos);
    long long value = 0;
    while (IsDigit(text, pos)) {
        value = value * 10 + (text.at(pos).unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
        ++pos;
    }
    value *= sign;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

double ZarnFormRules::LeadingNumber(const QString &text)
{
    return ScanText::Double(text).value_or(0.0);
}

QString ZarnFormRules::LimitOnLeave(int id, const QString &text)
{
    return KelvaneFieldRules::Table().Leave(id, text);
}

QString ZarnFormRules::LimitZeroOffset(const QString &text)
{
    return KelvaneFieldRules::Table().Changed(FieldId::ZeroOffset, text);
}

bool ZarnFormRules::HasExtendedFields(const QString &docVersion)
{
    return docVersion == QLatin1String(">= 4.1A");
}

bool ZarnFormRules::IsEarlyVersion(const QString &docVersion)
{
    return docVersion == QLatin1String("3.9G") || docVersion == QLatin1String("4.0x");
}

int ZarnFormRules::CurveFitAfterPick(int choice, const QString &docVersion)
{
    if (choice <= 1)
        return qMax(0, choice);
    if (IsEarlyVersion(docVersion))
        return 1;
    return qMin(choice, 3);
}

QString ZarnFormRules::TemplateLabel(const QString &section, QString &docVersion)
{
    if (section == QLatin1String("[3.9G]"))
        return QStringLiteral("3.9G");
    if (section == QLatin1String("[4.0A]"))
        return QStringLiteral("4.0x");
    if (IsEarlyVersion(docVersion) || docVersion == QLatin1String("?.??"))
        return docVersion;
    if (docVersion.isEmpty())
        return QString();
    docVersion = QStringLiteral(">= 4.1A");
    return docVersion;
}

QString ZarnFormRules::IdentityLabel(const QString &known)
{
    return known.isEmpty() ? QStringLiteral("?") : known;
}

QString ZarnFormRules::Identified(const QString &label)
{
    return label == QLatin1String("?") ? QString() : label;
}

QString ZarnFormRules::TemplateShown(const QString &family, const QString &versionLabel)
{
    return !family.isEmpty()      ? family
        : !versionLabel.isEmpty() ? versionLabel
                                  : QStringLiteral("?.??");
}

int ZarnFormRules::NextRingCode(int code, int step)
{
    if (!IsRingCode(code))
        return code;
    const int next = (code - 5 + (step >= 0 ? 1 : -1) + 6) % 6;
    return next + 5;
}

QString ZarnFormRules::ItemLabel(CoeffList list, int index)
{
    if (list == CoeffList::PointWise)
        return QStringLiteral("@%1%=").arg(index * 5);
    return QStringLiteral("%1=").arg(QChar(QLatin1Char('A').unicode() + index));
}

int ZarnFormRules::WalkDown(CoeffList list, int index, int count)
{
    const int first = FirstEditable(list);
    if (count <= first)
        return -1;
    if (index < first || index + 1 >= count)
        return first;
    return index + 1;
}

int ZarnFormRules::WalkUp(CoeffList list, int index)
{
    const int first = FirstEditable(list);
    if (index <= first)
        return index;
    return index - 1;
}

bool ZarnFormRules::CanChangeRange(const QString &activeText, const QString &desiredText)
{
    const int active = LeadingInt(activeText);
    if (active < 1 || active > 4)
        return false;
    // A range change to no range at all would leave the meter on a range nobody chose.
    const int desired = LeadingInt(desiredText);
    return desired >= 1 && desired <= 4 && active != desired;
}

int ZarnFormRules::ImageBytes(const QString &text, int byteCount)
{
    const auto isHex = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    };
    int k = 0;
    while (k < byteCount && 3 * k + 1 < text.size() && isHex(text.at(3 * k))
        && isHex(text.at(3 * k + 1)))
        ++k;
    return k;
}

bool ZarnFormRules::IsImageText(const QString &text, int byteCount)
{
    return byteCount > 0 && ImageBytes(text, byteCount) == byteCount;
}

QString ZarnFormRules::TimeText(const QTime &time, bool hours24)
{
    if (hours24)
        return PrintfText::Format("%02d:%02d:%02d", time.hour(), time.minute(), time.second());
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return PrintfText::Format(
        "%02d:%02d:%02d%s", hour12, time.minute(), time.second(), time.hour() < 12 ? "AM" : "PM");
}

QString ZarnFormRules::DateText(const QDate &date, bool dayFirst)
{
    const int year = date.year() % 100;
    if (dayFirst)
        return PrintfText::Format("%02d.%02d.%02d", date.day(), date.month(), year);
    return PrintfText::Format("%02d/%02d/%02d", date.month(), date.day(), year);
}

int ZarnFormRules::RingFieldId(int code)
{
    static constexpr int ids[] = { FieldId::FullScale, FieldId::CFactor, FieldId::XSect,
        FieldId::MaxRange, FieldId::ZeroCutoff, FieldId::ZeroOffset };
    return IsRingCode(code) ? ids[code - 5] : 0;
}

int ZarnFormRules::ListIdOf(CoeffList list)
{
    return list == CoeffList::Primary  ? FieldId::PrimaryList
        : list == CoeffList::Secondary ? FieldId::SecondaryList
                                       : FieldId::PointWiseList;
}

bool ZarnFormRules::IsCalibrationDate(const QString &text)
{
    int month = 0, day = 0, year = 0;
    return KelvaneFields::ParseDate(text, &month, &day, &year) && month >= 0 && month <= 12
        && day >= 0 && day <= 31 && year >= 0 && year <= 99;
}

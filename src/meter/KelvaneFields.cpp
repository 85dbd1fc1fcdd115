#include "meter/KelvaneFields.h"

#include "base/ScanText.h"
#include "lists/IFieldAccess.h"
#include "meter/ChoiceList.h"
#include "meter/FieldIds.h"
#include "meter/FieldTransfer.h"
#include "meter/MeterVars.h"

namespace {

using namespace FieldId;

using FT = FieldTransfer;
constexpr auto Name = &FT::Name;
constexpr auto Bool = &FT::Bool;
constexpr auto IsTrue = &FT::IsTrue;
constexpr auto CollectInt = &FT::CollectInt;
constexpr auto CollectPlainFloat = &FT::CollectPlainFloat;
constexpr auto ShowFloat = &FT::ShowFloat;
constexpr auto ShowList = &FT::ShowList;
constexpr auto CollectList = &FT::CollectList;
constexpr auto ShowConverted = &FT::ShowConverted;
constexpr auto CollectConverted = &FT::CollectConverted;

const char *const kCurveFit[] = { "None - All Equations are Bypassed", "Primary Coefficients Only",
    "Primary and Secondary Coefficients", "Primary Coefficients and Point-Wise Segments" };

bool IsCurrent(const KelvaneFields::Rules &rules)
{
    return rules.family == QLatin1String(">= 4.1A");
}

bool IsOlder(const KelvaneFields::Rules &rules)
{
    return rules.family == QLatin1String("3.9G") || rules.family == QLatin1String("4.0x");
}

// Range 1..4 from a range byte's two bits, "N" for an unset byte (0xFF).
QString RangeText(quint32 byte, int shift)
{
    return byte == 0xFF ? QStringLiteral("N") : QString::number(((byte >> shift) & 3) + 1);
}

} // namespace

QString KelvaneFields::FamilyOfSection(const QString &section)
{
    if (section == QLatin1String("[3.9G]"))
        return QStringLiteral("3.9G");
    if (section == QLatin1String("[4.0A]"))
        return QStringLiteral("4.0x");
    if (section == QLatin1String("[4.1A]"))
        return QStringLiteral(">= 4.1A");
    if (section.startsWith(QLatin1Char('[')) && section.endsWith(QLatin1Char(']')))
        return section.mid(1, section.size() - 2);
    return section;
}

UnitConversion::Context KelvaneFields::Context(int units, const Rules &rules)
{
    return { units, rules.family, rules.revision, rules.meterVersion };
}

QString KelvaneFields::UnitsFile(const QString &family)
{
    return family == QLatin1String("3.9G") ? QStringLiteral("units15.dat")
                                           : QStringLiteral("units20.dat");
}

bool KelvaneFields::ParseDate(const QString &text, int *month, int *day, int *year)
{
    const QString t = text.trimmed();
    if (ScanText::Date(t, month, day, year))
        return true;
    // Day first with dots, as the form's clock writes dates when its day-first flag is set.
    if (t.contains(QLatin1Char('/')) || t.count(QLatin1Char('.')) != 2)
        return false;
    QString slashed = t;
    slashed.replace(QLatin1Char('.'), QLatin1Char('/'));
    return ScanText::Date(slashed, day, month, year);
}

QString KelvaneFields::CurveFitText(int index)
{
    return index >= 0 && index < 4 ? QLatin1String(kCurveFit[index]) : QString();
}

int KelvaneFields::CurveFitIndex(const QString &text)
{
    for (int i = 1; i < 4; ++i)
        if (text == QLatin1String(kCurveFit[i]))
            return i;
    return 0;
}

void KelvaneFields::VarsToForm(MeterVars &vars, IFieldAccess &form, const Rules &rules)
{
    const bool current = IsCurrent(rules);
    const bool older = IsOlder(rules);

    form.SetField(LcdBlank, Bool(vars.Value(QStringLiteral("lcd_blind"), 1) != 0));

    const int units = int(vars.Value(QStringLiteral("flow_func"), 1));
    const QStringList unitLines = ChoiceList::Read(UnitsFile(rules.family));
    const QString unitCode = QString::number(units + 101);
    const int unitLine = ChoiceList::FindEndingIn(unitLines, unitCode);
    // No line for the code: a text no line begins with leaves the list without a selection.
    form.SetField(Units, unitLine >= 0 ? unitLines.at(unitLine).left(4) : unitCode);

    if (current) {
        const quint32 mode = vars.Value(QStringLiteral("mode"), 1);
        form.SetField(DesiredRange, RangeText(mode, 0));
        form.SetField(Tracking, Bool(mode & 0x80));
        form.SetField(Protocol, Bool(mode & 0x40));
    } else if (older) {
        const quint32 meterNum = vars.Value(QStringLiteral("meter_num"), 1);
        form.SetField(DesiredRange, RangeText(meterNum, 3));
        form.SetField(Tracking, Bool(meterNum & 0x80));
    }

    form.SetField(DacTimeSpin, QString::number(vars.Value(QStringLiteral("updating_max"), 1)));
    form.SetField(Refresh, QString::number(vars.Value(QStringLiteral("reporting_max"), 1)));
    form.SetField(AdcFilterSpin, QString::number(vars.Value(QStringLiteral("adc_val"), 1)));
    const quint32 dac = vars.Value(QStringLiteral("dac_val"), 1);
    // Before 4.1A bit 7 is the curve-fit choice, not part of the filter.
    form.SetField(DacFilterSpin, QString::number(current ? dac : dac & 0x7F));
    if (!current) // before 4.1A the curve-fit choice lives in bit 7 of "dac_val"
        form.SetField(CurveFit, (dac & 0x80) ? QStringLiteral("0") : QStringLiteral("1"));

    for (int i = 0; i < 4; ++i) {
        form.SetField(
            AlarmFunction0 + i, QString::number(vars.Value(Name("event[%d]", i), 1) + 402));
        const QString value = Name("evalue[%d]", i);
        form.SetField(AlarmValue0 + i,
            current ? QString::number(qint32(vars.Value(value, 4)))
                    : QString::number(vars.Value(value, 2)));
        form.SetField(AlarmDelay0 + i, QString::number(vars.Value(Name("edelay[%d]", i), 1)));
    }

    ShowConverted(vars, form, Context(units, rules));

    ShowFloat(vars, QStringLiteral("coeff[10]"), form, CFactor, "%1.6f");
    ShowFloat(vars, QStringLiteral("coeff[11]"), form, ZeroOffset, "%1.6f");
    ShowFloat(vars, QStringLiteral("cutoff"), form, ZeroCutoff, "%1.2f");
    form.SetField(Password, QString::number(vars.Value(QStringLiteral("lockout"), 2)));
    if (vars.Value(QStringLiteral("pad_1"), 2) > 127)
        vars.SetValue(QStringLiteral("pad_1"), 2, 0);
    form.SetField(ModbusAddr, QString::number(vars.Value(QStringLiteral("pad_1"), 2)));
    FT::ShowDate(vars, QStringLiteral("cal_date"), form, CalibrationDue);
    form.SetField(
        SerialNumber, QString::number(qint32(vars.Value(QStringLiteral("serial_num"), 4))));

    if (current) {
        form.SetField(UpPcba, QString::number(qint8(vars.Value(QStringLiteral("uP_assy_rev"), 1))));
        form.SetField(Watchdog, QString::number(qint8(vars.Value(QStringLiteral("wdt"), 1))));
        const quint32 fit = vars.Value(QStringLiteral("curve_fit"), 1);
        form.SetField(CurveFit, QString::number(fit & 0x3F));
        form.SetField(HoldFlow1, Bool(fit & 0x40));
        form.SetField(HoldFlow2, Bool(fit & 0x80));
        ShowFloat(vars, QStringLiteral("adc_gain"), form, AdcGain, "%1.6f");
        ShowFloat(vars, QStringLiteral("adc_offset"), form, AdcOffset, "%1.6f");
    } else {
        form.SetField(UpPcba, QStringLiteral("1"));
        form.SetField(Watchdog, QStringLiteral("1"));
        form.SetField(HoldFlow1, Bool(false));
        form.SetField(HoldFlow2, Bool(false));
        form.SetField(AdcGain, QString());
        form.SetField(AdcOffset, QString());
    }

    ShowList(vars, "coeff[%d]", 10, form, PrimaryReset, PrimaryList);
    if (current) {
        ShowList(vars, "coeff1[%d]", 10, form, SecondaryReset, SecondaryList);
        ShowList(vars, "segment[%d]", 21, form, PointWiseReset, PointWiseList);
    } else {
        form.SetField(SecondaryReset, QString());
        form.SetField(PointWiseReset, QString());
    }
}

void KelvaneFields::FormToVars(MeterVars &vars, IFieldAccess &form, const Rules &rules)
{
    const bool current = IsCurrent(rules);
    const bool older = IsOlder(rules);

    vars.SetValue(QStringLiteral("lcd_blind"), 1, IsTrue(form, LcdBlank) ? 1 : 0);

    // The units code first: the conversions below use it.
    if (const auto n = ScanText::Int(form.GetField(Units).right(4)))
        vars.SetValue(QStringLiteral("flow_func"), 1, quint32(UnitConversion::UnitsOfCode(*n)));
    const int units = int(vars.Value(QStringLiteral("flow_func"), 1));

    // The range bytes take the active range; with none known their range bits stay as they are.
    const auto range = ScanText::Int(form.GetField(ActiveRange));
    if (current) {
        const QString name = QStringLiteral("mode");
        quint32 mode = vars.Value(name, 1) & 0x3F;
        if (range) {
            const quint32 r = quint32(*range - 1) & 3;
            mode = r | (r << 2);
        }
        mode |= 0x20;
        mode |= IsTrue(form, Protocol) ? 0x40 : 0;
        mode |= IsTrue(form, Tracking) ? 0x80 : 0;
        vars.SetValue(name, 1, mode);
    } else if (older) {
        const QString name = QStringLiteral("meter_num");
        quint32 num = vars.Value(name, 1) & 0x7F;
        if (range)
            num = 40 * (quint32(*range - 1) & 3) + 5;
        num |= IsTrue(form, Tracking) ? 0x80 : 0;
        vars.SetValue(name, 1, num);
    }

    CollectInt(vars, QStringLiteral("updating_max"), 1, form, DacTimeEdit);
    CollectInt(vars, QStringLiteral("reporting_max"), 1, form, Refresh);
    CollectInt(vars, QStringLiteral("adc_val"), 1, form, AdcFilterEdit);
    if (current) {
        CollectInt(vars, QStringLiteral("dac_val"), 1, form, DacFilterEdit);
    } else {
        const QString name = QStringLiteral("dac_val");
        const auto n = ScanText::Int(form.GetField(DacFilterEdit));
        quint32 dac = (n ? quint32(*n) : vars.Value(name, 1)) & 0x7F;
        if (form.GetField(CurveFit) != CurveFitText(1))
            dac |= 0x80;
        vars.SetValue(name, 1, dac);
    }

    for (int i = 0; i < 4; ++i) {
        if (const auto n = ScanText::Int(form.GetField(AlarmFunction0 + i).right(4)))
            vars.SetValue(Name("event[%d]", i), 1, quint32(*n - 402));
        // Before 4.1A the value has two bytes: its low 16 bits are kept.
        CollectInt(vars, Name("evalue[%d]", i), current ? 4 : 2, form, AlarmValue0 + i);
        CollectInt(vars, Name("edelay[%d]", i), 1, form, AlarmDelay0 + i);
    }

    CollectConverted(vars, form, Context(units, rules));

    CollectPlainFloat(vars, QStringLiteral("coeff[10]"), form, CFactor, "%1.6f");
    CollectPlainFloat(vars, QStringLiteral("coeff[11]"), form, ZeroOffset, "%1.6f");
    CollectPlainFloat(vars, QStringLiteral("cutoff"), form, ZeroCutoff, "%1.2f");
    CollectInt(vars, QStringLiteral("lockout"), 2, form, Password);
    CollectInt(vars, QStringLiteral("pad_1"), 2, form, ModbusAddr);
    int a = 0, b = 0, c = 0;
    const QString dateText = form.GetField(CalibrationDue).trimmed();
    // The text it was shown as keeps the stored value, low byte included.
    if (dateText != FT::DateText(vars.Value(QStringLiteral("cal_date"), 4))
        && ParseDate(dateText, &a, &b, &c)) {
        // Each part keeps to its own byte, so a wrong entry cannot spill into its neighbour.
        const quint32 date
            = (quint32(b & 0xFF) << 24) | (quint32(a & 0xFF) << 16) | (quint32(c & 0xFF) << 8);
        vars.SetValue(QStringLiteral("cal_date"), 4, date);
    }
    CollectInt(vars, QStringLiteral("serial_num"), 4, form, SerialNumber);

    if (current) {
        CollectInt(vars, QStringLiteral("uP_assy_rev"), 1, form, UpPcba);
        CollectInt(vars, QStringLiteral("wdt"), 1, form, Watchdog);
        quint32 fit = quint32(CurveFitIndex(form.GetField(CurveFit)));
        fit |= IsTrue(form, HoldFlow1) ? 0x40 : 0;
        fit |= IsTrue(form, HoldFlow2) ? 0x80 : 0;
        vars.SetValue(QStringLiteral("curve_fit"), 1, fit);
        CollectPlainFloat(vars, QStringLiteral("adc_gain"), form, AdcGain, "%1.6f");
        CollectPlainFloat(vars, QStringLiteral("adc_offset"), form, AdcOffset, "%1.6f");
    }

    CollectList(vars, "coeff[%d]", 10, form, PrimaryReset, PrimaryList);
    if (current) {
        CollectList(vars, "coeff1[%d]", 10, form, SecondaryReset, SecondaryList);
        CollectList(vars, "segment[%d]", 21, form, PointWiseReset, PointWiseList);
    }

    vars.SetValue(QStringLiteral("flow_prec"), 1, 2);
    vars.SetValue(QStringLiteral("key"), 1, 0xAA);
}

void KelvaneFields::UnitsChanged(
    MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits, const Rules &rules)
{
    FT::UnitsChanged(vars, form, Context(oldUnits, rules), Context(newUnits, rules));
}

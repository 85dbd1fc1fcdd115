#include "meterqx/QXFields.h"

#include "base/ScanText.h"
#include "lists/IFieldAccess.h"
#include "meter/ChoiceList.h"
#include "meter/FieldTransfer.h"
#include "meter/MeterVars.h"
#include "meter/UnitConversion.h"
#include "meterqx/QXFieldIds.h"

namespace {

using namespace QXFieldId;
using FT = FieldTransfer;

// The list line whose last character is the one-digit code, by its first nine characters
// (what SetField matches on); empty (no selection) when no line carries the code.
QString LineByDigit(const QString &file, quint32 code)
{
    if (code > 9)
        return QString();
    const QStringList lines = ChoiceList::Read(file);
    const int line = ChoiceList::FindEndingIn(lines, QString::number(code));
    return line < 0 ? QString() : lines.at(line).left(9);
}

// A flag byte: 1 when its box is ticked, else 0.
void CollectFlag(MeterVars &vars, const char *name, IFieldAccess &form, int id)
{
    vars.SetValue(QLatin1String(name), 1, FT::IsTrue(form, id) ? 1 : 0);
}

void ShowFlag(MeterVars &vars, const char *name, IFieldAccess &form, int id)
{
    form.SetField(id, FT::Bool(vars.Value(QLatin1String(name), 1) != 0));
}

void ShowUnsigned(MeterVars &vars, const char *name, int width, IFieldAccess &form, int id)
{
    form.SetField(id, QString::number(vars.Value(QLatin1String(name), width)));
}

void ShowSigned(MeterVars &vars, const char *name, int width, IFieldAccess &form, int id)
{
    const quint32 v = vars.Value(QLatin1String(name), width);
    const qint64 n = width == 1 ? qint64(qint8(v))
        : width == 2            ? qint64(qint16(v))
                                : qint64(qint32(v));
    form.SetField(id, QString::number(n));
}

void Collect(MeterVars &vars, const char *name, int width, IFieldAccess &form, int id)
{
    FT::CollectInt(vars, QLatin1String(name), width, form, id);
}

QString RelayName(const char *pattern, int i)
{
    return FT::Name(pattern, i);
}

} // namespace

UnitConversion::Context QXFields::Context(int units)
{
    return { units, QStringLiteral(">= 4.1A"), QString(), QString() };
}

int QXFields::WidthShown(int steps)
{
    return qBound(50, steps * 50, 950);
}

int QXFields::WidthStored(int microseconds)
{
    return qBound(1, microseconds / 50, 19);
}

void QXFields::VarsToForm(MeterVars &vars, IFieldAccess &form)
{
    ShowFlag(vars, "lcd_blind", form, NoDisplay);
    ShowFlag(vars, "hart", form, Protocol);
    ShowFlag(vars, "voltage", form, VOut);

    const int units = int(vars.Value(QStringLiteral("flow_func"), 1));
    const QStringList unitLines = ChoiceList::Read(QString::fromLatin1(kUnitsFile));
    const int unitLine = ChoiceList::FindEndingIn(unitLines, QString::number(units + 101));
    // A code no line carries selects nothing (an empty text), rather than another line's units.
    form.SetField(Units, unitLine < 0 ? QString() : unitLines.at(unitLine).left(4));

    form.SetField(Output,
        LineByDigit(QString::fromLatin1(kOutputFile), vars.Value(QStringLiteral("tempflow"), 1)));
    form.SetField(Polarity,
        LineByDigit(QString::fromLatin1(kPolarityFile), vars.Value(QStringLiteral("polarity"), 1)));
    form.SetField(HoldFlow, FT::Bool(vars.Value(QStringLiteral("hold2"), 1) & 0x80));

    FT::ShowConverted(vars, form, Context(units));
    FT::ShowFloat(vars, QStringLiteral("coeff[10]"), form, CFactor, "%1.6f");
    FT::ShowFloat(vars, QStringLiteral("coeff[11]"), form, ZeroOffset, "%1.6f");
    FT::ShowFloat(vars, QStringLiteral("cutoff"), form, ZeroCutoff, "%1.2f");
    ShowSigned(vars, "lockout", 2, form, Password);
    ShowSigned(vars, "pad", 2, form, ModbusAddr);
    FT::ShowDate(vars, QStringLiteral("cal_date"), form, CalibrationDue);
    ShowSigned(vars, "serial_num", 4, form, SerialNumber);
    ShowSigned(vars, "uP_assy_rev", 1, form, UpPcba);
    ShowSigned(vars, "wdt", 1, form, Watchdog);
    form.SetField(
        PulseWidth, QString::number(WidthShown(qint8(vars.Value(QStringLiteral("width"), 1)))));

    FT::ShowList(vars, "coeff[%d]", 10, form, PrimaryReset, PrimaryList);

    ShowUnsigned(vars, "adc_val", 1, form, AdcFilter);
    ShowUnsigned(vars, "dac_val", 1, form, DacFilter);
    ShowUnsigned(vars, "reporting_max", 1, form, DisplayRefresh);
    ShowUnsigned(vars, "updating_max", 1, form, DacRefresh);
    for (int i = 2; i <= 3; ++i) {
        const int row = i - 2;
        form.SetField(RelayOffFunction + row,
            QString::number(vars.Value(RelayName("event[%d]", i), 1) + 402));
        form.SetField(RelayOffValue + row,
            QString::number(qint32(vars.Value(RelayName("evalue[%d]", i), 4))));
        form.SetField(
            RelayOffDelay + row, QString::number(vars.Value(RelayName("edelay[%d]", i), 1)));
    }
}

void QXFields::FormToVars(MeterVars &vars, IFieldAccess &form)
{
    CollectFlag(vars, "lcd_blind", form, NoDisplay);
    CollectFlag(vars, "hart", form, Protocol);
    CollectFlag(vars, "voltage", form, VOut);
    Collect(vars, "tempflow", 1, form, Output);
    Collect(vars, "polarity", 1, form, Polarity);
    // The units code first: the conversions below use it.
    if (const auto n = ScanText::Int(form.GetField(Units).right(4)))
        vars.SetValue(QStringLiteral("flow_func"), 1, quint32(UnitConversion::UnitsOfCode(*n)));
    const int units = int(vars.Value(QStringLiteral("flow_func"), 1));

    Collect(vars, "dac_val", 1, form, DacFilter);
    Collect(vars, "adc_val", 1, form, AdcFilter);
    Collect(vars, "updating_max", 1, form, DacRefresh);
    Collect(vars, "reporting_max", 1, form, DisplayRefresh);
    Collect(vars, "uP_assy_rev", 1, form, UpPcba);
    Collect(vars, "wdt", 1, form, Watchdog);
    vars.SetValue(QStringLiteral("pad1"), 1, 0);

    const QString widthName = QStringLiteral("width");
    const QString widthText = form.GetField(PulseWidth).trimmed();
    const int steps = qint8(vars.Value(widthName, 1));
    if (widthText != QString::number(WidthShown(steps))) {
        if (const auto us = ScanText::Int(widthText))
            vars.SetValue(widthName, 1,
                quint32(WidthStored(int(qBound(qint64(-1000000), qint64(*us), qint64(1000000))))));
    }

    FT::CollectList(vars, "coeff[%d]", 10, form, PrimaryReset, PrimaryList);
    FT::CollectConverted(vars, form, Context(units));
    FT::CollectPlainFloat(vars, QStringLiteral("coeff[10]"), form, CFactor, "%1.6f");
    FT::CollectPlainFloat(vars, QStringLiteral("coeff[11]"), form, ZeroOffset, "%1.6f");
    FT::CollectPlainFloat(vars, QStringLiteral("cutoff"), form, ZeroCutoff, "%1.2f");
    Collect(vars, "lockout", 2, form, Password);
    for (int i = 2; i <= 3; ++i) {
        const int row = i - 2;
        if (const auto n = ScanText::Int(form.GetField(RelayOffFunction + row).right(4)))
            vars.SetValue(RelayName("event[%d]", i), 1, quint32(*n - 402));
        FT::CollectInt(vars, RelayName("evalue[%d]", i), 4, form, RelayOffValue + row);
        FT::CollectInt(vars, RelayName("edelay[%d]", i), 1, form, RelayOffDelay + row);
    }
    Collect(vars, "pad", 2, form, ModbusAddr);
    Collect(vars, "serial_num", 4, form, SerialNumber);
    FT::CollectDate(vars, QStringLiteral("cal_date"), form, CalibrationDue);
    vars.SetValue(QStringLiteral("flow_prec"), 1, 2);
    vars.SetValue(QStringLiteral("key"), 1, 0xAA);
    // The form owns bit 7 only; the other bits stay as they were read.
    const QString hold = QStringLiteral("hold2");
    vars.SetValue(hold, 1, (vars.Value(hold, 1) & 0x7F) | (FT::IsTrue(form, HoldFlow) ? 0x80 : 0));
}

void QXFields::UnitsChanged(MeterVars &vars, IFieldAccess &form, int oldUnits, int newUnits)
{
    FT::UnitsChanged(vars, form, Context(oldUnits), Context(newUnits));
}

#include "meter/FieldTransfer.h"

#include "base/PrintfText.h"
#include "base/ScanText.h"
#include "lists/IFieldAccess.h"
#include "meter/FieldIds.h"
#include "meter/MeterVars.h"

QString FieldTransfer::Bool(bool on)
{
    return on ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

bool FieldTransfer::IsTrue(IFieldAccess &form, int id)
{
    return form.GetField(id) == QLatin1String("TRUE");
}

QString FieldTransfer::Name(const char *pattern, int i)
{
    return QString::fromLatin1(pattern).replace(QLatin1String("%d"), QString::number(i));
}

void FieldTransfer::CollectInt(
    MeterVars &vars, const QString &name, int width, IFieldAccess &form, int id)
{
    if (const auto n = ScanText::Int(form.GetField(id)))
        vars.SetValue(name, width, quint32(*n));
}

void FieldTransfer::CollectFloat(MeterVars &vars, const QString &name, IFieldAccess &form, int id,
    const std::function<QString(double)> &show,
    const std::function<std::optional<double>(double)> &entry)
{
    const QString text = form.GetField(id).trimmed();
    if (text == show(double(vars.Float(name))))
        return;
    const auto n = ScanText::Double(text);
    if (!n)
        return;
    // A number that converts to a value beyond a float is no value either: the stored one stays.
    if (const std::optional<double> value = entry(*n); value && ScanText::FitsFloat(*value))
        vars.SetFloat(name, float(*value));
}

void FieldTransfer::CollectPlainFloat(
    MeterVars &vars, const QString &name, IFieldAccess &form, int id, const char *format)
{
    CollectFloat(
        vars, name, form, id, [format](double v) { return PrintfText::Format(format, v); },
        [](double n) { return std::optional<double>(n); });
}

void FieldTransfer::ShowFloat(
    MeterVars &vars, const QString &name, IFieldAccess &form, int id, const char *format)
{
    form.SetField(id, PrintfText::Format(format, double(vars.Float(name))));
}

QString FieldTransfer::DateText(quint32 date)
{
    return PrintfText::Format(
        "%02d/%02d/%02d", int((date >> 16) & 0xFF), int(date >> 24), int((date >> 8) & 0xFF));
}

void FieldTransfer::ShowDate(MeterVars &vars, const QString &name, IFieldAccess &form, int id)
{
    form.SetField(id, DateText(vars.Value(name, 4)));
}

void FieldTransfer::CollectDate(MeterVars &vars, const QString &name, IFieldAccess &form, int id)
{
    const QString text = form.GetField(id).trimmed();
    if (text == DateText(vars.Value(name, 4)))
        return; // keeps the low byte, which the text does not show
    int a = 0, b = 0, c = 0;
    if (!ScanText::Date(text, &a, &b, &c))
        return;
    // Each part keeps to its own byte, so a wrong entry cannot spill into its neighbour.
    const quint32 date
        = (quint32(b & 0xFF) << 24) | (quint32(a & 0xFF) << 16) | (quint32(c & 0xFF) << 8);
    vars.SetValue(name, 4, date);
}

void FieldTransfer::ShowList(
    MeterVars &vars, const char *pattern, int count, IFieldAccess &form, int resetId, int listId)
{
    form.SetField(resetId, QString());
    for (int i = 0; i < count; ++i)
        ShowFloat(vars, Name(pattern, i), form, listId, "%.8e");
}

void FieldTransfer::CollectList(
    MeterVars &vars, const char *pattern, int count, IFieldAccess &form, int resetId, int listId)
{
    form.GetField(resetId); // puts the list walk back to its first item
    for (int i = 0; i < count; ++i)
        CollectPlainFloat(vars, Name(pattern, i), form, listId, "%.8e");
}

void FieldTransfer::ShowConverted(
    MeterVars &vars, IFieldAccess &form, const UnitConversion::Context &c)
{
    const double x = vars.Float(QStringLiteral("meter_x"));
    form.SetField(FieldId::XSect, UnitConversion::XSectText(c, x));
    form.SetField(
        FieldId::MaxRange, UnitConversion::RangeText(c, vars.Float(QStringLiteral("meter_k")), x));
    form.SetField(
        FieldId::FullScale, UnitConversion::RangeText(c, vars.Float(QStringLiteral("meter_s")), x));
}

void FieldTransfer::CollectConverted(
    MeterVars &vars, IFieldAccess &form, const UnitConversion::Context &c)
{
    const QString x = QStringLiteral("meter_x");
    CollectFloat(
        vars, x, form, FieldId::XSect, [&c](double v) { return UnitConversion::XSectText(c, v); },
        [&c](double n) { return std::optional<double>(UnitConversion::XSectStored(c, n)); });
    const double stored = vars.Float(x);
    const auto range = [&](const char *name, int id) {
        CollectFloat(
            vars, QLatin1String(name), form, id,
            [&](double v) { return UnitConversion::RangeText(c, v, stored); },
            [&](double n) { return UnitConversion::RangeStored(c, n, stored); });
    };
    range("meter_k", FieldId::MaxRange);
    range("meter_s", FieldId::FullScale);
}

void FieldTransfer::UnitsChanged(MeterVars &vars, IFieldAccess &form,
    const UnitConversion::Context &old, const UnitConversion::Context &fresh)
{
    // Work on a copy: the old units' values are scratch values, not the document's image.
    MeterVars scratch = vars;
    CollectConverted(scratch, form, old);
    const QString units = QStringLiteral("flow_func");
    vars.SetValue(units, 1, quint32(fresh.units));
    scratch.SetValue(units, 1, quint32(fresh.units));
    ShowConverted(scratch, form, fresh);
}

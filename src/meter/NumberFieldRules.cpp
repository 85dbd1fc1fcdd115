#include "meter/NumberFieldRules.h"

#include "base/ScanText.h"

#include <cmath>
#include <limits>

namespace {

using Kind = NumberFieldRules::Kind;
constexpr Kind W = Kind::Whole;
constexpr Kind D = Kind::Decimal;

} // namespace

const std::vector<NumberFieldRules::Field> &NumberFieldRules::Kelvane()
{
    static const std::vector<Field> fields = {
        { 1010, "Value (Relay #1 OFF)", W },
        { 1011, "Value (Relay #1 ON)", W },
        { 1012, "Value (Relay #2 OFF)", W },
        { 1013, "Value (Relay #2 ON)", W },
        { 1014, "Trip Delay (Relay #1 OFF)", W },
        { 1015, "Trip Delay (Relay #1 ON)", W },
        { 1016, "Trip Delay (Relay #2 OFF)", W },
        { 1017, "Trip Delay (Relay #2 ON)", W },
        { 1018, "Full Scale", D },
        { 1021, "DAC Filter", W },
        { 1023, "DAC Time", W },
        { 1027, "ADC Filter", W },
        { 1035, "Modbus Addr", W },
        { 1036, "C Factor", D },
        { 1037, "Zero Offset", D },
        { 1038, "Max Range", D },
        { 1039, "X-Sect", D },
        { 1045, "Password", W },
        { 1048, "Serial Number", W },
        { 1053, "Zero Cutoff %", D },
        { 1066, "uP PCBA Number", W },
        { 1068, "Watchdog Timer", W },
        { 1069, "ADC Gain", D },
        { 1070, "ADC Offset", D },
    };
    return fields;
}

const std::vector<NumberFieldRules::Field> &NumberFieldRules::Quixal()
{
    static const std::vector<Field> fields = {
        { 1012, "Value (Relay #2 OFF)", W },
        { 1013, "Value (Relay #2 ON)", W },
        { 1016, "Trip Delay (Relay #2 OFF)", W },
        { 1017, "Trip Delay (Relay #2 ON)", W },
        { 1018, "Full Scale", D },
        { 1028, "ADC Filter", W },
        { 1031, "Display Refresh", W },
        { 1036, "C Factor", D },
        { 1037, "Zero Offset", D },
        { 1038, "Max Range", D },
        { 1039, "X-Sect", D },
        { 1045, "Password", W },
        { 1046, "Modbus Addr", W },
        { 1048, "Serial Number", W },
        { 1053, "Zero Cutoff %", D },
        { 1066, "uP PCBA Number", W },
        { 1068, "Watchdog Timer", W },
        { 1174, "DAC Filter", W },
        { 1175, "DAC Refresh", W },
    };
    return fields;
}

const NumberFieldRules::Field *NumberFieldRules::Find(const std::vector<Field> &fields, int id)
{
    for (const Field &field : fields)
        if (field.id == id)
            return &field;
    return nullptr;
}

QString NumberFieldRules::Refusal(const Field &field, const QString &text)
{
    const bool whole = field.kind == Kind::Whole;
    if (whole) {
        if (ScanText::WholeInt(text))
            return {};
    } else if (const auto value = ScanText::WholeDouble(text)) {
        // Decimal fields are 4-byte floats in the meter: a value beyond their range would be
        // stored as infinity, which no meter can hold.
        if (std::fabs(*value) <= double(std::numeric_limits<float>::max()))
            return {};
    }
    const QString caption = QString::fromLatin1(field.caption);
    QString message = QStringLiteral("%1: \"%2\" is not a number this field can hold.\n")
                          .arg(caption, text.trimmed());
    if (whole)
        message += QStringLiteral("%1 accepts a whole number, such as 25.").arg(caption);
    else
        message
            += QStringLiteral("%1 accepts a decimal number, such as 12.5 or 1.5e-3.").arg(caption);
    if (!whole && text.contains(QLatin1Char(',')))
        message += QStringLiteral("\nUse a point as the decimal separator.");
    message += QStringLiteral("\nThe value it held before is kept.");
    return message;
}

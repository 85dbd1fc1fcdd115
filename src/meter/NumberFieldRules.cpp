#include "meter/NumberFieldRules.h"

#include "base/ScanText.h"
#include "meter/MeterVars.h"

#include <algorithm>
#include <limits>

namespace {

using Kind = NumberFieldRules::Kind;
using Above = NumberFieldRules::Above;
constexpr Kind W = Kind::Whole;
constexpr Kind D = Kind::Decimal;
constexpr Above Down = Above::BroughtDown;
constexpr Above In = Above::BroughtIn;

// The whole numbers a field takes: from least to most; above most only when leaving the field
// brings a number down to what it keeps.
struct Range
{
    qint64 least;
    qint64 most;
    bool cappedOnLeave;
};

Range RangeOf(const NumberFieldRules::Field &field, const MeterVars *layout)
{
    const int width
        = layout && field.variable ? layout->SizeOf(QString::fromLatin1(field.variable)) : 0;
    qint64 least = std::numeric_limits<qint32>::min();
    qint64 most = std::numeric_limits<quint32>::max();
    if (width == 4) {
        most = std::numeric_limits<qint32>::max();
    } else if (width == 1 || width == 2) {
        const qint64 span = qint64(1) << (8 * width);
        least = field.negative ? -span / 2 : 0;
        most = field.negative ? span / 2 - 1 : span - 1;
    }
    // Leaving the field brings a larger number down to the field's largest, when that fits.
    const qint64 kept = field.most > 0 ? field.most : most;
    const bool capped = field.above != Above::Refused && kept <= most;
    return { least, std::min(kept, most), capped };
}

} // namespace

const std::vector<NumberFieldRules::Field> &NumberFieldRules::Kelvane()
{
    // Before 4.1A an alarm value has two bytes and is shown unsigned.
    static const std::vector<Field> fields = {
        { 1010, "Value (Relay #1 OFF)", W, "evalue[0]", false, 400000000, Down },
        { 1011, "Value (Relay #1 ON)", W, "evalue[1]", false, 400000000, Down },
        { 1012, "Value (Relay #2 OFF)", W, "evalue[2]", false, 400000000, Down },
        { 1013, "Value (Relay #2 ON)", W, "evalue[3]", false, 400000000, Down },
        { 1014, "Trip Delay (Relay #1 OFF)", W, "edelay[0]", false, 0, Down },
        { 1015, "Trip Delay (Relay #1 ON)", W, "edelay[1]", false, 0, Down },
        { 1016, "Trip Delay (Relay #2 OFF)", W, "edelay[2]", false, 0, Down },
        { 1017, "Trip Delay (Relay #2 ON)", W, "edelay[3]", false, 0, Down },
        { 1018, "Full Scale", D },
        { 1021, "DAC Filter", W, "dac_val", false, 127, Down },
        { 1023, "DAC Time", W, "updating_max", false, 63, Down },
        { 1027, "ADC Filter", W, "adc_val", false, 200, Down },
        // The image keeps no address above 127 (it holds 0 then).
        { 1035, "Modbus Addr", W, "pad_1", false, 127 },
        { 1036, "C Factor", D },
        { 1037, "Zero Offset", D },
        { 1038, "Max Range", D },
        { 1039, "X-Sect", D },
        { 1045, "Password", W, "lockout" },
        { 1048, "Serial Number", W, "serial_num" },
        { 1053, "Zero Cutoff %", D },
        { 1066, "uP PCBA Number", W, "uP_assy_rev", true },
        { 1068, "Watchdog Timer", W, "wdt", true },
        { 1069, "ADC Gain", D },
        { 1070, "ADC Offset", D },
    };
    return fields;
}

const std::vector<NumberFieldRules::Field> &NumberFieldRules::Quixal()
{
    static const std::vector<Field> fields = {
        { 1012, "Value (Relay #2 OFF)", W, "evalue[2]", true },
        { 1013, "Value (Relay #2 ON)", W, "evalue[3]", true },
        { 1016, "Trip Delay (Relay #2 OFF)", W, "edelay[2]" },
        { 1017, "Trip Delay (Relay #2 ON)", W, "edelay[3]" },
        { 1018, "Full Scale", D },
        { 1028, "ADC Filter", W, "adc_val" },
        { 1031, "Display Refresh", W, "reporting_max", false, 200, In },
        { 1036, "C Factor", D },
        { 1037, "Zero Offset", D },
        { 1038, "Max Range", D },
        { 1039, "X-Sect", D },
        { 1045, "Password", W, "lockout", true },
        // A Modbus address, as the Kelvane form and the Modbus window take it.
        { 1046, "Modbus Addr", W, "pad", false, 127 },
        { 1048, "Serial Number", W, "serial_num" },
        { 1053, "Zero Cutoff %", D },
        { 1066, "uP PCBA Number", W, "uP_assy_rev", true },
        { 1068, "Watchdog Timer", W, "wdt", true },
        { 1174, "DAC Filter", W, "dac_val", false, 127, Down },
        { 1175, "DAC Refresh", W, "updating_max", false, 63, Down },
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

QString NumberFieldRules::Refusal(const Field &field, const QString &text, const MeterVars *layout)
{
    const bool whole = field.kind == Kind::Whole;
    // ScanText gives nothing for a decimal number beyond a float, which no meter can hold.
    std::optional<Range> outside;
    if (!whole) {
        if (ScanText::WholeDouble(text))
            return {};
    } else if (const auto value = ScanText::WholeInt(text)) {
        const Range range = RangeOf(field, layout);
        if (field.above == Above::BroughtIn
            || (*value >= range.least && (*value <= range.most || range.cappedOnLeave)))
            return {};
        outside = range;
    }
    const QString caption = QString::fromLatin1(field.caption);
    QString message = QStringLiteral("%1: \"%2\" is not a number this field can hold.\n")
                          .arg(caption, text.trimmed());
    if (outside)
        message += QStringLiteral("%1 accepts a whole number from %2 to %3.")
                       .arg(caption)
                       .arg(outside->least)
                       .arg(outside->most);
    else if (whole)
        message += QStringLiteral("%1 accepts a whole number, such as 25.").arg(caption);
    else
        message
            += QStringLiteral("%1 accepts a decimal number, such as 12.5 or 1.5e-3.").arg(caption);
    if (!whole && text.contains(QLatin1Char(',')))
        message += QStringLiteral("\nUse a point as the decimal separator.");
    message += QStringLiteral("\nThe value it held before is kept.");
    return message;
}

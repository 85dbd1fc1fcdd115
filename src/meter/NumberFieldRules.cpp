#include "meter/NumberFieldRules.h"

#include "base/ScanText.h"
#include "meter/MeterVars.h"

#include <algorithm>
#include <limits>

namespace {

using Kind = NumberFieldRules::Kind;
using Above = NumberFieldRules::Above;

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

// The number and date scanners behind the forms and the lists: every rule that reads a number
// out of a field text, run over each line of the input.
#include "FuzzEnv.h"

#include "base/ScanText.h"
#include "lists/CQueExecutor.h"
#include "meter/ZarnFormRules.h"

#include <climits>
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    const QString input = QString::fromLatin1(FuzzEnv::Bytes(data, size));
    const QStringList lines = input.split(QLatin1Char('\n'));
    for (const QString &text : lines) {
        (void)ScanText::Int(text);
        (void)ScanText::Double(text);
        int a = 0, b = 0, c = 0;
        (void)ScanText::Date(text, &a, &b, &c);
        (void)CQueExecutor::ToInt(text);
        (void)ZarnFormRules::LeadingInt(text);
        (void)ZarnFormRules::LeadingNumber(text);
        (void)ZarnFormRules::LimitZeroOffset(text);
        (void)ZarnFormRules::IsImageText(text, 1 + int(text.size() % 300));
        // The line's length picks the field it is typed into (every id over a corpus).
        const int id = ZarnFormRules::kFirstId
            + int(text.size() % (ZarnFormRules::kLastId - ZarnFormRules::kFirstId + 1));
        (void)ZarnFormRules::LimitOnLeave(id, ZarnFormRules::TrimForField(id, text));
        // A limited value is a number within the bounds the form keeps.
        const double zero = ZarnFormRules::LeadingNumber(ZarnFormRules::LimitZeroOffset(text));
        if (std::isfinite(zero) && std::fabs(zero) > 5.0)
            std::abort();
    }
    for (int i = 0; i + 1 < lines.size(); ++i)
        (void)ZarnFormRules::CanChangeRange(lines.at(i), lines.at(i + 1));
    return 0;
}

#include "base/ScanText.h"

#include <QByteArray>

#include <cmath>
#include <cstdlib>
#include <limits>

#include <locale.h>

namespace {

// The C locale, for number scanning that does not follow the user's decimal separator.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return c;
}

int SkipSpace(const QString &text, int pos)
{
    while (pos < text.size() && text.at(pos).isSpace())
        ++pos;
    return pos;
}

bool IsDigit(const QString &text, int pos)
{
    return pos < text.size() && text.at(pos) >= QLatin1Char('0')
        && text.at(pos) <= QLatin1Char('9');
}

// "%d" from pos; *end is where the scan stopped.
std::optional<qint64> IntAt(const QString &text, int pos, int *end)
{
    pos = SkipSpace(text, pos);
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('-') || text.at(pos) == QLatin1Char('+')))
        negative = text.at(pos++) == QLatin1Char('-');
    if (!IsDigit(text, pos))
        return std::nullopt;
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10 - 10;
    qint64 value = 0;
    for (; IsDigit(text, pos); ++pos)
        if (value < limit) // saturates far beyond any 32-bit variable
            value = value * 10 + (text.at(pos).unicode() - '0');
    if (end)
        *end = pos;
    return negative ? -value : value;
}

// "%f" from the start as the C library's strtod reads it (decimal or hexadecimal, with an
// exponent), in the C locale whatever the user's; *end is where the scan stopped. A text that
// gives no number, or one a 4-byte float cannot hold, gives nothing: no meter holds those.
std::optional<double> DoubleAt(const QString &text, int *end)
{
    // Latin-1 keeps one byte per character, so the stop position maps back; any other
    // character becomes '?', where the scan stops.
    const QByteArray bytes = text.toLatin1();
    const char *begin = bytes.constData();
    char *stop = nullptr;
    const double value = strtod_l(begin, &stop, CLocale());
    if (stop == begin || !ScanText::FitsFloat(value))
        return std::nullopt;
    if (end)
        *end = int(stop - begin);
    return value;
}

} // namespace

bool ScanText::FitsFloat(double value)
{
    // Halfway between the largest float and 2^128: from there on a float rounds to infinity
    // (the tie too, to the even mantissa). NaN fails the comparison.
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;
    return std::fabs(value) < kRoundsToInfinity;
}

std::optional<qint64> ScanText::Int(const QString &text)
{
    return IntAt(text, 0, nullptr);
}

std::optional<double> ScanText::Double(const QString &text)
{
    return DoubleAt(text, nullptr);
}

std::optional<qint64> ScanText::WholeInt(const QString &text)
{
    int end = 0;
    const auto value = IntAt(text, 0, &end);
    if (!value || SkipSpace(text, end) != text.size())
        return std::nullopt;
    // No variable of a meter is wider than 32 bits.
    if (*value < std::numeric_limits<qint32>::min() || *value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return value;
}

std::optional<double> ScanText::WholeDouble(const QString &text)
{
    int end = 0;
    const auto value = DoubleAt(text, &end);
    if (!value || SkipSpace(text, end) != text.size())
        return std::nullopt;
    return value;
}

std::optional<qint64> ScanText::Hex(const QString &text)
{
    int pos = SkipSpace(text, 0);
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == QLatin1Char('-') || text.at(pos) == QLatin1Char('+')))
        negative = text.at(pos++) == QLatin1Char('-');
    const auto digit = [&text](int at) {
        if (at >= text.size())
            return -1;
        const char16_t c = text.at(at).unicode();
        return c >= '0' && c <= '9' ? int(c - '0')
            : c >= 'a' && c <= 'f'  ? int(c - 'a' + 10)
            : c >= 'A' && c <= 'F'  ? int(c - 'A' + 10)
                                    : -1;
    };
    if (digit(pos) == 0 && pos + 1 < text.size()
        && (text.at(pos + 1) == QLatin1Char('x') || text.at(pos + 1) == QLatin1Char('X'))
        && digit(pos + 2) >= 0)
        pos += 2;
    if (digit(pos) < 0)
        return std::nullopt;
    qint64 value = 0;
    for (; digit(pos) >= 0; ++pos)
        if (value < (std::numeric_limits<qint64>::max() >> 4)) // saturates far beyond 32 bits
            value = value * 16 + digit(pos);
    return negative ? -value : value;
}

bool ScanText::Date(const QString &text, int *a, int *b, int *c)
{
    int pos = 0;
    const auto first = IntAt(text, 0, &pos);
    if (!first || pos >= text.size() || text.at(pos) != QLatin1Char('/'))
        return false;
    const auto second = IntAt(text, pos + 1, &pos);
    if (!second || pos >= text.size() || text.at(pos) != QLatin1Char('/'))
        return false;
    const auto third = IntAt(text, pos + 1, &pos);
    if (!third)
        return false;
    *a = int(*first);
    *b = int(*second);
    *c = int(*third);
    return true;
}

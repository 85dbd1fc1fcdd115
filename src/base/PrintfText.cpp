#include "base/PrintfText.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

QString PrintfText::Format(const char *format, ...)
{
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return QString();
    }
    if (needed < int(sizeof small)) {
        va_end(again);
        return QString::fromLatin1(small, needed);
    }
    std::vector<char> big(size_t(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return QString::fromLatin1(big.data(), needed);
}

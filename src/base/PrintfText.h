#pragma once

#include <QString>

// Numbers formatted with a C printf format ("%.1f", "%6.2f", "%d") exactly as the C library
// prints them: exact halves round to even, negative zero keeps its sign. QString::asprintf
// differs on both, so every format the program applies goes through here.
class PrintfText
{
public:
    static QString Format(const char *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;
};

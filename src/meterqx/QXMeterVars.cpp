#include "meterqx/QXMeterVars.h"

QXMeterVars::QXMeterVars(const QString &requested, QString *version)
    : MeterVars(ChooseSection(requested, version), QString::fromLatin1(kLayoutFile))
{
}

QXMeterVars::QXMeterVars(const QString &section, bool)
    : MeterVars(section, QString::fromLatin1(kLayoutFile))
{
}

QString QXMeterVars::ChooseSection(QString requested, QString *version)
{
    return ChooseSectionBy(std::move(requested), version,
        {
            { { "[3.9G]", "3.9G" }, "3.9G", nullptr },
            { { "[1.4A]", "1.4A" }, "1.4A", nullptr },
            { { "[4.0A]", "[4.0B]", "4.0x" }, "4.0x", "[4.0A]" },
            { { "[?.??]" }, "?.??", "[?.??]" },
            { { "[1.3A]" }, "1.0A", "[1.0A]" },
            { {}, ">= 4.1A", "[4.1A]" },
        });
}

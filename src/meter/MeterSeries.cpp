#include "meter/MeterSeries.h"

MeterSeries::Series MeterSeries::OfVersion(QString version)
{
    version = version.trimmed();
    if (version.startsWith(QLatin1String(">=")))
        version = version.mid(2).trimmed();
    if (version.startsWith(QLatin1Char('[')))
        version = version.mid(1);
    if (version.size() < 3 || !version.at(0).isDigit() || version.at(1) != QLatin1Char('.')
        || !version.at(2).isDigit())
        return Unknown;
    const int major = version.at(0).digitValue();
    if (major == 1)
        return Quixal;
    return major >= 3 ? Kelvane : Unknown;
}

QString MeterSeries::Name(Series series)
{
    return series == Kelvane ? QStringLiteral("Kelvane")
        : series == Quixal   ? QStringLiteral("Quixal")
                             : QString();
}

QString MeterSeries::Extension(Series series)
{
    return series == Kelvane ? QStringLiteral(".mtr")
        : series == Quixal   ? QStringLiteral(".qxm")
                             : QString();
}

MeterSeries::Series MeterSeries::OfPath(const QString &path)
{
    return path.endsWith(Extension(Quixal), Qt::CaseInsensitive) ? Quixal : Kelvane;
}

QString MeterSeries::FormOf(Series series)
{
    return series == Unknown
        ? QString()
        : QStringLiteral("a %1 meter form (%2)").arg(Name(series), Extension(series));
}

QString MeterSeries::WrongMeterText(const QString &version, const QString &formName)
{
    const Series series = OfVersion(version);
    if (series == Unknown)
        return QStringLiteral("The meter answered with firmware version \"%1\", which no layout "
                              "of the %2 form knows.\nThe form is left as it was.")
            .arg(version, formName);
    return QStringLiteral("The meter on the port is a %1 meter (firmware %2), not a %3 meter.\n"
                          "Read it with %4. This form is left as it was.")
        .arg(Name(series), version, formName, FormOf(series));
}

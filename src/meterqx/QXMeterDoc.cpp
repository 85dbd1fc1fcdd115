#include "meterqx/QXMeterDoc.h"

#include "meterqx/QuixalDocSeries.h"

QXMeterDoc::QXMeterDoc(QObject *parent)
    : QXMeterDoc(QString(), parent)
{
}

QXMeterDoc::QXMeterDoc(const QString &version, QObject *parent)
    : CMeterDoc(QuixalDocSeries::Instance(), version, parent)
{
}

#pragma once

#include "meter/CMeterDoc.h"

// The meter document of a Quixal (".qxm") form: a CMeterDoc over the Quixal series
// (QuixalDocSeries), the type the Quixal form and the document manager's Quixal type know it by.
class QXMeterDoc : public CMeterDoc
{
    Q_OBJECT
public:
    explicit QXMeterDoc(QObject *parent = nullptr);
    explicit QXMeterDoc(const QString &version, QObject *parent = nullptr);
};

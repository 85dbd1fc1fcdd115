#pragma once

#include <QString>
#include <QStringList>

// What the curve graphs take from a meter form when they open: the texts of its flow parameters
// and the lines of its coefficient lists, as the form shows them, and its curve-fit code.
struct CurveSource
{
    QString fullScale;
    QString cFactor;
    QString zeroOffset;
    QString zeroCutoff; // "Zero Cutoff %"
    QStringList primary; // ten primary coefficients, c0 first
    QStringList secondary; // ten secondary coefficients (Kelvane form only)
    QStringList pointWise; // 21 point-wise corrections in percent, 0 % first (Kelvane form only)
    int curveFit = 0; // 0..3, the form's curve-fit choice
};

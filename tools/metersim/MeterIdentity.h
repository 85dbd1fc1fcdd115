#pragma once

#include "MeterImage.h"
#include "MeterSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the simulated meter is and holds: the command line's settings with their defaults
// filled in, the meter image and its file, and the values derived from the image (range,
// serial number, units, full scale, the parameter items and the identification texts).
// Owned by MeterSim, which answers the program's commands from it.
class MeterIdentity
{
public:
    // Loads the layout and the meter file (or builds a factory image), applies the command
    // line's serial number and range. 1 on success, else 0 with the reason in error.
    int Init(const MeterSettings &settings, QString *error);

    const MeterSettings &Settings() const { return m_settings; }
    const MeterImage &Image() const { return m_image; }
    MeterImage &Image() { return m_image; }
    // Writes the image to its file, if it has one.
    void SaveImage();

    int Range() const;
    void SetRange(int range);
    quint32 Serial() const;
    int UnitsCode() const;
    QString FlowUnits() const;
    double FullScale() const;
    // The tracking mark of the readings: forced by the command line or the image's mode bit.
    bool Tracking() const;
    // A parameter item's value as its command shows it (221, 140, 813, 812).
    QString ItemValue(int item) const;

    // The identification text of the datalogger dialogue ("v" + firmware ...).
    QByteArray IdentText() const;
    // The terminal's identification line (model, " v", firmware, "Rev.", range).
    QByteArray IdentLine() const;

private:
    QString XSectText() const;
    QString CalDateText() const;

    MeterSettings m_settings;
    MeterImage m_image;
    QStringList m_unitNames; // by units code, from the units list
    int m_quixalRange = 1;
};

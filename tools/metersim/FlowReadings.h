#pragma once

#include "MeterLogger.h"

#include <QtGlobal>

// The simulated flow: a slow sine around half of full scale with a little noise (or a fixed
// value), the totalizer it drives and the highest and lowest flow seen, formatted as the
// run-mode line and the logger show them. Owned by MeterSim.
class FlowReadings
{
public:
    // The totalizer at start; a fixed flow replaces the sine and the noise.
    void Configure(double total, bool fixedFlow, double flow);
    // The sine's phase starts at the first call of either.
    void Start(qint64 nowMs);
    MeterLogger::Reading Next(qint64 nowMs, double fullScale, bool tracking);

    // One reading as the run-mode line shows its values: every value is followed by at least
    // one blank, whatever its size, so no value runs into its unit.
    static MeterLogger::Reading Format(
        double flow, bool tracking, double total, double high, double low, double fullScale);

private:
    qint64 m_startMs = -1;
    qint64 m_lastFlowMs = -1;
    double m_total = 1234.5678;
    bool m_fixedFlow = false;
    double m_flow = 0.0;
    double m_high = 0.0;
    double m_low = -1.0;
    quint32 m_noise = 12345;
};

#include "FlowReadings.h"

#include "base/PrintfText.h"

#include <cmath>
#include <numbers>

void FlowReadings::Configure(double total, bool fixedFlow, double flow)
{
    m_total = total;
    m_fixedFlow = fixedFlow;
    m_flow = flow;
}

void FlowReadings::Start(qint64 nowMs)
{
    if (m_startMs < 0)
        m_startMs = nowMs;
}

MeterLogger::Reading FlowReadings::Next(qint64 nowMs, double fs, bool tracking)
{
    Start(nowMs);
    const double t = double(nowMs - m_startMs) / 1000.0;
    m_noise = m_noise * 1103515245u + 12345u;
    const double noise = (double((m_noise >> 16) & 0x7FFF) / 32767.0 - 0.5) * 0.01;
    double flow = fs * (0.5 + 0.3 * std::sin(2.0 * std::numbers::pi * t / 60.0) + noise);
    if (m_fixedFlow)
        flow = m_flow;
    if (flow < 0)
        flow = 0;
    if (m_lastFlowMs >= 0)
        m_total += flow * double(nowMs - m_lastFlowMs) / 60000.0;
    m_lastFlowMs = nowMs;
    if (flow > m_high)
        m_high = flow;
    if (m_low < 0 || flow < m_low)
        m_low = flow;

    return Format(flow, tracking, m_total, m_high, m_low, fs);
}

MeterLogger::Reading FlowReadings::Format(
    double flow, bool tracking, double total, double high, double low, double fullScale)
{
    // Padded to 9 and 12 characters as the meter's display columns are, and never without the
    // blank that separates a value from its unit.
    const auto padded = [](QString text, int width) {
        text = text.leftJustified(width);
        if (!text.endsWith(QLatin1Char(' ')))
            text += QLatin1Char(' ');
        return text;
    };
    MeterLogger::Reading r;
    r.flow = padded(
        (tracking ? QStringLiteral("T") : QString()) + PrintfText::Format("%.2f", flow), 9);
    r.total = padded(PrintfText::Format("%.4f", total), 12);
    r.high = PrintfText::Format("%.2f", high);
    r.low = PrintfText::Format("%.2f", low);
    // Relay tokens of four characters, the fourth "*" while the relay is on (the reading line
    // and the log graph both read that mark).
    r.relay1 = flow > 0.7 * fullScale ? QStringLiteral("RL1*") : QStringLiteral("RL1.");
    r.relay2 = flow < 0.3 * fullScale ? QStringLiteral("RL2*") : QStringLiteral("RL2.");
    return r;
}

#include "modbus/ModbusPanelRules.h"

#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

int ModbusPanelRules::DecimalValue(const QString &text)
{
    return ModbusMaster::AddressValue(text);
}

double ModbusPanelRules::DecimalReal(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    return std::strtod(bytes.constData(), nullptr);
}

QString ModbusPanelRules::AddressRefusal(
    int panel, const QString &text, const std::array<QString, kPanels + 1> &remembered)
{
    const bool dash = text == QStringLiteral("-");
    const int value = DecimalValue(text);
    if ((value < 1 || value > 127) && !dash) {
        return panel == 1
            ? QStringLiteral("Modbus Address Range is 1 to 127\r\n Enter - To dDsable This Meter")
            : QStringLiteral("Modbus Address Range is 1 to 127");
    }
    if (!dash) {
        for (int n = 1; n <= kPanels; ++n) {
            if (n != panel && remembered[size_t(n)] == text)
                return QStringLiteral("Modbus Address Already Taken");
        }
    }
    return QString();
}

int ModbusPanelRules::SelectedAfter(int selected, const QString &was, const QString &text)
{
    if (text == was)
        return selected;
    if (text == QStringLiteral("-"))
        return selected - 1;
    if (was == QStringLiteral("-"))
        return selected + 1;
    return selected;
}

double ModbusPanelRules::MinimumPeriod(int selected)
{
    return std::max(selected, 0) / 100.0;
}

int ModbusPanelRules::PeriodMs(const QString &text)
{
    const double ms = DecimalReal(text) * 1000.0;
    return std::max(int(std::clamp(ms, 0.0, double(INT_MAX))), 10);
}

QString ModbusPanelRules::FailureLine(const QString &failureText, int failures)
{
    const QString text = failureText.trimmed();
    const QString what = text.mid(text.indexOf(QLatin1String(": ")) + 2);
    return QStringLiteral("Failures: %1 - %2").arg(failures).arg(what);
}

QString ModbusPanelRules::FailureTip(const QString &failureText, int failures)
{
    return QStringLiteral("Failures since polling started: %1\nLast: %2")
        .arg(failures)
        .arg(failureText.trimmed());
}

std::vector<ReadingSink::Value> ModbusPanelRules::Values(const ModbusMaster &master,
    const QString &flowUnit, const QString &totalizerUnit, const QString &temperatureUnit)
{
    const auto unit
        = [](const QString &text) { return text == QLatin1String(kDashes) ? QString() : text; };
    return { { QStringLiteral("flow"), master.FlowText(), unit(flowUnit) },
        { QStringLiteral("totalizer"), master.TotalizerText(), unit(totalizerUnit) },
        { QStringLiteral("temperature"), master.TemperatureText(), unit(temperatureUnit) } };
}

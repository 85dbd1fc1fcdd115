#pragma once

#include "base/ReadingSink.h"

#include <QString>

#include <array>
#include <vector>

class ModbusMaster;

// The rules of the Modbus window's panels and controls, without the widgets: the address a
// panel takes, the shortest update period for the meters selected, how a panel says its
// failures, and the values a reading publishes.
class ModbusPanelRules
{
public:
    static constexpr int kPanels = 8;
    // Panels are numbered 1..8 in polling order.
    enum Field {
        Address,
        Flow,
        FlowUnits,
        Totalizer,
        TotalizerUnits,
        Temperature,
        TemperatureUnit,
        SerialNumber,
        MaxRange,
        FullScale,
        FieldCount
    };
    // What an empty field shows, and the caption of an idle read button.
    static constexpr const char *kDashes = "-----";
    static constexpr const char *kCmd3 = "CMD 3";
    // Why a read cannot start: the port turned off, not open, or held by another window.
    static constexpr const char *kPortOffText
        = "***** Modbus Comm Port is Turned OFF *****\n\nClick View found above the Toolbar\n\n"
          "Click Settings and Configure Modbus Comm Port";
    static constexpr const char *kCantOpenText
        = "***** Can't Open Modbus Communication port *****\n\nClick View found above the "
          "Toolbar\n\nClick Settings and Configure Modbus Comm Port";
    static constexpr const char *kPortInUseText
        = "The Modbus port is in use by another Modbus window's exchange.\n"
          "Wait until it has finished (or stop its polling), then try again.";

    // A field's text as a number: an address (0 when it is none), a period in seconds.
    static int DecimalValue(const QString &text);
    static double DecimalReal(const QString &text);

    // Why panel may not take the address text (its message), or empty when it may: 1 to 127,
    // or "-" for a meter left out, and no address another panel has (remembered, 1..8).
    static QString AddressRefusal(
        int panel, const QString &text, const std::array<QString, kPanels + 1> &remembered);
    // The count of selected meters after a panel's address went from was to text.
    static int SelectedAfter(int selected, const QString &was, const QString &text);
    // The shortest update period in seconds: .01 per selected meter, as a quotient so that its
    // text reads back as the same number.
    static double MinimumPeriod(int selected);
    // The update period of the field's text in ms: 0 means the first opportunity, 10 ms.
    static int PeriodMs(const QString &text);

    // A panel's failure line ("Failures: N - what went wrong") and its tip, from the master's
    // failure text.
    static QString FailureLine(const QString &failureText, int failures);
    static QString FailureTip(const QString &failureText, int failures);

    // A reading's published values (flow, totalizer, temperature) with the units the panel
    // shows; a unit not read yet ("-----") publishes none.
    static std::vector<ReadingSink::Value> Values(const ModbusMaster &master,
        const QString &flowUnit, const QString &totalizerUnit, const QString &temperatureUnit);
};

#include "meterqx/QXFieldRules.h"

#include "meterqx/QXFieldIds.h"

namespace {

using Kind = FieldRule::Kind;
using Limit = FieldRule::Limit;
using Above = NumberFieldRules::Above;
using N = NumberFieldRules;

} // namespace

const FieldRules &QXFieldRules::Table()
{
    using namespace QXFieldId;
    // Zero Offset is bounded on every change, as on the Kelvane form.
    const Limit zeroOffset = FieldRule::Within(-5.0, "-5.00000", 5.0, "5.00000", false, true);
    static const FieldRules table({
        FieldRule::Of(SerialNumber, Kind::ReadOnly).Number(N::Whole("Serial Number", "serial_num")),
        FieldRule::Of(MeterVersion, Kind::ReadOnly),
        FieldRule::Of(Revision, Kind::ReadOnly),
        // The units pick converts the flow fields; the flow fields, when left, are collected.
        FieldRule::Of(Units, Kind::Choice),
        FieldRule::Of(FullScale).Number(N::Decimal("Full Scale")).Collected(),
        FieldRule::Of(CFactor).Number(N::Decimal("C Factor")).Collected(),
        FieldRule::Of(XSect).Number(N::Decimal("X-Sect")).Collected(),
        FieldRule::Of(MaxRange).Number(N::Decimal("Max Range")).Collected(),
        FieldRule::Of(ZeroCutoff).Number(N::Decimal("Zero Cutoff %")).Collected(),
        FieldRule::Of(ZeroOffset).Number(N::Decimal("Zero Offset")).Limited(zeroOffset).Collected(),
        FieldRule::Of(PrimaryList, Kind::Coefficients),
        FieldRule::Of(RelayOffFunction, Kind::Choice),
        FieldRule::Of(RelayOffValue).Number(N::Whole("Value (Relay #2 OFF)", "evalue[2]", true)),
        FieldRule::Of(RelayOffDelay).Number(N::Whole("Trip Delay (Relay #2 OFF)", "edelay[2]")),
        FieldRule::Of(RelayOnFunction, Kind::Choice),
        FieldRule::Of(RelayOnValue).Number(N::Whole("Value (Relay #2 ON)", "evalue[3]", true)),
        FieldRule::Of(RelayOnDelay).Number(N::Whole("Trip Delay (Relay #2 ON)", "edelay[3]")),
        FieldRule::Of(HoldFlow, Kind::Box),
        FieldRule::Of(Polarity, Kind::Choice),
        FieldRule::Of(PulseWidth),
        FieldRule::Of(Output, Kind::Choice),
        FieldRule::Of(VOut, Kind::Box),
        FieldRule::Of(Protocol, Kind::Box),
        FieldRule::Of(NoDisplay, Kind::Box),
        // A Modbus address, as the Kelvane form and the Modbus window take it.
        FieldRule::Of(ModbusAddr).Number(N::Whole("Modbus Addr", "pad", false, 127)),
        FieldRule::Of(AdcFilter).Number(N::Whole("ADC Filter", "adc_val")),
        FieldRule::Of(DacFilter)
            .Number(N::Whole("DAC Filter", "dac_val", false, 127, Above::BroughtDown))
            .Limited(FieldRule::Down(128, true, "127", true)),
        FieldRule::Of(DacRefresh)
            .Number(N::Whole("DAC Refresh", "updating_max", false, 63, Above::BroughtDown))
            .Limited(FieldRule::Down(64, true, "63", true)),
        FieldRule::Of(DisplayRefresh)
            .Number(N::Whole("Display Refresh", "reporting_max", false, 200, Above::BroughtIn))
            .Limited(FieldRule::Within(8, "8", 200, "200", true, false)),
        FieldRule::Of(CalibrationDue),
        FieldRule::Of(Password).Number(N::Whole("Password", "lockout", true)),
        FieldRule::Of(Watchdog).Number(N::Whole("Watchdog Timer", "wdt", true)),
        FieldRule::Of(UpPcba, Kind::ReadOnly)
            .Number(N::Whole("uP PCBA Number", "uP_assy_rev", true)),
    });
    return table;
}

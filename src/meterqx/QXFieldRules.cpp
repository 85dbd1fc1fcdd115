#include "meterqx/QXFieldRules.h"

#include "meter/FieldIds.h"
#include "meterqx/QXFieldIds.h"

// The rows both series share are written in the Kelvane form's ids.
static_assert(QXFieldId::Units == FieldId::Units && QXFieldId::FullScale == FieldId::FullScale
    && QXFieldId::CFactor == FieldId::CFactor && QXFieldId::XSect == FieldId::XSect
    && QXFieldId::MaxRange == FieldId::MaxRange && QXFieldId::ZeroCutoff == FieldId::ZeroCutoff
    && QXFieldId::ZeroOffset == FieldId::ZeroOffset);

const FieldRules &QXFieldRules::Table()
{
    using namespace QXFieldId;
    // After the rows both series share (FlowRows).
    static const QXFieldRules table({
        FieldRule::Of(SerialNumber, Kind::ReadOnly).Number(N::Whole("Serial Number", "serial_num")),
        FieldRule::Of(MeterVersion, Kind::ReadOnly),
        FieldRule::Of(Revision, Kind::ReadOnly),
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
        // The clock's edits.
        FieldRule::Of(DateField),
        FieldRule::Of(TimeField),
    });
    return table;
}

#include "meter/KelvaneFieldRules.h"

#include "meter/FieldIds.h"

const FieldRules &KelvaneFieldRules::Table()
{
    using namespace FieldId;
    const Limit alarmValue = FieldRule::Down(400000000.0, false, "400000000");
    const Limit alarmDelay = FieldRule::Down(256.0, true, "255");
    // After the rows both series share (FlowRows).
    static const KelvaneFieldRules table({
        FieldRule::Of(SerialNumber).Number(N::Whole("Serial Number", "serial_num")),
        FieldRule::Of(MeterVersion, Kind::ReadOnly),
        FieldRule::Of(Revision, Kind::ReadOnly),
        FieldRule::Of(DesiredRange, Kind::Own),
        FieldRule::Of(AlarmFunction0, Kind::Choice),
        FieldRule::Of(AlarmFunction1, Kind::Choice),
        FieldRule::Of(AlarmFunction2, Kind::Choice),
        FieldRule::Of(AlarmFunction3, Kind::Choice),
        // Before 4.1A an alarm value has two bytes and is shown unsigned.
        FieldRule::Of(AlarmValue0)
            .Number(
                N::Whole("Value (Relay #1 OFF)", "evalue[0]", false, 400000000, Above::BroughtDown))
            .Limited(alarmValue),
        FieldRule::Of(AlarmValue1)
            .Number(
                N::Whole("Value (Relay #1 ON)", "evalue[1]", false, 400000000, Above::BroughtDown))
            .Limited(alarmValue),
        FieldRule::Of(AlarmValue2)
            .Number(
                N::Whole("Value (Relay #2 OFF)", "evalue[2]", false, 400000000, Above::BroughtDown))
            .Limited(alarmValue),
        FieldRule::Of(AlarmValue3)
            .Number(
                N::Whole("Value (Relay #2 ON)", "evalue[3]", false, 400000000, Above::BroughtDown))
            .Limited(alarmValue),
        FieldRule::Of(AlarmDelay0)
            .Number(
                N::Whole("Trip Delay (Relay #1 OFF)", "edelay[0]", false, 0, Above::BroughtDown))
            .Limited(alarmDelay),
        FieldRule::Of(AlarmDelay1)
            .Number(N::Whole("Trip Delay (Relay #1 ON)", "edelay[1]", false, 0, Above::BroughtDown))
            .Limited(alarmDelay),
        FieldRule::Of(AlarmDelay2)
            .Number(
                N::Whole("Trip Delay (Relay #2 OFF)", "edelay[2]", false, 0, Above::BroughtDown))
            .Limited(alarmDelay),
        FieldRule::Of(AlarmDelay3)
            .Number(N::Whole("Trip Delay (Relay #2 ON)", "edelay[3]", false, 0, Above::BroughtDown))
            .Limited(alarmDelay),
        FieldRule::Of(HoldFlow1, Kind::Box).Before41(Early::Hidden),
        FieldRule::Of(HoldFlow2, Kind::Box).Before41(Early::Hidden),
        FieldRule::Of(AdcGain, Kind::ReadOnly).Number(N::Decimal("ADC Gain")),
        FieldRule::Of(AdcOffset, Kind::ReadOnly).Number(N::Decimal("ADC Offset")),
        // The three edits with arrows keep their text under the arrows' id.
        FieldRule::Of(AdcFilterEdit)
            .StoredAs(AdcFilterSpin)
            .Number(N::Whole("ADC Filter", "adc_val", false, 200, Above::BroughtDown))
            .Limited(FieldRule::Down(200.0, false, "200")),
        FieldRule::Of(DacFilterEdit)
            .StoredAs(DacFilterSpin)
            .Number(N::Whole("DAC Filter", "dac_val", false, 127, Above::BroughtDown))
            .Limited(FieldRule::Down(128.0, true, "127")),
        FieldRule::Of(DacTimeEdit)
            .StoredAs(DacTimeSpin)
            .Number(N::Whole("DAC Time", "updating_max", false, 63, Above::BroughtDown))
            .Limited(FieldRule::Down(64.0, true, "63")),
        FieldRule::Of(Contrast),
        FieldRule::Of(Refresh),
        FieldRule::Of(LcdBlank, Kind::Box),
        FieldRule::Of(CurveFit, Kind::Own).Collected(),
        FieldRule::Of(PrimaryList, Kind::Coefficients),
        FieldRule::Of(SecondaryList, Kind::Coefficients).Before41(Early::Hidden),
        FieldRule::Of(PointWiseList, Kind::Coefficients).Before41(Early::Hidden),
        FieldRule::Of(Tracking, Kind::Box),
        FieldRule::Of(Protocol, Kind::Box),
        // The image keeps no address above 127 (it holds 0 then).
        FieldRule::Of(ModbusAddr).Number(N::Whole("Modbus Addr", "pad_1", false, 127)),
        FieldRule::Of(CalibrationDue, Kind::Own),
        FieldRule::Of(Password).Number(N::Whole("Password", "lockout")),
        FieldRule::Of(Watchdog)
            .Number(N::Whole("Watchdog Timer", "wdt", true))
            .Before41(Early::Refused),
        FieldRule::Of(UpPcba, Kind::ReadOnly)
            .Number(N::Whole("uP PCBA Number", "uP_assy_rev", true))
            .Before41(Early::Refused),
        // The clock's edits.
        FieldRule::Of(DateField),
        FieldRule::Of(TimeField),
    });
    return table;
}

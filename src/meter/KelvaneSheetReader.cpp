#include "meter/KelvaneSheetReader.h"

#include "base/IShownFields.h"
#include "meter/FieldIds.h"
#include "meter/SheetFlowFields.h"
#include "meter/ZarnFormRules.h"

KelvaneSheet::Fields KelvaneSheetReader::Read(
    IShownFields &form, const QString &pathName, const QString &section)
{
    using namespace FieldId;
    const auto text = [&form](int id) { return form.ShownText(id); };
    KelvaneSheet::Fields f;
    f.pathName = pathName;
    f.extended = KelvaneSheet::IsExtended(section, text(TemplateVersion));
    f.meterVersion = ZarnFormRules::Identified(text(MeterVersion));
    f.revision = ZarnFormRules::Identified(text(Revision));
    f.serial = text(SerialNumber);
    f.upPcba = text(UpPcba);
    f.refresh = form.ShownPosition(Refresh);
    f.contrast = form.ShownPosition(Contrast);
    f.date = text(DateField);
    f.time = text(TimeField);
    f.password = text(Password);
    f.calibrationDue = text(CalibrationDue);
    f.dacTime = text(DacTimeEdit);
    f.dacFilter = text(DacFilterEdit);
    f.adcFilter = text(AdcFilterEdit);
    f.activeRange = text(ActiveRange);
    for (int i = 0; i < 4; ++i) {
        f.alarmLine[size_t(i)] = text(AlarmFunction0 + i);
        f.alarmValue[size_t(i)] = text(AlarmValue0 + i);
        f.alarmDelay[size_t(i)] = text(AlarmDelay0 + i);
    }
    f.holdFlow1 = form.ShownTicked(HoldFlow1);
    f.holdFlow2 = form.ShownTicked(HoldFlow2);
    f.watchdog = text(Watchdog);
    ReadSheetFlowFields(form, f);
    f.adcGain = text(AdcGain);
    f.adcOffset = text(AdcOffset);
    f.curveFit = text(CurveFit);
    f.primary = form.ShownItems(PrimaryList);
    f.secondary = form.ShownItems(SecondaryList);
    f.pointWise = form.ShownItems(PointWiseList);
    return f;
}

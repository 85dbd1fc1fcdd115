#include "meter/KelvaneSheetReader.h"

#include "base/ControlText.h"
#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormView.h"

namespace {
QString TextOf(const ZarnFormView &form, int id)
{
    return ControlText::Text(form.Control(id));
}
} // namespace

KelvaneSheet::Fields KelvaneSheetReader::Read(const ZarnFormView &form)
{
    using namespace FieldId;
    KelvaneSheet::Fields f;
    const auto *doc = qobject_cast<const CMeterDoc *>(form.GetDocument());
    if (doc)
        f.pathName = doc->PathName();
    const QString section = doc && doc->Vars() ? doc->Vars()->SectionName() : QString();
    f.extended = KelvaneSheet::IsExtended(section, TextOf(form, TemplateVersion));
    f.meterVersion = ControlText::Identified(TextOf(form, MeterVersion));
    f.revision = ControlText::Identified(TextOf(form, Revision));
    f.serial = TextOf(form, SerialNumber);
    f.upPcba = TextOf(form, UpPcba);
    f.refresh = ControlText::Position(form.Control(Refresh));
    f.contrast = ControlText::Position(form.Control(Contrast));
    f.date = TextOf(form, DateField);
    f.time = TextOf(form, TimeField);
    f.password = TextOf(form, Password);
    f.calibrationDue = TextOf(form, CalibrationDue);
    f.dacTime = TextOf(form, DacTimeEdit);
    f.dacFilter = TextOf(form, DacFilterEdit);
    f.adcFilter = TextOf(form, AdcFilterEdit);
    f.activeRange = TextOf(form, ActiveRange);
    for (int i = 0; i < 4; ++i) {
        f.alarmLine[size_t(i)] = TextOf(form, AlarmFunction0 + i);
        f.alarmValue[size_t(i)] = TextOf(form, AlarmValue0 + i);
        f.alarmDelay[size_t(i)] = TextOf(form, AlarmDelay0 + i);
    }
    f.holdFlow1 = ControlText::Ticked(form.Control(HoldFlow1));
    f.holdFlow2 = ControlText::Ticked(form.Control(HoldFlow2));
    f.unitsLine = TextOf(form, Units);
    f.watchdog = TextOf(form, Watchdog);
    f.xSect = TextOf(form, XSect);
    f.maxRange = TextOf(form, MaxRange);
    f.fullScale = TextOf(form, FullScale);
    f.cFactor = TextOf(form, CFactor);
    f.zeroOffset = TextOf(form, ZeroOffset);
    f.zeroCutoff = TextOf(form, ZeroCutoff);
    f.adcGain = TextOf(form, AdcGain);
    f.adcOffset = TextOf(form, AdcOffset);
    f.curveFit = TextOf(form, CurveFit);
    f.primary = ControlText::Items(form.Control(PrimaryList));
    f.secondary = ControlText::Items(form.Control(SecondaryList));
    f.pointWise = ControlText::Items(form.Control(PointWiseList));
    return f;
}

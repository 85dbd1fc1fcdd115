#include "meterqx/QuixalSheetReader.h"

#include "base/IShownFields.h"
#include "meter/SheetFlowFields.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/QXFieldIds.h"

namespace {
// The code an "I-Out / V-Out" or "Polarity" entry carries in its last character; empty when
// nothing is selected.
QString CodeOf(const QString &entry)
{
    return entry.isEmpty() ? QString() : entry.right(1);
}
} // namespace

QuixalSheet::Fields QuixalSheetReader::Read(IShownFields &form, const QString &pathName)
{
    using namespace QXFieldId;
    const auto text = [&form](int id) { return form.ShownText(id); };
    const auto ticked = [&form](int id) { return form.ShownTicked(id); };
    QuixalSheet::Fields f;
    f.pathName = pathName;
    f.serial = text(SerialNumber);
    f.meterVersion = ZarnFormRules::Identified(text(MeterVersion));
    f.revision = ZarnFormRules::Identified(text(Revision));
    f.upPcba = text(UpPcba);
    f.date = text(DateField);
    f.time = text(TimeField);
    f.password = text(Password);
    f.calibrationDue = text(CalibrationDue);
    f.watchdog = text(Watchdog);
    f.modbusAddr = text(ModbusAddr);
    f.noDisplay = ticked(NoDisplay);
    f.displayRefresh = text(DisplayRefresh);
    f.dacRefresh = text(DacRefresh);
    f.dacFilter = text(DacFilter);
    f.adcFilter = text(AdcFilter);
    f.vout10 = ticked(VOut);
    f.outputCode = CodeOf(text(Output));
    f.polarityCode = CodeOf(text(Polarity));
    f.pulseWidth = text(PulseWidth);
    f.protocolOn = ticked(Protocol);
    ReadSheetFlowFields(form, f);
    f.coefficients = form.ShownItems(PrimaryList);
    return f;
}

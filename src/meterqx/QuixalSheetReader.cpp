#include "meterqx/QuixalSheetReader.h"

#include "base/CDocument.h"
#include "base/ControlText.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/ZarnQXFormView.h"

namespace {
QString TextOf(const ZarnQXFormView &form, int id)
{
    return ControlText::Text(form.Control(id));
}

bool Ticked(const ZarnQXFormView &form, int id)
{
    return ControlText::Ticked(form.Control(id));
}

// The code an "I-Out / V-Out" or "Polarity" entry carries in its last character; empty when
// nothing is selected.
QString CodeOf(const QString &entry)
{
    return entry.isEmpty() ? QString() : entry.right(1);
}
} // namespace

QuixalSheet::Fields QuixalSheetReader::Read(const ZarnQXFormView &form)
{
    using namespace QXFieldId;
    QuixalSheet::Fields f;
    if (const CDocument *doc = form.GetDocument())
        f.pathName = doc->PathName();
    f.serial = TextOf(form, SerialNumber);
    f.meterVersion = ControlText::Identified(TextOf(form, MeterVersion));
    f.revision = ControlText::Identified(TextOf(form, Revision));
    f.upPcba = TextOf(form, UpPcba);
    f.date = TextOf(form, DateField);
    f.time = TextOf(form, TimeField);
    f.password = TextOf(form, Password);
    f.calibrationDue = TextOf(form, CalibrationDue);
    f.watchdog = TextOf(form, Watchdog);
    f.modbusAddr = TextOf(form, ModbusAddr);
    f.noDisplay = Ticked(form, NoDisplay);
    f.displayRefresh = TextOf(form, DisplayRefresh);
    f.dacRefresh = TextOf(form, DacRefresh);
    f.dacFilter = TextOf(form, DacFilter);
    f.adcFilter = TextOf(form, AdcFilter);
    f.vout10 = Ticked(form, VOut);
    f.outputCode = CodeOf(TextOf(form, Output));
    f.polarityCode = CodeOf(TextOf(form, Polarity));
    f.pulseWidth = TextOf(form, PulseWidth);
    f.protocolOn = Ticked(form, Protocol);
    f.unitsLine = TextOf(form, Units);
    f.xSect = TextOf(form, XSect);
    f.maxRange = TextOf(form, MaxRange);
    f.fullScale = TextOf(form, FullScale);
    f.cFactor = TextOf(form, CFactor);
    f.zeroOffset = TextOf(form, ZeroOffset);
    f.zeroCutoff = TextOf(form, ZeroCutoff);
    f.coefficients = ControlText::Items(form.Control(PrimaryList));
    return f;
}

#include "meter/KelvaneSheetReader.h"

#include "meter/CMeterDoc.h"
#include "meter/FieldIds.h"
#include "meter/MeterVars.h"
#include "meter/ZarnFormView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTreeWidget>

namespace {
// The text a control shows: an edit's or label's text, a list's selected line (empty when
// nothing is selected).
QString TextOf(const ZarnFormView &form, int id)
{
    QWidget *control = form.Control(id);
    if (auto *edit = qobject_cast<QLineEdit *>(control))
        return edit->text();
    if (auto *label = qobject_cast<QLabel *>(control))
        return label->text();
    if (auto *box = qobject_cast<QComboBox *>(control))
        return box->currentIndex() < 0 ? QString() : box->currentText();
    return QString();
}

bool Ticked(const ZarnFormView &form, int id)
{
    auto *box = qobject_cast<QCheckBox *>(form.Control(id));
    return box && box->isChecked();
}

int Position(const ZarnFormView &form, int id)
{
    auto *slider = qobject_cast<QSlider *>(form.Control(id));
    return slider ? slider->value() : 0;
}

QStringList Items(const ZarnFormView &form, int id)
{
    QStringList items;
    if (auto *list = qobject_cast<QTreeWidget *>(form.Control(id))) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            items.append(list->topLevelItem(i)->text(1));
    }
    return items;
}

// The labels show "?" until a meter has been identified: nothing to print then.
QString Identified(const QString &label)
{
    return label == QLatin1String("?") ? QString() : label;
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
    f.meterVersion = Identified(TextOf(form, MeterVersion));
    f.revision = Identified(TextOf(form, Revision));
    f.serial = TextOf(form, SerialNumber);
    f.upPcba = TextOf(form, UpPcba);
    f.refresh = Position(form, Refresh);
    f.contrast = Position(form, Contrast);
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
    f.holdFlow1 = Ticked(form, HoldFlow1);
    f.holdFlow2 = Ticked(form, HoldFlow2);
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
    f.primary = Items(form, PrimaryList);
    f.secondary = Items(form, SecondaryList);
    f.pointWise = Items(form, PointWiseList);
    return f;
}

#include "meter/KelvaneSheet.h"

#include "base/PrintfText.h"
#include "meter/FieldIds.h"

namespace {
// Item i of a list, empty past its end.
QString Item(const QStringList &list, int i)
{
    return i >= 0 && i < list.size() ? list.at(i) : QString();
}

QString TrueFalse(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// One relay row: code and name from the selected function line, then value, delay and, for
// the ON rows of a ">= 4.1A" meter, the row's Hold Flow box.
QString RelayLine(const KelvaneSheet::Fields &f, int row, const char *event, const bool *holdFlow)
{
    const QString &function = f.alarmLine[size_t(row)];
    QString line
        = QStringLiteral("%1 - %2 => %3    Value => %4     Delay => %5")
              .arg(SheetPage::Last(function, 3), QLatin1String(event),
                  SheetPage::First(function, 10), SheetPage::Right(f.alarmValue[size_t(row)], 7),
                  SheetPage::Right(f.alarmDelay[size_t(row)], 7));
    if (holdFlow)
        line += QStringLiteral("   Hold Flow => ") + TrueFalse(*holdFlow);
    return line;
}

// A body line followed by the gap between groups: half a line, then a line.
void TextThenGap(SheetPage &page, const QString &text)
{
    page.Text(text);
    page.DownHalf();
    page.DownLines(1);
}

void TextThenLine(SheetPage &page, const QString &text)
{
    page.Text(text);
    page.DownLines(1);
}
} // namespace

bool KelvaneSheet::IsExtended(const QString &section, const QString &templateLabel)
{
    if (section == QLatin1String("[3.9G]") || section == QLatin1String("[4.0A]"))
        return false;
    if (section == QLatin1String("[4.1A]"))
        return true;
    return templateLabel == QLatin1String(">= 4.1A");
}

SheetPage KelvaneSheet::Build(const Fields &f, const SheetMetrics &metrics, const FieldRules &rules)
{
    const auto printed = [&](int id) { return !rules.Lacks(id, f.extended); };
    SheetPage page(metrics);
    page.SetFont(SheetFont::Title);
    page.Text(QStringLiteral("      HALVREN - Meter Datasheet"));
    page.DownOneAndHalf();
    page.SetFont(SheetFont::Body);

    TextThenGap(page, QStringLiteral("File Name: ") + f.pathName);
    if (printed(FieldId::UpPcba)) {
        TextThenGap(page,
            QStringLiteral("Firmware Release: v%1 r%2      Serial#: %3      uP PCB Assembly#: %4")
                .arg(f.meterVersion, SheetPage::First(f.revision, 1), f.serial, f.upPcba));
    } else {
        TextThenGap(page,
            QStringLiteral("Firmware Release: v%1 r%2      Serial#: %3")
                .arg(f.meterVersion, f.revision, f.serial));
    }

    page.Heading(QStringLiteral("General Meter Settings"));
    TextThenLine(
        page, QStringLiteral("207 - Update Rate    => ") + PrintfText::Format("%d", f.refresh));
    TextThenLine(
        page, QStringLiteral("208 - LCD Contrast   => ") + PrintfText::Format("%d", f.contrast));
    TextThenLine(page, QStringLiteral("214 - Date Format    => ") + f.date);
    TextThenLine(page, QStringLiteral("215 - Time Format    => ") + f.time);
    TextThenLine(page, QStringLiteral("219 - Password       => ") + f.password);
    TextThenLine(page, QStringLiteral("221 - Calib. Due     => ") + f.calibrationDue);
    TextThenLine(page, QStringLiteral("202 - DAC Time       => ") + f.dacTime);
    TextThenLine(page, QStringLiteral("203 - DAC Filter     => ") + f.dacFilter);
    TextThenLine(page, QStringLiteral("205 - ADC Filter     => ") + f.adcFilter);
    TextThenGap(page, QStringLiteral("213 - Active Range   => ") + f.activeRange);

    page.Heading(QStringLiteral("Alarm Settings"));
    const bool *hold1 = printed(FieldId::HoldFlow1) ? &f.holdFlow1 : nullptr;
    const bool *hold2 = printed(FieldId::HoldFlow2) ? &f.holdFlow2 : nullptr;
    TextThenLine(page, RelayLine(f, 0, "Relay#1 OFF", nullptr));
    TextThenLine(page, RelayLine(f, 1, "Relay#1 ON ", hold1));
    TextThenLine(page, RelayLine(f, 2, "Relay#2 OFF", nullptr));
    TextThenGap(page, RelayLine(f, 3, "Relay#2 ON ", hold2));

    page.Heading(QStringLiteral("Parameters Settings"));
    QString units = QStringLiteral("%1 - Engineering Units => %2")
                        .arg(SheetPage::Last(f.unitsLine, 3), SheetPage::First(f.unitsLine, 4));
    if (printed(FieldId::Watchdog))
        units += QStringLiteral("            223 - Watchdog Timer => ") + f.watchdog;
    TextThenLine(page, units);
    TextThenLine(page, QStringLiteral("813 - X-Section         => ") + f.xSect);
    TextThenLine(page, QStringLiteral("814 - Max Range         => ") + f.maxRange);
    TextThenLine(page, QStringLiteral("140 - Full Scale        => ") + f.fullScale);
    TextThenLine(page, QStringLiteral("811 - C-Factor          => ") + f.cFactor);
    TextThenLine(page, QStringLiteral("812 - Zero Offset       => ") + f.zeroOffset);
    TextThenLine(
        page, QStringLiteral("816 - Zero Cutoff %     => ") + f.zeroCutoff + QLatin1Char('%'));
    TextThenLine(page, QStringLiteral("      ADC Gain          => ") + f.adcGain);
    TextThenGap(page, QStringLiteral("      ADC Offset        => ") + f.adcOffset);

    page.Heading(QStringLiteral("Curve Fit Settings"));
    page.Text(QStringLiteral("850 - Curve Fit         => ") + f.curveFit);
    page.DownHalf();
    for (int i = 0; i < 10; ++i) {
        page.DownLines(1);
        page.Text(PrintfText::Format("%.3d - Primary Coefficient %c => ", 801 + i, 'A' + i)
            + SheetPage::Right(Item(f.primary, i), 10));
    }
    if (printed(FieldId::SecondaryList)) {
        page.DownLines(1);
        for (int i = 0; i < 10; ++i) {
            page.DownLines(1);
            page.Text(PrintfText::Format("%.3d - Secondary Coefficient %c => ", 701 + i, 'A' + i)
                + Item(f.secondary, i));
        }
    }
    if (printed(FieldId::PointWiseList)) {
        page.DownHalf();
        // Two columns, 5 % to 100 %; the fixed 0 % value is not printed.
        for (int i = 1; i < 20; i += 2) {
            page.DownLines(1);
            page.Text(PrintfText::Format("%.3d - Point-Wise @ %3d%% => ", 750 + i, 5 * i)
                + SheetPage::Right(Item(f.pointWise, i), 15)
                + PrintfText::Format("        %.3d - Point-Wise @ %3d%% => ", 751 + i, 5 * i + 5)
                + Item(f.pointWise, i + 1));
        }
    }
    return page;
}

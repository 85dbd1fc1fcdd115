#include "meterqx/QuixalSheet.h"

#include "base/PrintfText.h"

namespace {
// Lines of one block: each but the last followed by a line step.
void Block(SheetPage &page, const QStringList &lines)
{
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            page.DownLines(1);
        page.Text(lines.at(i));
    }
}
} // namespace

QString QuixalSheet::OutputText(const QString &code)
{
    static const char *const texts[] = {
        "I-Out is Flow and V-Out is Flow",
        "I-Out is Flow and V-Out is Temp",
        "I-Out is Temp and V-Out is Flow",
        "I-Out is Temp and V-Out is Temp",
    };
    if (code.size() != 1 || code.at(0) < QLatin1Char('0') || code.at(0) > QLatin1Char('3'))
        return QString();
    return QString::fromLatin1(texts[code.at(0).unicode() - '0']);
}

QString QuixalSheet::PolarityText(const QString &code)
{
    if (code == QLatin1String("0"))
        return QStringLiteral("Low to High");
    if (code == QLatin1String("1"))
        return QStringLiteral("High to Low");
    return QString();
}

SheetPage QuixalSheet::Build(const Fields &f, const SheetMetrics &metrics)
{
    SheetPage page(metrics);
    page.SetFont(SheetFont::Title);
    page.Text(QStringLiteral("HALVREN - Quixal Series"));
    page.DownOneAndHalf();
    page.Text(QStringLiteral("SN# %1 Datasheet").arg(f.serial));
    page.DownOneAndHalf();

    page.Heading(QStringLiteral("Meter File Information"));
    page.Text(QStringLiteral("   ") + f.pathName);
    page.DownHalf();
    page.DownLines(2);

    page.Heading(QStringLiteral("General Settings"));
    Block(page,
        {
            QStringLiteral("   Firmware Release      => v%1 rev.%2")
                .arg(f.meterVersion, SheetPage::First(f.revision, 1)),
            QStringLiteral("   uP PCB Assembly       => ") + f.upPcba,
            QStringLiteral("   Date Format           => ") + f.date,
            QStringLiteral("   Time Format           => ") + f.time,
            QStringLiteral("   Password              => ") + f.password,
            QStringLiteral("   Calibration Due       => ") + f.calibrationDue,
            QStringLiteral("   Watchdog Timer        => ") + f.watchdog,
            QStringLiteral("   Modbus Address        => ") + f.modbusAddr,
        });
    page.DownLines(2);

    page.Heading(QStringLiteral("Output Settings"));
    Block(page,
        {
            QStringLiteral("   LCD Display Present   => ")
                + (f.noDisplay ? QStringLiteral("No") : QStringLiteral("Yes")),
            QStringLiteral("   Display Update Rate   => ") + f.displayRefresh,
            QStringLiteral("   DAC Update Rate       => ") + f.dacRefresh,
            QStringLiteral("   DAC Filter            => ") + f.dacFilter,
            QStringLiteral("   ADC Filter            => ") + f.adcFilter,
            QStringLiteral("   Output Voltage        => ")
                + (f.vout10 ? QStringLiteral("0-10VDC") : QStringLiteral("0-5VDC")),
            QStringLiteral("   Output Voltage is for => ") + OutputText(f.outputCode),
            QStringLiteral("   Frequency Polarity    => ") + PolarityText(f.polarityCode),
            QStringLiteral("   Frequency Pulse Width => %1uS").arg(f.pulseWidth),
            QStringLiteral("   Protocol On/Off       => ")
                + (f.protocolOn ? QStringLiteral("ON") : QStringLiteral("Off")),
        });
    page.DownLines(2);

    // Each line of this block moves down a line step as the blocks above do.
    page.Heading(QStringLiteral("Flow Configuration Settings"));
    Block(page,
        {
            QStringLiteral("   Engineering Units     => ") + SheetPage::First(f.unitsLine, 4),
            QStringLiteral("   Cross-Section         => ") + f.xSect,
            QStringLiteral("   Max Range             => ") + f.maxRange,
            QStringLiteral("   Full Scale            => ") + f.fullScale,
            QStringLiteral("   C-Factor              => ") + f.cFactor,
            QStringLiteral("   Zero Offset           => ") + f.zeroOffset,
            QStringLiteral("   Zero Cutoff %         => ") + f.zeroCutoff + QLatin1Char('%'),
        });
    page.DownHalf();
    page.DownLines(2);

    page.SetFont(SheetFont::Heading);
    page.Text(QStringLiteral("Curve Fit Settings"));
    page.SetFont(SheetFont::Body);
    page.DownHalf();
    for (int i = 0; i < 10; ++i) {
        page.DownLines(1);
        const QString item = i < f.coefficients.size() ? f.coefficients.at(i) : QString();
        page.Text(PrintfText::Format("   Coefficient %c         => ", 'A' + i)
            + SheetPage::Right(item, 10));
    }
    return page;
}

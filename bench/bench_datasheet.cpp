// Datasheet timings: building a ">= 4.1A" Kelvane page (sixty-one lines) from its fields, and
// drawing it into a PDF at the printer resolution, as Print and Export Datasheet as PDF do.
#include "base/SheetPrinter.h"
#include "base/SheetRenderer.h"
#include "meter/KelvaneSheet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPrinter>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

KelvaneSheet::Fields Fields()
{
    KelvaneSheet::Fields f;
    f.pathName = QStringLiteral("/home/tech/meters/271828_4.mtr");
    f.extended = true;
    f.meterVersion = QStringLiteral("4.1A");
    f.serial = QStringLiteral("271828");
    for (int i = 0; i < 4; ++i)
        f.alarmLine[size_t(i)] = QStringLiteral("High flow alarm    403");
    f.unitsLine = QStringLiteral("SCFM  Standard cubic feet per minute   101");
    for (int i = 0; i < 10; ++i) {
        f.primary.append(QStringLiteral("%1.00000000e+00").arg(i));
        f.secondary.append(QStringLiteral("%1.00000000e-01").arg(i));
    }
    for (int i = 0; i <= 20; ++i)
        f.pointWise.append(QStringLiteral("%1.50").arg(i));
    return f;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--runs")
            runs = std::max(1, QByteArray(argv[i + 1]).toInt());
    }
    const KelvaneSheet::Fields fields = Fields();
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    const SheetMetrics metrics = SheetRenderer::Measure(&probe);

    std::vector<double> build;
    for (int i = 0; i < runs * 50; ++i) {
        QElapsedTimer clock;
        clock.start();
        const SheetPage page = KelvaneSheet::Build(fields, metrics);
        build.push_back(clock.nsecsElapsed() / 1000.0);
        if (page.Lines().size() != 61)
            return 1;
    }

    QTemporaryDir dir;
    QWidget owner;
    SheetPrinter printer(
        &owner, [&fields](const SheetMetrics &m) { return KelvaneSheet::Build(fields, m); },
        [] { return QStringLiteral("271828_4"); }, {});
    std::vector<double> pdf;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        if (!printer.WritePdf(dir.filePath(QStringLiteral("sheet%1.pdf").arg(i))))
            return 1;
        pdf.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf(
        "page as data (61 lines): median %.1f us over %d builds\n", Median(build), runs * 50);
    std::printf("page into a PDF (measure, build, draw, write): median %.1f ms over %d runs\n",
        Median(pdf), runs);
    return 0;
}

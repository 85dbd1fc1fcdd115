// The graphs' drawing times: the E-LOG graph of a 100,000-row log opened and redrawn after a
// zoom, and the curve graphs' 4001-sample traces redrawn. Every figure is the median of --runs
// runs, painted offscreen at the dialog's default size.
#include "datalog/CElogGraph.h"
#include "graphs/CurveGraphDialog.h"
#include "graphs/GraphArea.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// A log with every option selected, as the datalogger lists its rows.
ElogPlot::Inputs BigLog(int rows, int interval)
{
    ElogPlot::Inputs in;
    in.entries.reserve(rows + 1);
    char row[200];
    for (int i = 1; i <= rows; ++i) {
        const double flow = 40 + 25 * std::sin(i * 0.01) + (i % 13) * 0.5;
        const int s = i * interval;
        std::snprintf(row, sizeof row,
            "; %d    ; 01/31/2007    ; %02d:%02d:%02d PM    ; %.2f      ; %.1f      ; 70.12    ; "
            "10.03    ; %s    ; %s    ",
            i, s / 3600 % 12 + 1, s / 60 % 60, s % 60, flow, i * 0.25, flow > 60 ? "RL1*" : "RL1.",
            flow < 20 ? "RL2*" : "RL2.");
        in.entries << QString::fromLatin1(row);
    }
    in.entries << QString();
    in.interval = interval;
    for (int c = 0; c < ElogPlot::ColumnCount; ++c)
        in.columns[size_t(c)] = c + 2;
    in.fullScale = 80;
    in.flowUnits = QStringLiteral("SCFM");
    in.startTime = QStringLiteral("01:00:00 PM");
    return in;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double TimeMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void Report(const char *what, const std::vector<double> &ms, double limit)
{
    const double median = Median(ms);
    std::printf("%-52s median %8.2f ms  (min %.2f, max %.2f, %zu runs; limit %.0f ms) %s\n", what,
        median, *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
        ms.size(), limit, median < limit ? "ok" : "OVER");
}

CurveSource Curves(int curveFit)
{
    CurveSource s;
    s.fullScale = QStringLiteral("80.000000");
    s.cFactor = QStringLiteral("1.050000");
    s.zeroOffset = QStringLiteral("0.020000");
    s.zeroCutoff = QStringLiteral("1.000000");
    for (int i = 0; i < 10; ++i) {
        s.primary << QString::number(i == 1 ? 1.0 : 0.001 / (i + 1), 'e', 8);
        s.secondary << QString::number(0.1 / (i + 1), 'e', 8);
    }
    for (int q = 0; q <= 20; ++q)
        s.pointWise << QString::number(q == 0 ? 0.0 : std::sin(q) * 2, 'f', 6);
    s.curveFit = curveFit;
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 7;
    int rows = 100000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--rows") == 0)
            rows = std::max(3, std::atoi(argv[i + 1]));
    }

    // 100,000 rows at 5 s: a span of about 139 hours, so the whole log is in the window.
    const ElogPlot::Inputs log = BigLog(rows, 5);
    std::vector<double> open, zoomIn, zoomOut, select;
    for (int r = 0; r < runs; ++r) {
        CElogGraph *dialog = nullptr;
        open.push_back(TimeMs([&] {
            dialog = new CElogGraph(log);
            dialog->show();
            dialog->grab(); // one complete paint of the dialog
        }));
        if (dialog->RowCount() != rows) {
            std::fprintf(stderr, "the graph holds %d rows of %d\n", dialog->RowCount(), rows);
            return 1;
        }
        auto *in = dialog->findChild<QPushButton *>(QStringLiteral("timeZoomIn"));
        auto *out = dialog->findChild<QPushButton *>(QStringLiteral("timeZoomOut"));
        zoomIn.push_back(TimeMs([&] {
            in->click();
            dialog->Area()->grab();
        }));
        zoomOut.push_back(TimeMs([&] {
            out->click();
            out->click();
            dialog->Area()->grab();
        }));
        select.push_back(TimeMs([&] {
            dialog->SelectRow(rows / 2 + r);
            dialog->Area()->grab();
        }));
        delete dialog;
    }
    std::printf("E-LOG graph, %d rows at 5 s: parts of opening\n", rows);
    {
        ElogPlot plot(log);
        std::vector<double> p1;
        for (int r = 0; r < runs; ++r)
            p1.push_back(TimeMs([&] { plot.DrawRequest(); }));
        Report("  of which: the plot as data (ElogPlot::DrawRequest)", p1, 100);
        GraphArea area;
        area.resize(800, 500);
        area.SetPicture(plot.DrawRequest());
        std::vector<double> p2;
        for (int r = 0; r < runs; ++r)
            p2.push_back(TimeMs([&] { area.grab(); }));
        Report("  of which: painting the plot (800 x 500)", p2, 100);
        std::vector<double> p3;
        for (int r = 0; r < runs; ++r)
            p3.push_back(TimeMs([&] { ElogPlot again(log); }));
        Report("  of which: reading the rows (ElogPlot)", p3, 100);
        std::vector<double> p4;
        for (int r = 0; r < runs; ++r)
            p4.push_back(TimeMs([&] {
                QListWidget list;
                list.setUniformItemSizes(true);
                list.addItems(log.entries);
                list.show();
                list.grab();
            }));
        Report("  of which: the row list filled and painted", p4, 100);
    }
    std::printf("E-LOG graph, %d rows at 5 s\n", rows);
    Report("open (rows, statistics, first plot, paint)", open, 100);
    Report("Zoom In, then plot and paint", zoomIn, 100);
    Report("Zoom Out twice, then plot and paint", zoomOut, 100);
    Report("row selected in the middle, plot and paint", select, 100);

    std::printf("Curve graphs, 4001-sample traces\n");
    struct Case
    {
        const char *what;
        std::function<CurveGraphDialog *()> make;
    };
    const Case cases[] = {
        { "sensor curve redraw",
            [] { return new CurveGraphDialog(CurveGraph::Kind::PolyCurve, Curves(1)); } },
        { "linear output, primary and secondary, redraw",
            [] { return new CurveGraphDialog(CurveGraph::Kind::PolyLine, Curves(2)); } },
        { "linear output, primary and point-wise, redraw",
            [] { return new CurveGraphDialog(CurveGraph::Kind::PolyLine, Curves(3)); } },
    };
    for (const Case &c : cases) {
        CurveGraphDialog *dialog = c.make();
        dialog->show();
        dialog->grab();
        std::vector<double> ms;
        for (int r = 0; r < runs; ++r) {
            ms.push_back(TimeMs([&] {
                dialog->Redraw();
                dialog->Area()->grab();
            }));
        }
        Report(c.what, ms, 20);
        delete dialog;
    }
    return 0;
}

// How long the Modbus window keeps the event loop from answering while it reads the simulated
// network (tarvik-metersim --modbus) at a real line speed: the longest gap between ticks of a
// 10 ms timer during one dynamic read of one meter, one static read, a sweep of eight meters,
// and a sweep of eight with one silent meter (polling through errors, so no message box). Beside
// them, the time of one waiting transaction against its wire floor.
//   QT_QPA_PLATFORM=offscreen build/bench/bench_stalls_modbus [--runs N]
#include "BenchRig.h"
#include "StallMeter.h"

#include "base/CPrefs.h"
#include "base/DialogueRunner.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusMaster.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using bench::Median;
using bench::RunUntil;

// The simulated Modbus network of eight meters at baud, with one silent address (or none).
QStringList Network(int baud, const QString &silent)
{
    QStringList arguments { QStringLiteral("--modbus"), QStringLiteral("--addr"),
        QStringLiteral("1,2,3,4,5,6,7,8"), QStringLiteral("--baud"), QString::number(baud) };
    if (!silent.isEmpty())
        arguments << QStringLiteral("--silent") << silent;
    return arguments;
}

// The Modbus port on the simulated network, as the window's settings give it.
bool OpenNetworkPort(mbCSerial &port, const QString &path, int baud)
{
    port.SetPortText(path);
    port.SetBaudText(QString::number(baud));
    port.SetParityText(QStringLiteral("1 8 EVEN 1"));
    return port.OpenPort() != 0;
}

// Runs one operation of the window until it is over, with a StallMeter beside it; gives the
// longest stall and the whole time, in ms.
struct Measured
{
    double stallMs;
    double totalMs;
};

Measured Measure(Modbus &view, const std::function<void()> &start)
{
    StallMeter meter;
    meter.Start();
    start();
    RunUntil([&view] { return !view.Busy() && !view.Polling(); }, 60000);
    meter.Stop();
    return { double(meter.MaxGapMs()), double(meter.ElapsedMs()) };
}

void SetPanels(Modbus &view, int count)
{
    for (int n = 1; n <= Modbus::kPanels; ++n) {
        view.OnAddressFocusIn(n);
        view.FieldEdit(n, Modbus::Address)->setText(n <= count ? QString::number(n) : "-");
        view.OnAddressFocusOut(n);
    }
}

void Report(const char *what, int baud, const std::vector<Measured> &runs)
{
    std::vector<double> stalls;
    std::vector<double> totals;
    for (const Measured &m : runs) {
        stalls.push_back(m.stallMs);
        totals.push_back(m.totalMs);
    }
    std::printf(
        "baud %6d  %-34s longest stall median %6.1f ms (max %6.1f)   whole %7.1f ms  n=%zu\n", baud,
        what, Median(stalls), *std::max_element(stalls.begin(), stalls.end()), Median(totals),
        runs.size());
}

int Run(int baud, int runs)
{
    int failures = 0;
    {
        bench::Simulator sim;
        if (!sim.Start(Network(baud, QString()), QProcess::ForwardedErrorChannel)) {
            std::fprintf(stderr, "cannot start the simulator\n");
            return 1;
        }
        mbCSerial port(sim.Path());
        if (!OpenNetworkPort(port, sim.Path(), baud))
            return 1;

        // One transaction as the window runs it, against its wire floor.
        ModbusMaster master(&port);
        std::vector<double> waiting;
        DialogueRunner runner;
        for (int i = 0; i < runs * 4; ++i) {
            QElapsedTimer clock;
            int ok = 0;
            QEventLoop loop;
            clock.start();
            runner.Start(
                [](ModbusMaster &m, DialogueRunner &r, int address, int &result) -> Task<void> {
                    result = co_await m.ReadDynamicAsync(r, QString::number(address));
                }(master, runner, 1 + i % 8, ok),
                [&loop] { loop.quit(); });
            if (runner.IsRunning())
                loop.exec();
            waiting.push_back(clock.nsecsElapsed() / 1e6);
            failures += ok ? 0 : 1;
        }
        const double wireMs = (8 + 17) * 11 * 1000.0 / baud;
        const double turnaroundMs = std::max(2.0, std::ceil(3.5 * 11 * 1000.0 / baud));
        std::printf("baud %6d  waiting ReadDynamicAsync median %6.2f ms   wire floor %6.2f ms   "
                    "over the floor %+5.2f ms\n",
            baud, Median(waiting), wireMs + turnaroundMs, Median(waiting) - wireMs - turnaroundMs);

        g_ModbusEnabled = 1;
        Modbus::SetPortProvider([&port] { return &port; });
        ModbusDoc doc;
        Modbus view(&doc);
        view.show();
        std::vector<Measured> one, statics, sweeps;
        for (int r = 0; r < runs; ++r) {
            SetPanels(view, 1);
            Modbus::SetSweepIndex(1);
            one.push_back(Measure(view, [&view] { view.OnDynamicButton(); }));
            statics.push_back(Measure(view, [&view] { view.OnStaticButton(); }));
            SetPanels(view, 8);
            Modbus::SetSweepIndex(1);
            sweeps.push_back(Measure(view, [&view] { view.OnDynamicButton(); }));
        }
        Report("one dynamic read of one meter", baud, one);
        Report("one static read of one meter", baud, statics);
        Report("sweep of 8 meters", baud, sweeps);
        Modbus::SetPortProvider({});
    }
    {
        bench::Simulator sim;
        if (!sim.Start(Network(baud, QStringLiteral("5")), QProcess::ForwardedErrorChannel))
            return 1;
        mbCSerial port(sim.Path());
        if (!OpenNetworkPort(port, sim.Path(), baud))
            return 1;
        Modbus::SetPortProvider([&port] { return &port; });
        ModbusDoc doc;
        Modbus view(&doc);
        view.show();
        view.OnKeepPollingClicked(true);
        SetPanels(view, 8);
        std::vector<Measured> silent;
        for (int r = 0; r < std::max(1, runs / 2); ++r) {
            Modbus::SetSweepIndex(1);
            silent.push_back(Measure(view, [&view] { view.OnDynamicButton(); }));
        }
        if (view.FailureCount(5) < 1)
            ++failures;
        Report("sweep of 8, meter 5 silent", baud, silent);
        view.OnKeepPollingClicked(false);
        Modbus::SetPortProvider({});
    }
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The preferences of this run stay out of the user's own.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication app(argc, argv);
    int runs = 7;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
    });
    int rc = 0;
    for (int baud : { 9600, 115200 })
        rc |= Run(baud, runs);
    return rc;
}

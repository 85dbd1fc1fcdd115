// Modbus timings against tarvik-metersim --modbus at a real line speed: one ReadDynamicAsync
// transaction beside its wire time plus the simulator's turnaround, and a full sweep of eight
// meters in the network window beside 8 x 80 ms.
//   build/bench/bench_modbus [--runs N]
#include "BenchRig.h"

#include "base/DialogueRunner.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/mbCSerial.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusDoc.h"
#include "modbus/ModbusMaster.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Run(int baud, int transactions, int sweeps)
{
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TARVIK_METERSIM),
        { QStringLiteral("--modbus"), QStringLiteral("--addr"), QStringLiteral("1,2,3,4,5,6,7,8"),
            QStringLiteral("--baud"), QString::number(baud) });
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    mbCSerial port(path);
    port.SetPortText(path);
    port.SetBaudText(QString::number(baud));
    port.SetParityText(QStringLiteral("1 8 EVEN 1"));
    if (!port.OpenPort()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }

    // One transaction: 8 request bytes + 17 reply bytes at 11 bits a byte (8E1), plus the
    // simulator's turnaround: it answers after 3.5 characters of silence (at least 2 ms).
    const double wireMs = (8 + 17) * 11 * 1000.0 / baud;
    const double turnaroundMs = std::max(2.0, std::ceil(3.5 * 11 * 1000.0 / baud));
    ModbusMaster master(&port);
    DialogueRunner runner;
    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < transactions; ++i) {
        int ok = 0;
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();
        runner.Start(
            [](ModbusMaster &m, DialogueRunner &r, int address, int &result) -> Task<void> {
                result = co_await m.ReadDynamicAsync(r, QString::number(address));
            }(master, runner, 1 + i % 8, ok),
            [&loop] { loop.quit(); });
        if (runner.IsRunning())
            loop.exec();
        times.push_back(clock.nsecsElapsed() / 1e6);
        failures += ok ? 0 : 1;
    }
    const double median = Median(times);
    std::printf(
        "baud %6d  ReadDynamicAsync median %7.2f ms  (min %6.2f, max %6.2f, n=%d, failed %d)\n",
        baud, median, *std::min_element(times.begin(), times.end()),
        *std::max_element(times.begin(), times.end()), transactions, failures);
    std::printf("            wire %6.2f ms + turnaround %4.1f ms = %6.2f ms   ratio %.2f\n", wireMs,
        turnaroundMs, wireMs + turnaroundMs, median / (wireMs + turnaroundMs));

    // A full sweep of eight meters in the window, paced by its poller.
    g_ModbusEnabled = 1;
    Modbus::SetPortProvider([&port] { return &port; });
    ModbusDoc doc;
    Modbus view(&doc);
    view.show();
    for (int n = 2; n <= 8; ++n) {
        view.OnAddressFocusIn(n);
        view.FieldEdit(n, Modbus::Address)->setText(QString::number(n));
        view.OnAddressFocusOut(n);
    }
    std::vector<double> sweepTimes;
    for (int s = 0; s < sweeps; ++s) {
        Modbus::SetSweepIndex(1);
        QElapsedTimer clock;
        clock.start();
        view.OnDynamicButton();
        // The event loop runs as the program's does: a test's wait sleeps 10 ms between its
        // turns, which would delay each step of the sweep.
        const bool done = bench::RunUntil([&view] { return !view.Polling(); }, 10000);
        sweepTimes.push_back(clock.nsecsElapsed() / 1e6);
        if (!done)
            ++failures;
    }
    const double sweep = Median(sweepTimes);
    std::printf("            sweep of 8 meters median %7.1f ms  (n=%d)   8 x 80 ms = 640 ms   "
                "ratio %.2f\n",
        sweep, sweeps, sweep / 640.0);
    Modbus::SetPortProvider({});
    sim.terminate();
    sim.waitForFinished(3000);
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
    });
    // --runs N: N sweeps and 8 x N transactions at each speed (default 7 sweeps, 60 transactions).
    int sweeps = 7;
    int transactions = 60;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            sweeps = std::max(1, std::atoi(argv[i + 1]));
            transactions = 8 * sweeps;
        }
    }
    int rc = 0;
    for (int baud : { 9600, 115200 })
        rc |= Run(baud, transactions, sweeps);
    return rc;
}

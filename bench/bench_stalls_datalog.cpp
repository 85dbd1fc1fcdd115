// How long the datalogger window cannot respond while its operations run: each operation is
// started from its button in a datalogger window on the real meter link (real pacing and
// time-outs) to tarvik-metersim at 9600 baud, and a 10 ms timer in the same event loop measures
// the longest gap between its ticks (StallMeter). Prints, per operation, the median of the
// longest stall and of the whole operation's time over the runs.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_stalls_datalog [--runs N] [--only NAME]
//       [--bytes N]
//
// NAME: update, update-silent, start-pc, stop-pc, start-meter, stop-meter, send-config,
// read-config, transfer, close-settings (the window closed mid-transfer, then Settings applied),
// load. A silent meter's UPDATE runs all its waits out (about 87 s). --bytes: the size of the
// stored log that transfer and close-settings read (default 32,000; a short run takes less).
#include "BenchRig.h"
#include "StallMeter.h"

#include "app/CommSettings.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "datalog/DatalogCore.h"
#include "link/CSerial.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kBaud = 9600;

using bench::Median;
using bench::Wait;

struct Figures
{
    std::vector<double> stallMs;
    std::vector<double> totalMs;
};

// One datalogger window on the simulator's port, with the real link timing.
struct Rig
{
    explicit Rig(const QStringList &args)
        : sim(args + bench::MeterOptions(kBaud))
    {
        if (sim.Path().isEmpty())
            return;
        link = std::make_unique<CSerial>(sim.Path());
        link->SetPortText(sim.Path());
        link->SetBaudText(QString::number(kBaud));
        if (!link->OpenPort())
            return;
        view = std::make_unique<Datalog>(nullptr, link.get());
        view->resize(815, 655);
        view->show();
        view->OnInitialUpdate();
        view->Core().fields.fileName = dir.filePath(QStringLiteral("bench.log"));
        view->FieldsChanged();
        Wait(300);
    }
    bool Ready() const { return view != nullptr; }
    DatalogCore &Core() { return view->Core(); }
    // Presses b and runs the event loop until the operation has ended.
    void Measure(Datalog::Button b, Figures &figures)
    {
        StallMeter meter;
        QElapsedTimer clock;
        meter.Start();
        clock.start();
        view->ButtonOf(b)->click();
        while (Core().IsBusy())
            Wait(5);
        const double total = double(clock.nsecsElapsed()) / 1e6;
        meter.Stop();
        figures.stallMs.push_back(double(meter.MaxGapMs()));
        figures.totalMs.push_back(total);
    }

    QTemporaryDir dir;
    bench::Simulator sim;
    std::unique_ptr<CSerial> link;
    std::unique_ptr<Datalog> view;
};

void Print(const char *name, const Figures &f, const char *note = "")
{
    std::printf("%-14s longest stall %7.1f ms   whole operation %9.1f ms   (%zu runs)%s\n", name,
        Median(f.stallMs), Median(f.totalMs), f.stallMs.size(), note);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int runs = 3;
    QByteArray only;
    int logBytes = 32000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray opt = argv[i];
        if (opt == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--only")
            only = argv[i + 1];
        else if (opt == "--bytes")
            logBytes = std::max(4000, std::atoi(argv[i + 1]));
    }
    bench::BenchHome home(false);
    QApplication app(argc, argv);
    int messages = 0;
    UserMessage::SetHandler([&messages](const QString &text, const QString &caption) {
        ++messages;
        std::fprintf(stderr, "[message %s] %s\n", qPrintable(caption.trimmed()), qPrintable(text));
    });
    const auto wanted = [&only](const char *name) { return only.isEmpty() || only == name; };
    const auto failed = [](const char *what) {
        std::fprintf(stderr, "%s\n", what);
        return 1;
    };

    if (wanted("update") || wanted("start-pc") || wanted("stop-pc") || wanted("start-meter")
        || wanted("stop-meter") || wanted("send-config") || wanted("read-config")) {
        Figures update, startPc, stopPc, startMeter, stopMeter, sendConfig, readConfig;
        for (int i = 0; i < runs; ++i) {
            Rig rig({});
            if (!rig.Ready())
                return failed("the simulator did not start");
            DatalogCore &core = rig.Core();
            if (wanted("update"))
                rig.Measure(Datalog::Update, update);
            // START (PC) with the meter not yet identified: its check is a whole UPDATE.
            core.state.meterParametersRead = false;
            if (wanted("start-pc") || wanted("stop-pc")) {
                rig.Measure(Datalog::StartPc, startPc);
                if (!core.state.loggingActive)
                    return failed("PC logging did not start");
                Wait(1500);
                rig.Measure(Datalog::StopPc, stopPc);
                while (!core.IsIdle())
                    Wait(10);
            }
            core.state.meterParametersRead = true;
            if (wanted("send-config"))
                rig.Measure(Datalog::SendConfig, sendConfig);
            if (wanted("read-config"))
                rig.Measure(Datalog::ReadConfig, readConfig);
            if (wanted("start-meter") || wanted("stop-meter")) {
                rig.Measure(Datalog::StartMeter, startMeter);
                rig.Measure(Datalog::StopMeter, stopMeter);
            }
        }
        if (wanted("update"))
            Print("update", update);
        if (wanted("start-pc") || wanted("stop-pc")) {
            Print("start-pc", startPc, "  (meter identified first)");
            Print("stop-pc", stopPc);
        }
        if (wanted("send-config"))
            Print("send-config", sendConfig);
        if (wanted("read-config"))
            Print("read-config", readConfig);
        if (wanted("start-meter") || wanted("stop-meter")) {
            Print("start-meter", startMeter);
            Print("stop-meter", stopMeter);
        }
    }

    if (wanted("transfer")) {
        QTemporaryDir dir;
        const QString path = bench::WriteFile(
            dir.filePath(QStringLiteral("stored.bin")), bench::StoredMeterLog(logBytes));
        Figures transfer;
        for (int i = 0; i < runs; ++i) {
            Rig rig({ QStringLiteral("--log"), path });
            if (!rig.Ready())
                return failed("the simulator did not start");
            rig.Measure(Datalog::TransferLog, transfer);
            if (rig.Core().log.snapshotList.isEmpty())
                return failed("nothing was transferred");
        }
        Print("transfer", transfer, qPrintable(QStringLiteral("  (%1 bytes)").arg(logBytes)));
    }

    if (wanted("close-settings")) {
        // The window closed half way through a transfer, then Settings applied to the port: the
        // meter is sent back to run mode (its drain cut short) before the port is set up anew.
        // The whole operation lasts until the port is open again and no command is left to send.
        QTemporaryDir dir;
        const QString path = bench::WriteFile(
            dir.filePath(QStringLiteral("stored.bin")), bench::StoredMeterLog(logBytes));
        Figures closeSettings;
        for (int i = 0; i < runs; ++i) {
            Rig rig({ QStringLiteral("--log"), path });
            if (!rig.Ready())
                return failed("the simulator did not start");
            rig.view->ButtonOf(Datalog::TransferLog)->click();
            Wait(1500);
            if (!rig.Core().IsBusy())
                return failed("the transfer was not under way");
            StallMeter meter;
            QElapsedTimer clock;
            meter.Start();
            clock.start();
            rig.view.reset();
            CommSettings::ApplyTerminalPort(*rig.link, rig.sim.Path(), QString::number(kBaud));
            while (rig.link->DetachedRunning() || !rig.link->IsOpen()) {
                if (clock.elapsed() > 10000)
                    return failed("the port was not set up anew");
                Wait(1);
            }
            closeSettings.totalMs.push_back(double(clock.nsecsElapsed()) / 1e6);
            meter.Stop();
            closeSettings.stallMs.push_back(double(meter.MaxGapMs()));
        }
        Print("close-settings", closeSettings, "  (window closed mid-transfer, then Settings)");
    }

    if (wanted("load")) {
        QTemporaryDir dir;
        const QString path
            = bench::WriteFile(dir.filePath(QStringLiteral("big.log")), bench::PcLog(100000));
        Rig rig({});
        if (!rig.Ready())
            return failed("the simulator did not start");
        rig.Core().fields.fileName = path;
        rig.view->FieldsChanged();
        Figures load;
        for (int i = 0; i < runs; ++i) {
            rig.view->ButtonOf(Datalog::Clear)->click();
            Wait(50);
            // The stall includes painting the filled lists.
            StallMeter meter;
            QElapsedTimer clock;
            meter.Start();
            clock.start();
            rig.view->ButtonOf(Datalog::Load)->click();
            while (rig.Core().IsBusy())
                Wait(1);
            const double whole = double(clock.nsecsElapsed()) / 1e6;
            Wait(100); // and the painting of the filled lists
            meter.Stop();
            load.stallMs.push_back(double(meter.MaxGapMs()));
            load.totalMs.push_back(whole);
            if (rig.Core().log.snapshotList.size() != 100000)
                return failed("the log did not load");
        }
        Print("load", load, "  (100,000 rows)");
    }

    if (wanted("update-silent")) {
        Figures silent;
        for (int i = 0; i < runs; ++i) {
            Rig rig({ QStringLiteral("--silent") });
            if (!rig.Ready())
                return failed("the simulator did not start");
            rig.Measure(Datalog::Update, silent);
        }
        Print("update-silent", silent);
    }
    std::printf("messages shown: %d\n", messages);
    return 0;
}

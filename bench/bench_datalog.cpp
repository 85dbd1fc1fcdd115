// The datalogger's costs, each measured as a user meets it.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_datalog idle [--seconds N]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_datalog logging [--seconds N]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_datalog load [--rows N] [--runs N]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_datalog transfer [--bytes N] [--baud N] [--runs N]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_datalog stream [--seconds N] [--baud N]
//
// idle: CPU share of the program with a datalogger window open (clock tick running) and not
//   logging, meter link on the simulator.
// logging: the same while PC logging at a 1 s interval from the simulator's stream.
//   Both also measure, first, an empty window woken by one 10 ms timer: the floor that the
//   clock tick's period sets on this machine, whatever the tick does.
// load: LOAD of a PC log file of N rows (default 100,000): time until the lists are filled (the
//   sliced load has ended) and the window has been painted; fails unless every row was loaded.
// transfer: "Read and Save Flow Meter Log" of a stored log of N bytes (default 60,000) at the
//   given baud, next to the time the bytes need on the wire.
// stream: the reading-line receiver against the simulator streaming as fast as its interval
//   allows at the given baud: lines taken per second and lines that came out malformed.
#include "BenchRig.h"

#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "datalog/Datalog.h"
#include "datalog/DatalogCore.h"
#include "datalog/IDatalogSink.h"
#include "datalog/PcLogger.h"
#include "datalog/ReadingLine.h"
#include "link/CSerial.h"

#include <QApplication>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

using bench::Median;
using bench::Wait;

std::unique_ptr<CSerial> OpenLink(const QString &path, int baud)
{
    auto link = std::make_unique<CSerial>(path);
    link->SetBaudText(QString::number(baud));
    if (!link->OpenPort())
        return nullptr;
    return link;
}

// CPU share of this process over seconds of event loop.
double CpuShare(int seconds)
{
    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpu = std::clock();
    Wait(seconds * 1000);
    return double(std::clock() - cpu) / CLOCKS_PER_SEC / (double(wall.elapsed()) / 1000.0);
}

// An empty window woken as often as the datalogger's clock wakes its window.
class EmptyTicker : public QWidget
{
public:
    EmptyTicker() { m_timer.start(PcLogger::kClockRefreshMs, this); }

protected:
    void timerEvent(QTimerEvent *) override { ++ticks; }

private:
    QBasicTimer m_timer;

public:
    int ticks = 0;
};

int RunCpu(bool logging, int seconds)
{
    {
        EmptyTicker empty;
        empty.show();
        Wait(500);
        std::printf("floor: an empty window with one %d ms timer: %.2f %% of one core over %d s\n",
            PcLogger::kClockRefreshMs, 100.0 * CpuShare(seconds), seconds);
    }
    bench::Simulator sim(bench::MeterOptions(0));
    const QString pty = sim.Path();
    auto link = pty.isEmpty() ? nullptr : OpenLink(pty, 9600);
    if (!link) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    Datalog view(nullptr, link.get());
    view.resize(815, 655);
    view.show();
    view.OnInitialUpdate();
    if (logging) {
        DatalogFields &f = view.Core().fields;
        f.sec = QStringLiteral("1");
        f.fileName = dir.filePath(QStringLiteral("bench.log"));
        view.FieldsChanged();
        view.ButtonOf(Datalog::StartPc)->click();
        while (view.Core().IsBusy())
            Wait(5);
        if (!view.Core().state.loggingActive) {
            std::fprintf(stderr, "logging did not start\n");
            return 1;
        }
    }
    Wait(1000);
    const double share = CpuShare(seconds);
    std::printf("%s: %.2f %% of one core over %d s (%lld rows)\n",
        logging ? "logging at 1 s" : "idle", 100.0 * share, seconds,
        qint64(view.Core().log.snapshotList.size()));
    view.ButtonOf(Datalog::StopPc)->click();
    return 0;
}

int RunLoad(int rows, int runs)
{
    QTemporaryDir dir;
    const QString path
        = bench::WriteFile(dir.filePath(QStringLiteral("big.log")), bench::PcLog(rows));
    if (path.isEmpty())
        return 1;
    Datalog view(nullptr, nullptr);
    view.resize(815, 655);
    view.show();
    view.OnInitialUpdate();
    view.Core().fields.fileName = path;
    view.FieldsChanged();
    QCoreApplication::processEvents();
    std::vector<double> loadMs, shownMs;
    for (int i = 0; i < runs; ++i) {
        view.ButtonOf(Datalog::Clear)->click();
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        view.ButtonOf(Datalog::Load)->click();
        // LOAD reads the file in slices on the window's dialogue runner: the lists are filled
        // when that dialogue has ended (checked every 2 ms).
        if (!bench::RunUntil([&] { return !view.Core().IsBusy(); })) {
            std::fprintf(stderr, "the load of %d rows did not end\n", rows);
            return 1;
        }
        loadMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        view.ListViewOf(LogData::Snapshot)->repaint();
        QCoreApplication::processEvents();
        shownMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (view.Core().log.snapshotList.size() != rows) {
            std::fprintf(stderr, "loaded %lld rows of %d\n",
                qint64(view.Core().log.snapshotList.size()), rows);
            return 1;
        }
    }
    std::printf(
        "load of %d rows: median %.1f ms to filled lists, %.1f ms to painted window (%d runs)\n",
        rows, Median(loadMs), Median(shownMs), runs);
    return 0;
}

class StatusClock : public IDatalogSink
{
public:
    void StatusChanged(const QString &status, const QString &) override
    {
        if (status == QLatin1String("Data Transfer in Progress"))
            dataStart.start();
        if (status == QLatin1String("Transfer Completed"))
            dataMs = double(dataStart.nsecsElapsed()) / 1e6;
    }
    QElapsedTimer dataStart;
    double dataMs = 0;
};

int RunTransfer(int bytes, int baud, int runs)
{
    QTemporaryDir dir;
    const QString logPath = bench::WriteFile(
        dir.filePath(QStringLiteral("stored.bin")), bench::StoredMeterLog(bytes));
    if (logPath.isEmpty())
        return 1;
    std::vector<double> totalMs, dataMs;
    for (int i = 0; i < runs; ++i) {
        bench::Simulator sim(
            QStringList { QStringLiteral("--log"), logPath } + bench::MeterOptions(baud));
        const QString pty = sim.Path();
        auto link = pty.isEmpty() ? nullptr : OpenLink(pty, baud);
        if (!link) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        StatusClock sink;
        DatalogCore core;
        core.SetSink(&sink);
        core.SetLink(link.get());
        core.OnFirstShown();
        core.fields.fileName = dir.filePath(QStringLiteral("meter.log"));
        QElapsedTimer clock;
        clock.start();
        core.TransferMeterLog();
        while (core.IsBusy())
            Wait(5);
        totalMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        dataMs.push_back(sink.dataMs);
        if (core.log.snapshotList.isEmpty()) {
            std::fprintf(stderr, "nothing was transferred\n");
            return 1;
        }
    }
    const double wireMs = bytes * 10.0 * 1000.0 / baud;
    std::printf(
        "transfer of %d bytes at %d baud: median %.0f ms in all, %.0f ms from \"953\" to the last "
        "byte; wire time %.0f ms (%d runs)\n",
        bytes, baud, Median(totalMs), Median(dataMs), wireMs, runs);
    return 0;
}

// Counts the reading lines the receiver completes and checks each one's shape.
class LineCounter : public IDatalogSink
{
public:
    explicit LineCounter(DatalogCore &core)
        : m_core(core)
    {
    }
    void StatusChanged(const QString &, const QString &) override { }
    void FieldsChanged() override
    {
        const ReadingLine r = ReadingLine::Parse(m_core.state.lastReadingLine);
        bool flowOk = false, totalOk = false;
        r.flowValue.trimmed().toDouble(&flowOk);
        r.totalValue.trimmed().toDouble(&totalOk);
        const bool ok = flowOk && totalOk && r.flowDisplay.endsWith(QLatin1String("SCFM"))
            && r.totalDisplay.endsWith(QLatin1String("SCF"))
            && r.relay1.startsWith(QLatin1String("RL1"))
            && r.relay2.startsWith(QLatin1String("RL2"));
        ++lines;
        bytes += m_core.state.lastReadingLine.size() + 3; // and 0x1C, CR, LF
        if (!ok)
            ++malformed;
    }
    int lines = 0;
    int malformed = 0;
    qint64 bytes = 0;

private:
    DatalogCore &m_core;
};

int RunStream(int seconds, int baud)
{
    bench::Simulator sim(QStringList { QStringLiteral("--interval"), QStringLiteral("50") }
        + bench::MeterOptions(baud));
    const QString pty = sim.Path();
    auto link = pty.isEmpty() ? nullptr : OpenLink(pty, baud);
    if (!link) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    DatalogCore core;
    LineCounter counter(core);
    core.SetSink(&counter);
    core.SetLink(link.get());
    core.OnFirstShown();
    core.state.meterParametersRead = true;
    core.fields.fileName = dir.filePath(QStringLiteral("stream.log"));
    core.Pc().StartPcLogging();
    counter.lines = counter.malformed = 0;
    counter.bytes = 0;
    // The line reader waits for the meter's bytes on its own runner, as in the form.
    const std::clock_t cpu = std::clock();
    QElapsedTimer wall;
    wall.start();
    Wait(seconds * 1000);
    const double share
        = double(std::clock() - cpu) / CLOCKS_PER_SEC / (double(wall.elapsed()) / 1000.0);
    core.Pc().StopPcLogging();
    // The simulator writes a line at the line's speed, then the next one when its 50 ms
    // interval has passed since it began the last: one line per max(wire time, 50 ms).
    const double lineBytes = counter.lines ? double(counter.bytes) / counter.lines : 0.0;
    const double lineMs = std::max(lineBytes * 10.0 * 1000.0 / baud, 50.0);
    std::printf(
        "stream at %d baud for %d s: %d lines (%.1f/s; the simulator sends %.1f/s of %.0f-byte "
        "lines), %d malformed, %.2f %% of one core\n",
        baud, seconds, counter.lines, counter.lines / double(seconds), 1000.0 / lineMs, lineBytes,
        counter.malformed, 100.0 * share);
    return counter.malformed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray what = argc > 1 ? QByteArray(argv[1]) : QByteArray("load");
    int seconds = 10, rows = 100000, runs = 5, bytes = 60000, baud = 9600;
    for (int i = 2; i + 1 < argc; i += 2) {
        const QByteArray opt = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (opt == "--seconds")
            seconds = std::max(1, value);
        else if (opt == "--rows")
            rows = std::max(1, value);
        else if (opt == "--runs")
            runs = std::max(1, value);
        else if (opt == "--bytes")
            bytes = std::clamp(value, 200, 65535);
        else if (opt == "--baud")
            baud = std::max(300, value);
    }
    bench::BenchHome home(false);
    QApplication app(argc, argv);
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[message %s] %s\n", qPrintable(caption.trimmed()), qPrintable(text));
    });
    if (what == "idle")
        return RunCpu(false, seconds);
    if (what == "logging")
        return RunCpu(true, seconds);
    if (what == "load")
        return RunLoad(rows, runs);
    if (what == "transfer")
        return RunTransfer(bytes, baud, runs);
    if (what == "stream")
        return RunStream(seconds, baud);
    std::fprintf(stderr, "usage: bench_datalog idle|logging|load|transfer|stream [options]\n");
    return 2;
}

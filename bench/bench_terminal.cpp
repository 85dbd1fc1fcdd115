// A meter that streams continuously into one terminal window. Two sources:
//  - metersim (default): tarvik-metersim paced at the line rate (--baud), asked to redraw its
//    main screen faster than the line can carry it, so its output never pauses; every screen
//    starts with escape and clears the window, so each one is a full repaint.
//  - pty: a child process of this program plays a meter in run mode on a pseudo-terminal,
//    writing reading lines paced at the line rate; the screen scrolls on every line.
// In both the window takes what arrives as it arrives (its reception waits for readable input)
// and runs its own 40 ms timer, with the real meter link, painted offscreen. The tick figures are
// the timer's alone; bytes taken within a tick are those a tick took itself (none since the
// reception left the tick).
#include "link/CSerial.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"
#include "terminal/TermScreen.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The meter's reading stream: flow, total, high and low limits, two relay tokens, CR LF.
QByteArray MeterStream(qint64 size)
{
    QByteArray stream;
    stream.reserve(size + 128);
    for (int n = 0; stream.size() < size; ++n) {
        char line[96];
        std::snprintf(line, sizeof line, "%9.3f SLPM %12.1f SL  H %7.2f  L %7.2f  R1%s R2%s\r\n",
            12.0 + (n % 997) * 0.013, 1000.0 + n * 0.2, 95.0, 5.0, (n % 7) ? "" : "*",
            (n % 11) ? "" : "*");
        stream += line;
    }
    stream.truncate(size);
    return stream;
}

double Seconds(const timespec &t)
{
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The meter: waits for the go byte on goFd, then writes stream at bytesPerSecond, in small
// chunks as their time comes, and exits.
[[noreturn]] void RunMeter(int master, int goFd, const QByteArray &stream, double bytesPerSecond)
{
    char go = 0;
    if (read(goFd, &go, 1) != 1)
        _exit(2);
    timespec start {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    qint64 sent = 0;
    while (sent < stream.size()) {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 due = std::min<qint64>(
            stream.size(), qint64((Seconds(now) - Seconds(start)) * bytesPerSecond));
        while (sent < due) {
            const ssize_t n = write(master, stream.constData() + sent, size_t(due - sent));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                _exit(3);
            sent += n;
        }
        const timespec pause { 0, 2'000'000 };
        nanosleep(&pause, nullptr);
    }
    _exit(0);
}

// The terminal view with its timer and paint handlers timed.
class TimedTermView : public CTermView
{
public:
    using CTermView::CTermView;
    std::vector<double> tickMs;
    std::vector<double> paintMs;
    std::vector<int> tickBytes;

protected:
    void timerEvent(QTimerEvent *event) override
    {
        QElapsedTimer clock;
        clock.start();
        const qint64 before = BytesReceived();
        CTermView::timerEvent(event);
        tickMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        tickBytes.push_back(int(BytesReceived() - before));
    }
    void paintEvent(QPaintEvent *event) override
    {
        QElapsedTimer clock;
        clock.start();
        CTermView::paintEvent(event);
        paintMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
};

struct Summary
{
    double mean = 0;
    double p99 = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / double(values.size());
    s.p99 = values[std::min(values.size() - 1, size_t(double(values.size()) * 0.99))];
    s.max = values.back();
    return s;
}

struct Result
{
    qint64 offered = 0; // bytes the meter sent (pty) or a whole number of screens (metersim)
    qint64 received = 0; // bytes the window took from the link
    double seconds = 0; // wall time of the streaming
    double cpu = 0; // CPU time of this process meanwhile
    bool complete = false;
    QString check; // what was verified about the bytes
    std::vector<double> tickMs;
    std::vector<double> paintMs;
    std::vector<int> tickBytes;
    bool rowsAtOnce = false;
};

void TakeFigures(Result &result, TimedTermView *view)
{
    result.tickMs = view->tickMs;
    result.paintMs = view->paintMs;
    result.tickBytes = view->tickBytes;
    result.rowsAtOnce = view->DrawsRowsAtOnce();
    view->hide();
    delete view;
}

// Runs the event loop until done() or timeoutMs, looking every 10 ms (the loop sleeps between,
// so the CPU share measured is the window's, not this bench's).
void RunUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start(10);
    if (!done())
        loop.exec();
}

// Waits until the view has taken nothing new for quietMs.
void RunUntilQuiet(const TimedTermView &view, int quietMs, int timeoutMs)
{
    qint64 last = view.BytesReceived();
    QElapsedTimer quiet;
    quiet.start();
    RunUntil(
        [&] {
            if (view.BytesReceived() != last) {
                last = view.BytesReceived();
                quiet.restart();
            }
            return quiet.elapsed() >= quietMs;
        },
        timeoutMs);
}

Result RunPty(CTermDoc &doc, double seconds, int baud)
{
    Result result;
    const double bytesPerSecond = baud / 10.0; // 8N1: ten bits on the line per character
    const QByteArray stream = MeterStream(qint64(bytesPerSecond * seconds));
    result.offered = stream.size();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return result;
    }
    const QString slavePath = QString::fromLocal8Bit(ptsname(master));
    // Raw before the link opens it, so nothing is echoed back to the meter meanwhile.
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios settings {};
        if (tcgetattr(slave, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(slave, TCSANOW, &settings);
        }
        close(slave);
    }
    int goPipe[2];
    if (pipe(goPipe) != 0)
        return result;
    const pid_t meter = fork();
    if (meter == 0) {
        close(goPipe[1]);
        RunMeter(master, goPipe[0], stream, bytesPerSecond);
    }
    close(goPipe[0]);

    CSerial link(slavePath);
    link.SetPortText(slavePath);
    link.SetBaudText(QString::number(baud));
    if (!link.OpenPort()) {
        std::fprintf(
            stderr, "cannot open %s: %s\n", qPrintable(slavePath), qPrintable(link.LastError()));
        kill(meter, SIGTERM);
        waitpid(meter, nullptr, 0);
        return result;
    }
    auto *view = new TimedTermView(&doc, &link);
    view->resize(view->sizeHint());
    view->show();
    view->OnInitialUpdate();

    QElapsedTimer wall;
    wall.start();
    const double cpuStart = CpuSeconds();
    const char go = 1;
    if (write(goPipe[1], &go, 1) != 1)
        std::perror("go");
    bool meterDone = false;
    RunUntil(
        [&] {
            if (!meterDone) {
                int status = 0;
                meterDone = waitpid(meter, &status, WNOHANG) == meter;
            }
            return meterDone && view->BytesReceived() >= stream.size();
        },
        int(seconds * 1000) + 5000);
    result.seconds = double(wall.nsecsElapsed()) / 1e9;
    result.cpu = CpuSeconds() - cpuStart;
    if (!meterDone) {
        kill(meter, SIGTERM);
        waitpid(meter, nullptr, 0);
    }
    result.received = view->BytesReceived();

    // The same bytes through a screen of their own: equal screens mean nothing was lost,
    // doubled or reordered on the way (the stream has no escape, so tick boundaries do not
    // matter).
    TermScreen expected;
    expected.FeedTick(stream);
    const bool same = expected.Text() == doc.Screen().Text();
    result.complete = result.received == stream.size() && same;
    result.check = QStringLiteral("all %1 bytes %2, final screen %3")
                       .arg(stream.size())
                       .arg(result.received == stream.size() ? "received" : "NOT received")
                       .arg(same ? "equals the stream's" : "DIFFERS from the stream's");
    TakeFigures(result, view);
    close(goPipe[1]);
    close(master);
    return result;
}

Result RunMeterSim(CTermDoc &doc, double seconds, int baud)
{
    Result result;
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TARVIK_METERSIM),
        { QStringLiteral("--baud"), QString::number(baud), QStringLiteral("--quiet"),
            QStringLiteral("0"), QStringLiteral("--model"), QStringLiteral("500") });
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start %s\n", TARVIK_METERSIM);
        return result;
    }
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    CSerial link(path);
    link.SetPortText(path);
    link.SetBaudText(QString::number(baud));
    if (!link.OpenPort()) {
        std::fprintf(
            stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(link.LastError()));
        return result;
    }
    auto *view = new TimedTermView(&doc, &link);
    view->resize(view->sizeHint());
    view->show();
    view->OnInitialUpdate();

    // The first key stops the run-mode reading lines; the second screen on its own gives the
    // size and look every later one must repeat.
    link.WriteByte('[');
    RunUntil([&] { return doc.Screen().Text().contains("SELECT: "); }, 5000);
    RunUntilQuiet(*view, 300, 5000);
    const qint64 before = view->BytesReceived();
    link.WriteByte('[');
    RunUntil([&] { return view->BytesReceived() > before; }, 5000);
    RunUntilQuiet(*view, 300, 5000);
    const qint64 screenSize = view->BytesReceived() - before;
    const QByteArray screenText = doc.Screen().Text();
    view->tickMs.clear();
    view->paintMs.clear();
    view->tickBytes.clear();

    // Keys faster than the screens can go out: the meter's output never pauses.
    QTimer keys;
    QObject::connect(&keys, &QTimer::timeout, [&] { link.WriteByte('['); });
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = CpuSeconds();
    keys.start(10);
    RunUntil([] { return false; }, int(seconds * 1000));
    keys.stop();
    RunUntilQuiet(*view, 500, 10000);
    result.seconds = double(wall.nsecsElapsed()) / 1e9 - 0.5; // less the quiet wait
    result.cpu = CpuSeconds() - cpuStart;
    result.received = view->BytesReceived() - before - screenSize;
    result.offered = screenSize > 0 ? (result.received / screenSize) * screenSize : 0;
    const bool whole = screenSize > 0 && result.received % screenSize == 0;
    const bool same = doc.Screen().Text() == screenText;
    result.complete = whole && same && result.received > 0;
    result.check = QStringLiteral("%1 screens of %2 bytes%3, last screen %4")
                       .arg(screenSize > 0 ? result.received / screenSize : 0)
                       .arg(screenSize)
                       .arg(whole ? "" : " and a broken one (bytes LOST)")
                       .arg(same ? "equals the first" : "DIFFERS from the first");
    TakeFigures(result, view);
    sim.terminate();
    sim.waitForFinished(3000);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 10;
    int baud = 115200;
    QByteArray source = "metersim";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--baud") == 0)
            baud = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--source") == 0)
            source = argv[++i];
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        static QByteArray runtime = QDir::tempPath().toLocal8Bit() + "/tarvik-bench-XXXXXX";
        if (mkdtemp(runtime.data()))
            qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QApplication app(argc, argv);
    CTermDoc doc;
    const Result r = source == "pty" ? RunPty(doc, seconds, baud) : RunMeterSim(doc, seconds, baud);

    const Summary ticks = Summarise(r.tickMs);
    const Summary paints = Summarise(r.paintMs);
    const int maxTickBytes
        = r.tickBytes.empty() ? 0 : *std::max_element(r.tickBytes.begin(), r.tickBytes.end());
    std::printf("source: %s at %d baud (%.0f bytes/s on the line), %.1f s\n", source.constData(),
        baud, baud / 10.0, seconds);
    std::printf("drained: %lld bytes in %.2f s = %.0f bytes/s; %s\n",
        static_cast<long long>(r.received), r.seconds,
        r.seconds > 0 ? double(r.received) / r.seconds : 0.0, qPrintable(r.check));
    std::printf("ticks: %zu, up to %d bytes in one; tick ms mean %.3f p99 %.3f max %.3f\n",
        r.tickMs.size(), maxTickBytes, ticks.mean, ticks.p99, ticks.max);
    std::printf("paints (%s): %zu; paint ms mean %.3f p99 %.3f max %.3f\n",
        r.rowsAtOnce ? "a row per call" : "a cell per call", r.paintMs.size(), paints.mean,
        paints.p99, paints.max);
    std::printf("cpu: %.2f s of %.2f s wall = %.1f%% of one core\n", r.cpu, r.seconds,
        r.seconds > 0 ? 100.0 * r.cpu / r.seconds : 0.0);
    std::printf("result: %s\n", r.complete ? "kept up, no byte lost" : "FAILED");
    return r.complete ? 0 : 1;
}

// A meter that streams continuously into one terminal window, the way a meter in run mode fills
// the screen with reading lines. A child process plays the meter on the master side of a
// pseudo-terminal, pacing its bytes at the line rate (baud / 10 bits per character); the window
// runs on its own 40 ms timer with the real meter link on the slave side, painted offscreen.
#include "link/CSerial.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"
#include "terminal/TermScreen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

} // namespace

int main(int argc, char **argv)
{
    double seconds = 10;
    int baud = 115200;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--baud") == 0)
            baud = std::atoi(argv[++i]);
    }
    const double bytesPerSecond = baud / 10.0; // 8N1: ten bits on the line per character
    const QByteArray stream = MeterStream(qint64(bytesPerSecond * seconds));

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
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
        return 1;
    const pid_t meter = fork();
    if (meter == 0) {
        close(goPipe[1]);
        RunMeter(master, goPipe[0], stream, bytesPerSecond);
    }
    close(goPipe[0]);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CSerial link(slavePath);
    link.SetPortText(slavePath);
    link.SetBaudText(QString::number(baud));
    if (!link.OpenPort()) {
        std::fprintf(
            stderr, "cannot open %s: %s\n", qPrintable(slavePath), qPrintable(link.LastError()));
        kill(meter, SIGTERM);
        return 1;
    }
    CTermDoc doc;
    TimedTermView view(&doc, &link);
    view.resize(view.sizeHint());
    view.show();
    view.OnInitialUpdate();

    QElapsedTimer wall;
    double cpuStart = 0;
    double streamSeconds = 0;
    double streamCpu = 0;
    bool meterDone = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!meterDone) {
            int status = 0;
            if (waitpid(meter, &status, WNOHANG) == meter) {
                meterDone = true;
                streamSeconds = double(wall.nsecsElapsed()) / 1e9;
                streamCpu = CpuSeconds() - cpuStart;
            }
        }
        const bool allIn = view.BytesReceived() >= stream.size();
        if ((meterDone && allIn) || wall.elapsed() > qint64(seconds * 1000) + 5000)
            app.quit();
    });
    watch.start(100);
    QTimer::singleShot(0, [&] {
        cpuStart = CpuSeconds();
        wall.start();
        const char go = 1;
        if (write(goPipe[1], &go, 1) != 1)
            app.quit();
    });
    app.exec();
    if (!meterDone) {
        kill(meter, SIGTERM);
        waitpid(meter, nullptr, 0);
        streamSeconds = double(wall.nsecsElapsed()) / 1e9;
        streamCpu = CpuSeconds() - cpuStart;
    }

    // The same bytes through a screen of their own: equal screens mean nothing was lost,
    // doubled or reordered on the way (the stream has no escape, so tick boundaries do not
    // matter).
    TermScreen expected;
    expected.FeedTick(stream);
    const bool sameScreen = expected.Text() == doc.Screen().Text();

    const Summary ticks = Summarise(view.tickMs);
    const Summary paints = Summarise(view.paintMs);
    const int maxTickBytes = view.tickBytes.empty()
        ? 0
        : *std::max_element(view.tickBytes.begin(), view.tickBytes.end());
    std::printf("meter: %d baud, %.0f bytes/s offered for %.1f s (%lld bytes)\n", baud,
        bytesPerSecond, seconds, static_cast<long long>(stream.size()));
    std::printf("drained: %lld bytes in %.2f s = %.0f bytes/s; all bytes %s, screen %s\n",
        static_cast<long long>(view.BytesReceived()), streamSeconds,
        double(view.BytesReceived()) / streamSeconds,
        view.BytesReceived() == stream.size() ? "received" : "NOT received",
        sameScreen ? "matches the stream" : "DIFFERS from the stream");
    std::printf("ticks: %zu, up to %d bytes in one; tick ms mean %.3f p99 %.3f max %.3f\n",
        view.tickMs.size(), maxTickBytes, ticks.mean, ticks.p99, ticks.max);
    std::printf("paints: %zu; paint ms mean %.3f p99 %.3f max %.3f\n", view.paintMs.size(),
        paints.mean, paints.p99, paints.max);
    std::printf("cpu: %.2f s of %.2f s wall = %.1f%% of one core\n", streamCpu, streamSeconds,
        100.0 * streamCpu / streamSeconds);
    close(goPipe[1]);
    close(master);
    return view.BytesReceived() == stream.size() && sameScreen ? 0 : 1;
}

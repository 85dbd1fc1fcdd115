// Publishing live readings to a local mosquitto: the latency from a reading handed to the
// publisher to its arrival at a subscriber (median and worst), the CPU the publisher costs at
// 8 meters every 2 s beyond what the same readings cost unpublished, and the longest
// event-loop stall meanwhile.
//   build/bench/bench_publish [--seconds N] [--qos 0|1]
#include "BenchRig.h"

#include "base/ReadingSink.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishSettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double CpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct Phase
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double longestGapMs = 0;
    int readings = 0;
};

// Hands 8 readings to the sink every 2 s (the flow value carries the time of the hand-over, in
// microseconds of clock), as a Modbus sweep does, for seconds; with ticking a 10 ms timer
// meanwhile measures the event loop's longest gap (and costs CPU of its own).
Phase RunPhase(ReadingSink *sink, const QElapsedTimer &clock, int seconds, bool ticking)
{
    Phase phase;
    QTimer sweep;
    QObject::connect(&sweep, &QTimer::timeout, [&] {
        for (int address = 1; address <= 8; ++address) {
            ++phase.readings;
            if (!sink)
                continue;
            sink->ModbusReading(QDateTime::currentDateTime(), address, {},
                { { QStringLiteral("flow"), QString::number(clock.nsecsElapsed() / 1000),
                      QStringLiteral("SCFM") },
                    { QStringLiteral("totalizer"), QStringLiteral("123456.7"),
                        QStringLiteral("SCF") },
                    { QStringLiteral("temperature"), QStringLiteral("72.5"),
                        QString(QChar(0xB0)) + QLatin1Char('F') } },
                {});
        }
    });
    qint64 last = clock.nsecsElapsed();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        phase.longestGapMs = std::max(phase.longestGapMs, (now - last) / 1e6);
        last = now;
    });
    const double cpu0 = CpuSeconds();
    const qint64 wall0 = clock.nsecsElapsed();
    sweep.start(2000);
    if (ticking)
        ticker.start(10);
    bench::Wait(seconds * 1000);
    sweep.stop();
    ticker.stop();
    phase.cpuSeconds = CpuSeconds() - cpu0;
    phase.wallSeconds = (clock.nsecsElapsed() - wall0) / 1e9;
    return phase;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 30;
    int qos = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QLatin1String(argv[i]) == QLatin1String("--seconds"))
            seconds = std::max(4, std::atoi(argv[i + 1]));
        else if (QLatin1String(argv[i]) == QLatin1String("--qos"))
            qos = std::atoi(argv[i + 1]) == 0 ? 0 : 1;
    }
    QTemporaryDir dir;
    const int port = FreePort();
    {
        QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("user root\nallow_anonymous true\nlistener %1 127.0.0.1\n")
                         .arg(port)
                         .toUtf8());
    }
    QProcess broker;
    // The broker's log is not the benchmark's output.
    broker.setProcessChannelMode(QProcess::MergedChannels);
    broker.start(QStringLiteral("mosquitto"),
        { QStringLiteral("-c"), dir.filePath(QStringLiteral("mosquitto.conf")) });
    if (!broker.waitForStarted(5000)) {
        std::fprintf(stderr, "mosquitto did not start (scripts/install-deps installs it)\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    std::vector<double> latencies;
    QProcess sub;
    QByteArray pending;
    bool probed = false;
    QObject::connect(&sub, &QProcess::readyReadStandardOutput, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        pending += sub.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            if (line.startsWith("bench/probe")) {
                probed = true;
                continue;
            }
            if (!line.startsWith("bench/modbus/"))
                continue;
            const QJsonObject o = QJsonDocument::fromJson(line.mid(line.indexOf(' ') + 1)).object();
            const double sent = o.value(QStringLiteral("values"))
                                    .toObject()
                                    .value(QStringLiteral("flow"))
                                    .toObject()
                                    .value(QStringLiteral("value"))
                                    .toDouble();
            latencies.push_back((double(now) - sent) / 1000.0);
        }
    });
    const Phase baseline = RunPhase(nullptr, clock, seconds, false);
    MqttPublisher publisher;
    PublishSettings settings;
    settings.enabled = true;
    settings.url = QStringLiteral("mqtt://127.0.0.1:%1").arg(port);
    settings.topicPrefix = QStringLiteral("bench");
    settings.qos = qos;
    const QString error = publisher.Start(settings);
    if (!error.isEmpty()
        || !bench::RunUntil(
            [&] { return publisher.GetState() == MqttPublisher::State::Online; }, 10000)) {
        std::fprintf(
            stderr, "no connection: %s %s\n", qPrintable(error), qPrintable(publisher.LastError()));
        return 1;
    }
    // CPU first, with nothing else in the process; then the latency to a subscriber and the
    // event loop's gaps, whose measuring costs CPU of its own.
    const Phase published = RunPhase(&publisher, clock, seconds, false);
    bench::RunUntil(
        [&] {
            if (sub.state() == QProcess::NotRunning)
                sub.start(QStringLiteral("mosquitto_sub"),
                    { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                        QString::number(port), QStringLiteral("-t"), QStringLiteral("bench/#"),
                        QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-F"),
                        QStringLiteral("%t %p") });
            QProcess::execute(QStringLiteral("mosquitto_pub"),
                { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                    QString::number(port), QStringLiteral("-t"), QStringLiteral("bench/probe"),
                    QStringLiteral("-m"), QStringLiteral("x") });
            bench::Wait(50);
            return probed;
        },
        20000);
    if (!probed) {
        std::fprintf(stderr, "the subscriber never got its probe\n");
        return 1;
    }

    const Phase timed = RunPhase(&publisher, clock, seconds, true);
    bench::RunUntil([&] { return int(latencies.size()) >= timed.readings; }, 10000);
    publisher.Stop();
    ::kill(pid_t(broker.processId()), SIGTERM);
    broker.waitForFinished(5000);
    sub.kill();
    sub.waitForFinished(3000);

    const double base = baseline.cpuSeconds / baseline.wallSeconds * 100;
    const double with = published.cpuSeconds / published.wallSeconds * 100;
    const double worst
        = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
    std::printf(
        "publishing 8 meters every 2 s for %d s at QoS %d to a local mosquitto\n", seconds, qos);
    std::printf("readings: %d handed over, %zu arrived\n", timed.readings, latencies.size());
    std::printf("latency reading -> subscriber: median %.2f ms, worst %.2f ms\n",
        bench::Median(latencies), worst);
    std::printf("CPU: %.4f %% of one core unpublished, %.4f %% published: %.4f %% for "
                "publishing\n",
        base, with, with - base);
    std::printf(
        "longest event-loop gap of a 10 ms timer while publishing: %.1f ms\n", timed.longestGapMs);
    return int(latencies.size()) == timed.readings ? 0 : 1;
}

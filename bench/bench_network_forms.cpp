// The meter form's Read Active through ser2net's raw TCP accepter on localhost against the same
// Read Active on the simulator's pseudo-terminal, and the longest stall of the event loop while
// the form tries a host that cannot be reached.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_network_forms [--runs N] [--baud N] [--short]
//
// The program runs as for a user: CTarvikApp, New Kelvane, the form's Read Active; the meter link
// is pointed at the pseudo-terminal or at tcp://127.0.0.1:PORT between the runs, which alternate.
// The connects that fail are a listener whose backlog is full (the handshake is never answered:
// 3 s) and a name that does not resolve; each is the open of the port and a Read Active, up to
// the message the form shows. Prints the medians, the ratio (within 1.10) and the stalls (under
// 16 ms); exit status 1 when a limit is not kept. --short: one run, only the results checked (every
// read done, every failure said), not the limits.
#include "BenchRig.h"
#include "StallMeter.h"

#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CDocument.h"
#include "link/CSerial.h"
#include "lists/CQueView.h"
#include "meter/ZarnFormView.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using bench::Median;
using bench::RunUntil;

namespace {

// A listening socket on 127.0.0.1 (a free port) with the given backlog.
int Listen(int backlog, int *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(fd, backlog);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    bool quick = false;
    for (int i = 1; i < argc; ++i)
        quick = quick || qstrcmp(argv[i], "--short") == 0;
    const int runs = quick ? 1 : std::max(1, bench::Option(argc, argv, "--runs", 3));
    const int baud = bench::Option(argc, argv, "--baud", 9600);
    bench::BenchHome home;
    QApplication qapp(argc, argv);

    bench::Simulator sim;
    if (!sim.Start(QStringList { QStringLiteral("--serial"), QStringLiteral("20461"),
                       QStringLiteral("--interval"), QStringLiteral("600000") }
            + bench::MeterOptions(baud))) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QString pty = sim.Path();

    // ser2net's raw accepter in front of the pseudo-terminal.
    const QString ser2net = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") });
    int rawPort = 0;
    ::close(Listen(1, &rawPort));
    QFile yaml(home.FilePath(QStringLiteral("ser2net.yaml")));
    if (ser2net.isEmpty() || !yaml.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "ser2net is needed (scripts/install-deps)\n");
        return 1;
    }
    yaml.write(QStringLiteral("connection: &raw\n  accepter: tcp,127.0.0.1,%1\n"
                              "  connector: serialdev,%2,%3n81,local\n")
                   .arg(rawPort)
                   .arg(pty)
                   .arg(baud)
                   .toUtf8());
    yaml.close();
    QProcess server;
    server.start(ser2net,
        { "-n", "-u", "-P", home.FilePath(QStringLiteral("ser2net.pid")), "-c", yaml.fileName() });
    if (!server.waitForStarted(5000) || !RunUntil([rawPort] { return Accepts(rawPort); }, 10000)) {
        std::fprintf(stderr, "ser2net did not start\n");
        return 1;
    }
    const QString raw = QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);

    bench::UseMeterPort(pty, baud);
    QStringList messages;
    UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages << text; });
    CTarvikApp app({}, false);
    app.InitInstance();
    UserMessage::SetAskHandler([](const QString &, const QString &) { return true; });
    CSerial *link = CTarvikApp::MeterLink();
    const auto usePort = [link](const QString &port) {
        link->ClosePort();
        link->SetPortText(port);
        link->SetEnabled(1);
        link->OpenPort();
    };
    app.OnNewMeterForm();
    auto *form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
    if (!form) {
        std::fprintf(stderr, "the form did not open\n");
        return 1;
    }
    // One Read Active on port: its whole time and the longest stall, or -1 when it failed.
    const auto readActive = [&](const QString &port, bool mustFail, double *stallMs) {
        messages.clear();
        StallMeter meter;
        meter.Start();
        usePort(port);
        form->OnReadActive();
        // The list starts at once (a failure to connect is its own to say), or the read failed.
        const bool started = form->RunningList() == ZarnFormView::kReadTimer;
        // Ended once the list's window has taken up its end too (a list started before that
        // would find the last one still running).
        const bool ended = started && RunUntil([&] {
            return form->RunningList() != ZarnFormView::kReadTimer && !link->IsClaimed()
                && !(form->Runner() && form->Runner()->IsRunning());
        });
        meter.Stop();
        *stallMs = double(meter.MaxGapMs());
        if (!ended || messages.isEmpty() != !mustFail) {
            std::fprintf(stderr, "Read Active on %s: %s\n", qPrintable(port),
                qPrintable(messages.join(QLatin1Char('|'))));
            return -1.0;
        }
        return double(meter.ElapsedMs());
    };

    std::vector<double> ptyTimes, netTimes, ptyStalls, netStalls;
    for (int run = 0; run < runs; ++run) {
        for (const bool network : { run % 2 == 1, run % 2 == 0 }) {
            double stall = 0;
            const double ms = readActive(network ? raw : pty, false, &stall);
            if (ms < 0)
                return 1;
            (network ? netTimes : ptyTimes).push_back(ms);
            (network ? netStalls : ptyStalls).push_back(stall);
        }
    }
    int silentPort = 0;
    const int silent = Listen(0, &silentPort);
    int fillerPort = 0;
    ::close(Listen(1, &fillerPort));
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(silentPort));
        ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    const struct
    {
        const char *name;
        QString port;
    } unreachable[] = {
        { "a host that never answers", QStringLiteral("tcp://127.0.0.1:%1").arg(silentPort) },
        { "a name that does not resolve", QStringLiteral("tcp://tarvik-nowhere.invalid:4001") },
    };
    int status = 0;
    const double ptyMs = Median(ptyTimes), netMs = Median(netTimes);
    std::printf("Read Active at %d baud, median of %d runs (whole / longest stall):\n", baud, runs);
    std::printf("  pseudo-terminal   %7.0f ms / %3.0f ms\n", ptyMs, Median(ptyStalls));
    std::printf("  ser2net raw       %7.0f ms / %3.0f ms   ratio %.3f\n", netMs, Median(netStalls),
        netMs / ptyMs);
    if (netMs / ptyMs > 1.10 && !quick)
        status = 1;
    // What the machine alone costs: the same meter beside an event loop that does nothing.
    StallMeter idle;
    idle.Start();
    bench::Wait(3000);
    idle.Stop();
    std::printf("Idle event loop for 3 s: longest stall %3lld ms (the machine's own share)\n",
        idle.MaxGapMs());
    for (const auto &target : unreachable) {
        std::vector<double> stalls, wholes;
        for (int run = 0; run < runs; ++run) {
            double stall = 0;
            const double ms = readActive(target.port, true, &stall);
            if (ms < 0)
                return 1;
            stalls.push_back(stall);
            wholes.push_back(ms);
        }
        const double worst = *std::max_element(stalls.begin(), stalls.end());
        std::printf(
            "Read Active on %s: %5.0f ms until said, longest stall %3.0f ms (worst of %d)\n",
            target.name, Median(wholes), worst, runs);
        if (worst >= 16 && !quick)
            status = 1;
    }
    ::close(filler);
    ::close(silent);
    usePort(pty);
    form->GetDocument()->SetModifiedFlag(false);
    server.kill();
    server.waitForFinished(3000);
    return status;
}

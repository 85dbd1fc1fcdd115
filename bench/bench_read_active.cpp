// "Read Active" on the Kelvane form against the simulated meter at a real line speed: the time
// from the press to the filled form, next to the floor the list's own pacing sets.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_read_active [--runs N] [--baud N]
//       [--full-interval 1]   (each read waits out its interval time-out: the earlier exchange)
//
// The program runs as it does for a user: CTarvikApp started on the simulator's pty, the New
// Kelvane meter form command, then the form's Read Active handler and the event loop until the
// document takes the serial_range title. The meter link is wrapped so that each exchange's
// reply size and duration can be reported.
#include "BenchRig.h"
#include "TimedLink.h"

#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CSerialMeterLink.h"
#include "lists/IMeterLink.h"
#include "meter/ZarnFormView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using bench::Median;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = std::max(1, bench::Option(argc, argv, "--runs", 5));
    const int baud = bench::Option(argc, argv, "--baud", 9600);
    const bool fullInterval = bench::Option(argc, argv, "--full-interval", 0) != 0;
    bench::BenchHome home;
    QApplication qapp(argc, argv);

    bench::Simulator sim;
    QStringList messages;
    const auto program = bench::StartOnSimulator(sim,
        { QStringLiteral("--firmware"), QStringLiteral("4.1A"), QStringLiteral("--serial"),
            QStringLiteral("20461"), QStringLiteral("--range"), QStringLiteral("2"),
            QStringLiteral("--interval"), QStringLiteral("600000") },
        baud, &messages);
    if (!program)
        return 1;
    CTarvikApp &app = *program;

    // The floor the list itself sets: 25 ms per command byte (its CR included), one 50 ms tick
    // per line, and the reply bytes on the wire (10 bits each at 8N1).
    QFile listFile(QStringLiteral("read20.que"));
    listFile.open(QIODevice::ReadOnly | QIODevice::Text);
    const QStringList lines
        = QString::fromLatin1(listFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::vector<double> totals;
    std::vector<double> floors;
    std::vector<double> withIntervals;
    for (int run = 0; run < runs; ++run) {
        app.OnNewMeterForm();
        auto *form = qobject_cast<ZarnFormView *>(app.MainFrame()->ActiveView());
        if (!form) {
            std::fprintf(stderr, "no meter form opened\n");
            return 1;
        }
        CSerialMeterLink real(CTarvikApp::MeterLink());
        TimedLink timed(&real);
        timed.fullInterval = fullInterval;
        ZarnFormView::SetMeterLink(&timed);
        CDocument *doc = form->GetDocument();
        QEventLoop loop;
        QObject::connect(doc, &CDocument::TitleChanged, &loop, [&loop](const QString &title) {
            if (title.contains(QLatin1Char('_')))
                loop.quit();
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        form->OnReadActive();
        loop.exec();
        const double total = double(clock.elapsed());
        ZarnFormView::SetMeterLink(nullptr);
        if (!doc->Title().contains(QLatin1Char('_')) || !messages.isEmpty()) {
            std::fprintf(stderr, "the read did not finish: %s\n",
                qPrintable(messages.join(QLatin1Char('|'))));
            return 1;
        }
        int replyBytes = 0;
        int intervals = 0;
        for (const auto &e : timed.m_exchanges) {
            replyBytes += e.replyBytes;
            intervals += e.intervalMs;
        }
        const int exchanges = int(timed.m_exchanges.size());
        const double floor = (timed.m_commandBytes) * 25.0 + lines.size() * 50.0
            + replyBytes * 10.0 * 1000.0 / baud;
        totals.push_back(total);
        floors.push_back(floor);
        withIntervals.push_back(floor + intervals);
        if (run == 0) {
            std::printf("read20.que: %lld lines, %d exchanges, %d command bytes, %d reply bytes\n",
                static_cast<long long>(lines.size()), exchanges, timed.m_commandBytes, replyBytes);
            for (const auto &e : timed.m_exchanges)
                std::printf(
                    "  exchange: reply %4d B, read %5lld ms (interval %d, total constant %d), "
                    "send+read %5lld ms\n",
                    e.replyBytes, static_cast<long long>(e.readMs), e.intervalMs, e.totalConstantMs,
                    static_cast<long long>(e.exchangeMs));
        }
        std::printf("run %d: %.0f ms (floor %.0f ms, floor + one interval per exchange %.0f ms)\n",
            run + 1, total, floor, floor + intervals);
        // Close the form (the read left it unmodified) before the next run opens it again.
        doc->SetModifiedFlag(false);
        Q_EMIT doc->CloseRequested();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const double t = Median(totals);
    const double f = Median(floors);
    const double fi = Median(withIntervals);
    std::printf("median of %d runs at %d baud: %.0f ms press to filled form; floor %.0f ms "
                "(ratio %.2f); floor + intervals %.0f ms (ratio %.2f)\n",
        runs, baud, t, f, t / f, fi, t / fi);
    return 0;
}

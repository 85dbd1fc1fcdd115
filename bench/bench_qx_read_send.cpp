// "Read" and "Send" on the Quixal form against the simulated Quixal meter at a real line speed:
// the time from the press to the filled form (Read) or to the stored image (Send), next to the
// floor the list's own pacing sets.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_qx_read_send [--runs N] [--baud N]
//
// The program runs as it does for a user: CTarvikApp on the simulator's pty, the New Quixal
// command, then the form's Read or Send handler and the event loop until the run has ended.
// The floor of one run: each list line run takes one timer period (500 ms reading, 50 ms
// sending) or, when it exchanges with the meter, the longer of that period and the exchange's
// own floor: 25 ms per command byte sent (its CR included) and the reply bytes on the wire (10
// bits each). A timer whose handler overran fires again at once, so the two do not add up.
#include "BenchRig.h"
#include "TimedLink.h"
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "audit/AuditSettings.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CSerialMeterLink.h"
#include "meter/SendWithChecks.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/ZarnQXFormView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {
using bench::Median;

// The lines a list runs when every exchange succeeds: from the first line, following "Goto",
// up to and including "End".
int LinesRun(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    int count = 0;
    for (int i = 0; i < lines.size() && count < 1000; ++i) {
        const QString line = lines.at(i);
        if (line.trimmed().isEmpty())
            continue;
        ++count;
        if (line.contains(QLatin1String("End")) && !line.startsWith(QLatin1String("//")))
            break;
        const int go = line.indexOf(QLatin1String("Goto("));
        if (go >= 0 && !line.startsWith(QLatin1String("//"))) {
            const QString label = line.mid(go + 5).section(QLatin1Char(')'), 0, 0);
            for (int j = 0; j < lines.size(); ++j)
                if (lines.at(j).startsWith(label + QLatin1Char(':')))
                    i = j - 1;
        }
    }
    return count;
}

struct Measure
{
    std::vector<double> totals;
    std::vector<double> floors;
};
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = std::max(1, bench::Option(argc, argv, "--runs", 5));
    const int baud = bench::Option(argc, argv, "--baud", 9600);
    bench::BenchHome home;
    QApplication qapp(argc, argv);

    bench::Simulator sim;
    QStringList messages;
    const auto program = bench::StartOnSimulator(sim,
        { QStringLiteral("--series"), QStringLiteral("quixal"), QStringLiteral("--firmware"),
            QStringLiteral("1.4A"), QStringLiteral("--serial"), QStringLiteral("20461"),
            QStringLiteral("--interval"), QStringLiteral("600000") },
        baud, &messages);
    if (!program)
        return 1;
    CTarvikApp &app = *program;
    // The send alone: the reads around it are a Read each (bench_stalls_forms times them).
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);

    Measure read, send;
    for (int run = 0; run < runs; ++run) {
        app.OnNewQuixal();
        auto *form = qobject_cast<ZarnQXFormView *>(app.MainFrame()->ActiveView());
        if (!form) {
            std::fprintf(stderr, "no Quixal form opened\n");
            return 1;
        }
        CDocument *doc = form->GetDocument();
        for (const bool reading : { true, false }) {
            CSerialMeterLink real(CTarvikApp::MeterLink());
            TimedLink timed(&real);
            ZarnFormBase::SetMeterLink(&timed);
            const int timerId = reading ? ZarnFormBase::kReadTimer : ZarnFormBase::kSendTimer;
            QEventLoop loop;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (form->RunningList() != timerId)
                    loop.quit();
            });
            QTimer::singleShot(120000, &loop, &QEventLoop::quit);
            if (!reading) // an edit, so that the send carries a change
                qobject_cast<QLineEdit *>(form->Control(QXFieldId::Password))
                    ->setText(QString::number(run + 1));
            QElapsedTimer clock;
            clock.start();
            if (reading)
                form->OnRead();
            else
                form->OnSend();
            poll.start(1);
            loop.exec();
            const double total = double(clock.elapsed());
            ZarnFormBase::SetMeterLink(nullptr);
            const bool done = reading ? doc->Title() == QStringLiteral("20461_1") : true;
            // A send without its checks ends by saying the meter acknowledged the configuration; a
            // read says nothing.
            const QStringList said = std::exchange(messages, QStringList());
            const QStringList expected = reading
                ? QStringList()
                : QStringList { QString::fromLatin1(SendWithChecks::kAcknowledgedText) };
            if (!done || said != expected || form->RunningList() == timerId) {
                std::fprintf(stderr, "the %s did not finish: %s\n", reading ? "read" : "send",
                    qPrintable(said.join(QLatin1Char('|'))));
                return 1;
            }
            const QString list
                = reading ? QStringLiteral("qxread.que") : QStringLiteral("qxsend.que");
            const int lines = LinesRun(list);
            const double period = reading ? 500.0 : 50.0;
            int replyBytes = 0;
            double floor = (lines - int(timed.m_exchanges.size())) * period;
            for (const auto &e : timed.m_exchanges) {
                replyBytes += e.replyBytes;
                floor += std::max(
                    period, e.commandBytes * 25.0 + e.replyBytes * 10.0 * 1000.0 / baud);
            }
            Measure &m = reading ? read : send;
            m.totals.push_back(total);
            m.floors.push_back(floor);
            if (run == 0) {
                std::printf("%s: %d lines run, %d exchanges, %d command bytes, %d reply bytes\n",
                    qPrintable(list), lines, int(timed.m_exchanges.size()), timed.m_commandBytes,
                    replyBytes);
                for (const auto &e : timed.m_exchanges)
                    std::printf("  exchange: reply %4d B, read %5lld ms (interval %d, total %d), "
                                "send+read %5lld ms\n",
                        e.replyBytes, static_cast<long long>(e.readMs), e.intervalMs,
                        e.totalConstantMs, static_cast<long long>(e.exchangeMs));
            }
            std::printf("run %d %s: %.0f ms (floor %.0f ms)\n", run + 1, reading ? "Read" : "Send",
                total, floor);
        }
        doc->SetModifiedFlag(false);
        Q_EMIT doc->CloseRequested();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    for (const bool reading : { true, false }) {
        const Measure &m = reading ? read : send;
        const double t = Median(m.totals);
        const double f = Median(m.floors);
        std::printf(
            "median of %d runs at %d baud: %s %.0f ms press to %s; floor %.0f ms (ratio %.2f)\n",
            runs, baud, reading ? "Read" : "Send", t, reading ? "filled form" : "stored image", f,
            t / f);
    }
    return 0;
}

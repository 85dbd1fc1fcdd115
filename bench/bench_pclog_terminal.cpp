// PC logging with a terminal window open on the same port: does the log hold every reading?
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_pclog_terminal [--seconds N] [--baud N]
//
// The simulator streams one reading a second at a fixed flow (60 SCFM), so its totalizer grows
// by 1 SCF from one reading to the next; the logger snapshots once a second, the total in every
// row. A row that repeats the row before (no growth) took a reading twice, a row that grew by
// two or more readings' worth lost one: neither may happen, as each row takes the reading it
// fell due for (one a moment late included). The terminal must have shown the stream meanwhile.
// Default 600 s; scripts/bench-smoke runs a few seconds.
#include "BenchRig.h"

#include "datalog/Datalog.h"
#include "datalog/DatalogCore.h"
#include "datalog/PcLogger.h"
#include "link/CSerial.h"
#include "terminal/CTermDoc.h"
#include "terminal/CTermView.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>

#include <cmath>

namespace {

// The totals of the log's rows ("; N; total ; ..."), in order.
std::vector<double> RowTotals(const QString &path)
{
    std::vector<double> totals;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return totals;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.startsWith("; "))
            continue;
        bool ok = false;
        const double total = line.split(';').value(2).trimmed().toDouble(&ok);
        if (ok)
            totals.push_back(total);
    }
    return totals;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int seconds = 600, baud = 9600;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray opt = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (opt == "--seconds")
            seconds = std::max(3, value);
        else if (opt == "--baud")
            baud = std::max(300, value);
    }
    bench::BenchHome home(false);
    QApplication app(argc, argv);
    UserMessage::SetHandler([](const QString &text, const QString &caption) {
        std::fprintf(stderr, "[message %s] %s\n", qPrintable(caption.trimmed()), qPrintable(text));
    });

    bench::Simulator sim(QStringList { QStringLiteral("--interval"), QStringLiteral("1000"),
                             QStringLiteral("--flow"), QStringLiteral("60") }
        + bench::MeterOptions(baud));
    CSerial link(sim.Path());
    link.SetBaudText(QString::number(baud));
    if (sim.Path().isEmpty() || !link.OpenPort()) {
        std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(link.LastError()));
        return 1;
    }

    CTermDoc doc;
    CTermView terminal(&doc, &link);
    terminal.resize(terminal.sizeHint());
    terminal.show();
    terminal.OnInitialUpdate();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pclog.log"));
    Datalog logger(nullptr, &link);
    logger.resize(815, 655);
    logger.show();
    logger.OnInitialUpdate();
    DatalogCore &core = logger.Core();
    core.fields.fileName = path;
    core.fields.hour = QStringLiteral("0");
    core.fields.min = QStringLiteral("0");
    core.fields.sec = QStringLiteral("1");
    core.fields.options = { false, false, false, true, false, false, false, false };
    logger.FieldsChanged();
    const qint64 terminalBefore = terminal.BytesReceived();
    // START (PC) identifies the meter first, then logs.
    logger.ButtonOf(Datalog::StartPc)->click();
    if (!bench::RunUntil([&] { return core.Pc().LineReaderRunning(); }, 30000)) {
        std::fprintf(stderr, "PC logging did not start\n");
        return 1;
    }
    bench::Wait(seconds * 1000);
    logger.ButtonOf(Datalog::StopPc)->click();
    const qint64 terminalBytes = terminal.BytesReceived() - terminalBefore;

    const std::vector<double> totals = RowTotals(path);
    int repeats = 0, skips = 0, readings = 0;
    for (size_t i = 1; i < totals.size(); ++i) {
        // Readings between two rows, at 1 SCF each.
        const int step = int(std::lround(totals[i] - totals[i - 1]));
        if (step <= 0)
            ++repeats;
        else if (step >= 2)
            skips += step - 1;
        readings += std::max(step, 0);
    }
    const int rows = int(totals.size());
    const bool ok = rows >= seconds - 3 && repeats == 0 && skips == 0 && terminalBytes > 0
        && core.Pc().BytesReceived() > 0;
    std::printf("PC log with the terminal open for %d s at %d baud: %d rows, the simulator sent "
                "%d readings between the first and the last; %d rows repeat a reading, %d "
                "readings in no row; the logger took %lld bytes, the terminal %lld: %s\n",
        seconds, baud, rows, readings + 1, repeats, skips,
        static_cast<long long>(core.Pc().BytesReceived()), static_cast<long long>(terminalBytes),
        ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

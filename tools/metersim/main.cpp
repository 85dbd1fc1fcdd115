#include "MeterSim.h"
#include "ModbusSim.h"
#include "PtyPort.h"

#include <QDir>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstring>

#ifndef TARVIK_METERSIM_DATA_DIR
#define TARVIK_METERSIM_DATA_DIR "data"
#endif

namespace {

const char kUsage[]
    = "usage: tarvik-metersim [options]          a simulated Kelvane or Quixal meter\n"
      "       tarvik-metersim --modbus [options] a simulated Modbus network\n"
      "\n"
      "  --series kelvane|quixal  meter series (default kelvane)\n"
      "  --firmware VER           firmware version, e.g. 3.9E 3.9G 4.0A 4.0B 4.1A 4.2C 1.0A..1.4A\n"
      "                           (default 4.1A, or 1.4A for quixal)\n"
      "  --rev L                  revision letter (default A)\n"
      "  --model MMM              3-character model (default 620, or 500 for quixal)\n"
      "  --serial N               serial number (default: the meter file's, else 12345678)\n"
      "  --range N                active range 1-4 (default: the meter file's, else 1)\n"
      "  --image FILE             meter file: read at start if it exists, rewritten on every\n"
      "                           accepted change\n"
      "  --vars FILE              layout file (default DATA/vars20.dat or DATA/varsQX.dat)\n"
      "  --section NAME           layout section, e.g. [4.1A] (default: from the firmware)\n"
      "  --data-dir DIR           where the layout files are (default: the source data/)\n"
      "  --link PATH              make PATH a symlink to the pseudo-terminal\n"
      "  --tcp PORT               serve the line raw on 127.0.0.1:PORT instead (0: a free port;\n"
      "                           the program's port text is printed: tcp://127.0.0.1:PORT)\n"
      "  --baud N                 pace the meter's output at N baud (8N1)\n"
      "  --interval MS            run-mode reading line period (default 1000)\n"
      "  --quiet MS               silence awaited before answering (default 45)\n"
      "  --flow VALUE             show this flow in every reading (default: a slow sine wave)\n"
      "  --total VALUE            totalizer at start (default 1234.5678)\n"
      "  --tracking 0|1           mark flows as tracked with \"T\" (default: the image's bit)\n"
      "  --log FILE               the logger memory at start: FILE's bytes, sent by \"953\"\n"
      "  --deaf-wakes N           leave the first N wake-ups (eighteen dots) unanswered\n"
      "  --answer-wakes N         answer only the first N wake-ups, then no further one\n"
      "  --store-wrong OFFSET     store the image byte at OFFSET with its lowest bit flipped\n"
      "  --silent                 never answer and never stream (a meter whose line is cut)\n"
      "  --mem-token TEXT         first word of the log memory answer (default MEM:<free, hex>)\n"
      "\n"
      "Prints the pseudo-terminal's path on the first line of its output, then runs\n"
      "until SIGTERM or Ctrl+C, and says how many reading lines it streamed.\n";

qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--modbus") == 0)
            return RunModbusSim(argc, argv);
    }

    MeterSettings settings;
    QString linkPath;
    int tcpPort = -1;
    QString dataDir = QStringLiteral(TARVIK_METERSIM_DATA_DIR);
    int baud = 0;
    for (int i = 1; i < argc; ++i) {
        const QString opt = QString::fromLocal8Bit(argv[i]);
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == QLatin1String("--silent")) {
            settings.silent = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(
                stderr, "tarvik-metersim: %s needs a value or is unknown\n%s", argv[i], kUsage);
            return 2;
        }
        const QString val = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        if (opt == QLatin1String("--series")) {
            if (val.compare(QLatin1String("quixal"), Qt::CaseInsensitive) == 0)
                settings.quixal = true;
            else if (val.compare(QLatin1String("kelvane"), Qt::CaseInsensitive) != 0)
                ok = false;
        } else if (opt == QLatin1String("--firmware")) {
            settings.version = val;
            ok = val.size() == 4;
        } else if (opt == QLatin1String("--rev")) {
            settings.revision = val.left(1).toUpper();
            ok = val.size() == 1 && val.at(0).isLetter();
        } else if (opt == QLatin1String("--model")) {
            settings.model = val;
            ok = val.size() == 3;
        } else if (opt == QLatin1String("--serial")) {
            settings.serial = val.toLongLong(&ok);
            ok = ok && settings.serial >= 0 && settings.serial <= 0xFFFFFFFFLL;
        } else if (opt == QLatin1String("--range")) {
            settings.range = val.toInt(&ok);
            ok = ok && settings.range >= 1 && settings.range <= 4;
        } else if (opt == QLatin1String("--image")) {
            settings.imageFile = val;
        } else if (opt == QLatin1String("--vars")) {
            settings.varsFile = val;
        } else if (opt == QLatin1String("--section")) {
            settings.section = val.startsWith(QLatin1Char('['))
                ? val
                : QLatin1Char('[') + val + QLatin1Char(']');
        } else if (opt == QLatin1String("--data-dir")) {
            dataDir = val;
        } else if (opt == QLatin1String("--link")) {
            linkPath = val;
        } else if (opt == QLatin1String("--tcp")) {
            tcpPort = val.toInt(&ok);
            ok = ok && tcpPort >= 0 && tcpPort <= 65535;
        } else if (opt == QLatin1String("--baud")) {
            baud = val.toInt(&ok);
            ok = ok && baud >= 0;
        } else if (opt == QLatin1String("--interval")) {
            settings.streamMs = val.toInt(&ok);
            ok = ok && settings.streamMs >= 50;
        } else if (opt == QLatin1String("--flow")) {
            settings.flow = val.toDouble(&ok);
            settings.fixedFlow = ok;
        } else if (opt == QLatin1String("--total")) {
            settings.total = val.toDouble(&ok);
        } else if (opt == QLatin1String("--tracking")) {
            settings.tracking = val.toInt(&ok);
            ok = ok && (settings.tracking == 0 || settings.tracking == 1);
        } else if (opt == QLatin1String("--log")) {
            settings.logFile = val;
        } else if (opt == QLatin1String("--mem-token")) {
            settings.memToken = val;
            ok = !val.isEmpty() && !val.contains(QLatin1Char(' '));
        } else if (opt == QLatin1String("--deaf-wakes")) {
            settings.deafWakes = val.toInt(&ok);
            ok = ok && settings.deafWakes >= 0;
        } else if (opt == QLatin1String("--answer-wakes")) {
            settings.answerWakes = val.toInt(&ok);
            ok = ok && settings.answerWakes >= 0;
        } else if (opt == QLatin1String("--store-wrong")) {
            settings.storeWrong = val.toInt(&ok);
            ok = ok && settings.storeWrong >= 0;
        } else if (opt == QLatin1String("--quiet")) {
            settings.quietMs = val.toInt(&ok);
            ok = ok && settings.quietMs >= 0;
        } else {
            std::fprintf(stderr, "tarvik-metersim: unknown option %s\n%s", argv[i - 1], kUsage);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "tarvik-metersim: bad value for %s: %s\n", argv[i - 1], argv[i]);
            return 2;
        }
    }
    settings.unitsFile = QDir(dataDir).filePath(QStringLiteral("units20.dat"));
    if (settings.varsFile.isEmpty())
        settings.varsFile = QDir(dataDir).filePath(
            settings.quixal ? QStringLiteral("varsQX.dat") : QStringLiteral("vars20.dat"));

    PtyPort::InstallStopSignals();
    PtyPort port;
    port.SetBaud(baud);
    MeterSim sim(port);
    QString error;
    if (!sim.Init(settings, &error)) {
        std::fprintf(stderr, "tarvik-metersim: %s\n", qPrintable(error));
        return 2;
    }
    if (!(tcpPort >= 0 ? port.OpenTcp(tcpPort) : port.Open(linkPath))) {
        std::fprintf(stderr, "tarvik-metersim: %s\n", qPrintable(port.LastError()));
        return 2;
    }
    std::printf("%s\n", qPrintable(port.SlavePath()));
    std::fflush(stdout);
    std::fprintf(stderr, "tarvik-metersim: %s meter, %s\n", settings.quixal ? "Quixal" : "Kelvane",
        sim.Identity().IdentLine().trimmed().constData());

    while (!PtyPort::StopRequested()) {
        sim.OnTime(NowMs());
        const int wait = qMax(1, sim.NextWakeMs(NowMs()));
        const int rc = port.WaitInput(wait);
        if (rc < 0)
            break;
        if (rc == 1) {
            const QByteArray in = port.ReadAvailable();
            if (!in.isEmpty())
                sim.OnInput(in, NowMs());
        }
    }
    port.Close();
    std::fprintf(stderr, "tarvik-metersim: %lld reading lines streamed\n",
        static_cast<long long>(sim.LinesStreamed()));
    return 0;
}

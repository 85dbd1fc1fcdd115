#pragma once

#include "app/CTarvikApp.h"
#include "base/CPrefs.h"
#include "base/UserMessage.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

// What the benchmarks that run the program against the simulated meter share: the median they
// quote, waits in the event loop, the simulator on a pseudo-terminal, and a private home for the
// program. Each benchmark is a single source, so everything here is inline.
namespace bench {

// The middle value (of an even count, the mean of the two middle ones); 0 for none.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs the event loop for ms.
inline void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds (checked every 2 ms) or timeoutMs pass; whether it held.
// QTest::qWaitFor sleeps 10 ms between its checks, which a stall meter would count as a stall.
inline bool RunUntil(const std::function<bool()> &done, int timeoutMs = 120000)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(2);
    if (!done())
        loop.exec();
    return done();
}

// The simulator's options for a single meter: the layouts of data/, and the line speed it paces
// its bytes at (0: the simulator's own default).
inline QStringList MeterOptions(int baud)
{
    QStringList options { QStringLiteral("--data-dir"), QStringLiteral(TARVIK_DATA_DIR) };
    if (baud > 0)
        options << QStringLiteral("--baud") << QString::number(baud);
    return options;
}

// tarvik-metersim on a pseudo-terminal, ended with the scope.
class Simulator
{
public:
    Simulator() = default;
    explicit Simulator(const QStringList &args) { Start(args); }
    ~Simulator()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Starts it with args; false when it did not start or print its device path.
    bool Start(
        const QStringList &args, QProcess::ProcessChannelMode channels = QProcess::SeparateChannels)
    {
        m_process.setProcessChannelMode(channels);
        m_process.start(QStringLiteral(TARVIK_METERSIM), args);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000))
            m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        return !m_path.isEmpty();
    }
    // The device path of its pseudo-terminal; empty when it did not start.
    QString Path() const { return m_path; }

private:
    QProcess m_process;
    QString m_path;
};

// A home of the program's own for one benchmark: the run-time folder, the preferences and the
// working folder (with seedData holding a copy of data/), all in a temporary folder. Made before
// the QApplication; the user's own preferences are never touched.
class BenchHome
{
public:
    explicit BenchHome(bool seedData = true)
    {
        qputenv("XDG_RUNTIME_DIR", m_root.path().toLocal8Bit());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_root.path());
        // The work folder too: what the program writes there (its audit trail) stays out of the
        // folder the benchmark was started from.
        QDir::setCurrent(m_root.path());
        if (!seedData)
            return;
        const QDir data(QStringLiteral(TARVIK_DATA_DIR));
        for (const QString &name : data.entryList(QDir::Files))
            QFile::copy(data.filePath(name), m_root.filePath(name));
    }
    QString FilePath(const QString &name) const { return m_root.filePath(name); }

private:
    QTemporaryDir m_root;
};

// Points the program's meter link at the device path pty at baud, the Modbus port off, as the
// settings dialog would; CTarvikApp reads it when it starts.
inline void UseMeterPort(const QString &pty, int baud)
{
    auto store = CPrefs::OpenStore();
    store->setValue(QStringLiteral("Port/COM"), pty);
    store->setValue(QStringLiteral("232Baud/BAUD"), QString::number(baud));
    store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
}

// Writes bytes to path; path, or empty when it could not be written.
inline QString WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// A meter's stored log of exactly bytes bytes, as its logger keeps it (for the simulator's --log).
inline QByteArray StoredMeterLog(int bytes)
{
    QByteArray text = "\"Serial#  1   Start Date: 01/31/2007   Time: 02:15:07 PM\n\n"
                      "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\n\n"
                      "\"Options Selected:\r\n;Line ; Flow \n";
    for (int r = 1; text.size() < bytes - 60; ++r)
        text += "; " + QByteArray::number(r) + "; 40.00     \n";
    text += "\n\"Stop Ocurred 01/31/2007 02:20:00 PM\n";
    return text.leftJustified(bytes, ' ', true);
}

// A PC log of rows rows, as the datalogger writes it, for LOAD.
inline QByteArray PcLog(int rows)
{
    QByteArray text
        = "\"Halvren - PC Datalog Filename big.log\r\n\"Full Scale Flow Rate = 80.000000\r\n"
          "\"Serial#  12345678   Start Date: 01/31/2007   Time: 02:15:07 PM\r\n\r\n"
          "\"Snapshot Interval = 5 secs   Flow Units = SCFM   Total Units = SCF\r\n\r\n"
          "\"Options Selected:\r\r\n;Line ; Date ; Time ; Flow ; Total ; Relay1 \r\n";
    for (int r = 1; r <= rows; ++r)
        text += "; " + QByteArray::number(r) + "; 01/31/2007 ; 02:15:07 PM ; 40.00     ; "
            + QByteArray::number(1234.5678 + r, 'f', 4) + "   ; RLY1 \r\n";
    return text + "\r\n\"Stop Ocurred 01/31/2007 02:20:00 PM\r\n";
}

// The value of "name N" among the command's options (after argv[first - 1]), else fallback.
inline int Option(int argc, char **argv, const char *name, int fallback, int first = 1)
{
    for (int i = first; i + 1 < argc; i += 2) {
        if (qstrcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    }
    return fallback;
}

// The program as a user starts it on a simulated meter: the simulator started with args at baud,
// the meter link set to its port, every message the program would show collected in *messages.
// Null, and why on stderr, when the simulator did not start or the program said anything.
inline std::unique_ptr<CTarvikApp> StartOnSimulator(
    Simulator &sim, const QStringList &args, int baud, QStringList *messages)
{
    if (!sim.Start(args + MeterOptions(baud))) {
        std::fprintf(stderr, "the simulator did not start\n");
        return nullptr;
    }
    UseMeterPort(sim.Path(), baud);
    UserMessage::SetHandler(
        [messages](const QString &text, const QString &) { *messages << text; });
    auto app = std::make_unique<CTarvikApp>(LinkTiming {}, false);
    app->InitInstance();
    if (!messages->isEmpty()) {
        std::fprintf(stderr, "start-up: %s\n", qPrintable(messages->join(QLatin1Char('|'))));
        return nullptr;
    }
    return app;
}

} // namespace bench

#include "cli/CliLogCommands.h"

#include "base/DialogueRunner.h"
#include "cli/CliContext.h"
#include "cli/CliDatalog.h"
#include "cli/CliMeterCommands.h"
#include "cli/CliReadingWatch.h"
#include "cli/CliSignals.h"
#include "datalog/LogFileWriter.h"
#include "datalog/PcLogger.h"
#include "link/CSerial.h"
#include "link/SerialPortList.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTime>

#include <array>

std::unique_ptr<CSerial> CliLogCommands::OpenLink()
{
    const QString port = SerialPortList::Resolved(m_cli.PortArg());
    LinkTiming timing;
    timing.pacingScale = m_cli.Pace();
    auto link = std::make_unique<CSerial>(port, timing);
    link->SetPortText(port);
    link->SetBaudText(m_cli.Baud());
    // A network port's connection is made first: one that fails is said as the port's failure,
    // not as a meter that stopped answering.
    bool connected = false;
    int status = CliContext::kDone;
    if (link->OpenPort()) {
        status = m_cli.RunDialogue([](CSerial *serial, CliContext *cli, bool *made) -> Task<void> {
            *made = co_await serial->ConnectedAsync(*cli->runner);
        }(link.get(), &m_cli, &connected));
    }
    if (!connected) {
        m_cli.code = status;
        if (status == CliContext::kDone) {
            CliContext::Err(QStringLiteral("Cannot use the port %1.\n%2")
                                .arg(port, link->IsGone() ? link->GoneText() : link->LastError()));
            m_cli.code = CliContext::kPortUnusable;
        } else if (m_cli.signals->Interrupted()) {
            CliContext::Err(QStringLiteral("Interrupted; nothing was written."));
        }
        return nullptr;
    }
    return link;
}

int CliLogCommands::Log()
{
    bool intervalOk = false, secondsOk = true;
    const int interval = m_cli.args.Value(QStringLiteral("--interval")).toInt(&intervalOk);
    int seconds = m_cli.args.Value(QStringLiteral("--seconds")).toInt(&secondsOk);
    if (m_cli.args.Has(QStringLiteral("--until"))) {
        const QTime until = QTime::fromString(
            m_cli.args.Value(QStringLiteral("--until")), QStringLiteral("HH:mm:ss"));
        secondsOk = until.isValid() && !m_cli.args.Has(QStringLiteral("--seconds"));
        seconds = secondsOk ? QTime::currentTime().secsTo(until) : 0;
        if (seconds < 0)
            seconds += 24 * 3600; // tomorrow at that time
    } else if (!m_cli.args.Has(QStringLiteral("--seconds"))) {
        secondsOk = false;
    }
    std::array<bool, 8> options { true, true, true, true, false, false, false, false };
    bool optionsOk = true;
    if (m_cli.args.Has(QStringLiteral("--options"))) {
        options.fill(false);
        for (const QString &name : m_cli.args.Value(QStringLiteral("--options"))
                                       .split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            int found = -1;
            for (int i = 0; i < 8; ++i)
                if (name.trimmed().compare(
                        QLatin1String(CliDatalog::kOptionNames[i]), Qt::CaseInsensitive)
                    == 0)
                    found = i;
            if (found < 0)
                optionsOk = false;
            else
                options[size_t(found)] = true;
        }
    }
    if (m_cli.PortArg().isEmpty() || !intervalOk || interval < 1 || interval > 24 * 3600 - 1
        || !secondsOk || seconds < 1 || !m_cli.args.Has(QStringLiteral("--out")) || !optionsOk
        || !m_cli.args.Plain().isEmpty()) {
        CliContext::Err(
            QStringLiteral("log takes --port P --interval S (1 or more) --seconds N or --until "
                           "hh:mm:ss, --out FILE and --options from %1 (\"tarvik-cli log "
                           "--help\").")
                .arg(QStringLiteral("date,time,flow,total,high,low,relay1,relay2")));
        return CliContext::kBadInput;
    }
    // "-" is standard output, written as it stands, as a pipe or terminal is.
    const QString out = m_cli.args.Value(QStringLiteral("--out"));
    const QString path
        = out == QLatin1String("-") ? QStringLiteral("/dev/stdout") : m_cli.UserPath(out);
    return RunDatalog(
        [&](CliDatalog &datalog) { datalog.StartLog(path, interval, options, seconds); });
}

int CliLogCommands::Transfer()
{
    if (m_cli.PortArg().isEmpty() || !m_cli.args.Has(QStringLiteral("--out"))
        || !m_cli.args.Plain().isEmpty()) {
        CliContext::Err(QStringLiteral("transfer takes --port P --out FILE."));
        return CliContext::kBadInput;
    }
    return RunDatalog([this](CliDatalog &datalog) {
        datalog.StartTransfer(m_cli.UserPath(m_cli.args.Value(QStringLiteral("--out"))));
    });
}

int CliLogCommands::RunDatalog(const std::function<void(CliDatalog &)> &start)
{
    // A meter that is not there is said within seconds, not after the logger's time-outs.
    CliMeterCommands meter(m_cli);
    if (m_cli.RunDialogue(meter.CheckAnswers()) != CliContext::kDone)
        return m_cli.code;
    std::unique_ptr<CSerial> link = OpenLink();
    if (!link)
        return m_cli.code;
    CliDatalog datalog(link.get(), m_cli.Progress());
    QObject::connect(m_cli.signals, &CliSignals::Interrupt, &datalog, &CliDatalog::Stop);
    bool finished = false;
    QObject::connect(&datalog, &CliDatalog::Finished, [&finished] {
        finished = true;
        QCoreApplication::exit(0);
    });
    start(datalog);
    if (!finished)
        QCoreApplication::exec();
    if (datalog.Status() != 0)
        // A connection that broke is named first: it, not the meter, ended the run.
        CliContext::Err(link->IsGone() ? link->GoneText() + QLatin1Char('\n') + datalog.Failure()
                                       : datalog.Failure());
    else if (m_cli.args.Value(QStringLiteral("--out")) != QLatin1String("-")
        && !LogFileWriter::WritesInPlace(m_cli.UserPath(m_cli.args.Value(QStringLiteral("--out")))))
        CliContext::Out(m_cli.args.Value(QStringLiteral("--out"))
            + QLatin1Char('\n')); // not into the log itself
    return datalog.Status();
}

int CliLogCommands::Watch()
{
    bool forOk = true;
    const int seconds = m_cli.args.Has(QStringLiteral("--for"))
        ? m_cli.args.Value(QStringLiteral("--for")).toInt(&forOk)
        : 0;
    const bool json = m_cli.args.Has(QStringLiteral("--json"));
    const bool raw = m_cli.args.Has(QStringLiteral("--raw"));
    if (m_cli.PortArg().isEmpty() || !forOk || seconds < 0 || (json && raw)
        || !m_cli.args.Plain().isEmpty()) {
        CliContext::Err(QStringLiteral("watch takes --port P, --json or --raw, and --for SECONDS "
                                       "(1 or more) (\"tarvik-cli watch --help\")."));
        return CliContext::kBadInput;
    }
    // The port is opened (a network port connected) before the watch begins.
    std::unique_ptr<CSerial> link = OpenLink();
    if (!link)
        return m_cli.code;
    // Ctrl+C is how a watch usually ends: it is no failure.
    m_cli.interruptEnds = true;
    return m_cli.RunDialogue(WatchStream(link.get(), seconds,
        json      ? CliReadingWatch::Format::Json
            : raw ? CliReadingWatch::Format::Raw
                  : CliReadingWatch::Format::Text));
}

Task<void> CliLogCommands::WatchStream(CSerial *link, int seconds, CliReadingWatch::Format format)
{
    DialogueRunner &runner = *m_cli.runner;
    CliReadingWatch watch(format);
    QElapsedTimer sinceReading;
    sinceReading.start();
    bool gone = false;
    SerialPort::Subscription subscription;
    const std::function<void()> take = [&] {
        while (subscription.Queued() > 0 && !CliContext::OutputFailed()) {
            const qint64 before = watch.Readings();
            CliContext::OutBytes(watch.Feed(
                subscription.Take(PcLogger::kMaxBytesPerStep), QDateTime::currentDateTime()));
            if (watch.Readings() != before)
                sinceReading.restart();
        }
    };
    subscription = link->Subscribe(take, [&] {
        gone = true;
        runner.Cancel();
    });
    QDeadlineTimer end(QDeadlineTimer::Forever);
    if (seconds > 0)
        end.setRemainingTime(qint64(seconds) * 1000);
    bool toldSilent = false;
    while (!runner.Cancelled() && !end.hasExpired() && !CliContext::OutputFailed()) {
        co_await runner.Sleep(int(std::min<qint64>(100, std::max<qint64>(1, end.remainingTime()))));
        if (!toldSilent && sinceReading.elapsed() >= kNoReadingsSeconds * 1000) {
            toldSilent = true;
            CliContext::Err(QStringLiteral("No readings from %1 for %2 s: is the meter in command "
                                           "mode, or at another speed than %3?")
                                .arg(m_cli.PortArg())
                                .arg(kNoReadingsSeconds)
                                .arg(m_cli.Baud()));
        } else if (toldSilent && sinceReading.elapsed() < kNoReadingsSeconds * 1000) {
            toldSilent = false; // readings came back
        }
    }
    take();
    const qint64 dropped = subscription.Dropped();
    subscription.Cancel();
    if (gone)
        CliContext::Err(link->GoneText());
    QString summary = QStringLiteral("%1 readings").arg(watch.Readings());
    if (watch.Skipped() > 0)
        summary += QStringLiteral(", %1 lines that were no reading skipped").arg(watch.Skipped());
    if (dropped > 0)
        summary += QStringLiteral(", %1 bytes lost").arg(dropped);
    if (!m_cli.args.Has(QStringLiteral("--quiet")))
        CliContext::Err(summary + QLatin1Char('.'));
    if (gone)
        m_cli.code = CliContext::kPortUnusable;
    else if (watch.Readings() == 0)
        m_cli.code = CliContext::kMeterFailed;
    link->ClosePort();
}

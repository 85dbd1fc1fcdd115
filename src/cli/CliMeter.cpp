#include "cli/CliMeter.h"

#include "base/DialogueRunner.h"
#include "link/SerialPortList.h"
#include "lists/ListRun.h"
#include "meter/MeterIdentText.h"
#include "terminal/TermScreen.h"

#include <QDir>

#include <cstdio>

namespace {
void Progress(bool on, const QString &text)
{
    if (!on)
        return;
    std::fprintf(stderr, "\r%-70s", qPrintable(text.left(70)));
    std::fflush(stderr);
}

void EndProgress(bool on)
{
    if (on) {
        std::fprintf(stderr, "\r%-70s\r", "");
        std::fflush(stderr);
    }
}
} // namespace

CliMeter::CliMeter(const QString &port, const QString &baud, bool progress, double pace)
    : m_serial(std::make_unique<CSerial>(SerialPortList::Resolved(port),
        [pace] {
            LinkTiming timing;
            timing.pacingScale = pace;
            return timing;
        }()))
    , m_progress(progress)
{
    m_serial->SetPortText(SerialPortList::Resolved(port));
    m_serial->SetBaudText(baud);
    m_link.SetSerial(m_serial.get());
}

CliMeter::~CliMeter()
{
    if (m_serial->IsOpen())
        m_serial->ClosePort();
}

Task<bool> CliMeter::Open(DialogueRunner &runner, QString *error)
{
    if (m_serial->OpenPort() && co_await m_serial->ConnectedAsync(runner))
        co_return true;
    const QString reason = m_serial->IsGone() ? m_serial->GoneText() : m_serial->LastError();
    *error = QStringLiteral("Cannot use the port %1.").arg(m_serial->PortText());
    if (!reason.isEmpty())
        *error += QLatin1Char('\n') + reason;
    co_return false;
}

QString CliMeter::Where() const
{
    return QStringLiteral("the meter on %1 at %2 baud")
        .arg(m_serial->PortText(), m_serial->BaudText());
}

Task<bool> CliMeter::Identify(DialogueRunner &runner, Identity *identity, bool withSerial)
{
    SerialPort::Claim claim(m_serial.get(), this);
    Progress(m_progress, QStringLiteral("identifying the meter on %1").arg(m_serial->PortText()));
    // The meter's main screen, as the terminal asks for it; the meter is back in run mode after.
    QByteArray screen;
    identity->answered = co_await m_serial->AnswersAsync(runner, &screen);
    EndProgress(m_progress);
    if (runner.Cancelled() || !identity->answered)
        co_return false;
    TermScreen::ScanIdentification(
        screen, identity->model, identity->version, identity->revision, identity->range);
    if (identity->version.isEmpty() || runner.Cancelled())
        co_return false;
    if (!withSerial)
        co_return true;
    // The main screen carries no serial number: the identification text does, as the
    // datalogger's update asks for it ("rrrrrr\r\n", then six "."). The meter stays in run mode.
    co_await m_serial->SendCommandAsync(runner, QByteArrayLiteral("rrrrrr\r\n"));
    m_serial->PurgeInput();
    co_await m_serial->SendStringAsync(runner, QByteArrayLiteral("......"));
    QByteArray ident;
    if (co_await m_serial->InputWithin(runner, 2000))
        co_await m_serial->ReadAllAsync(runner, ident, 300, 2000);
    identity->serial = MeterIdentText::Parse(ident).serial;
    co_return !runner.Cancelled();
}

Task<int> CliMeter::RunList(DialogueRunner &runner, QString fileName, IFieldAccess &fields,
    int periodMs, QString *failure, bool *fieldCut)
{
    SerialPort::Claim claim(m_serial.get(), this);
    ListRun run;
    run.SetPeriodMs(periodMs);
    run.Executor().SetLineHook([this, fileName](int index, const QString &line) {
        Progress(m_progress,
            QStringLiteral("%1 line %2: %3").arg(fileName).arg(index + 1).arg(line.trimmed()));
    });
    run.Executor().SetSendHook([this](int sent, int total) {
        if (total > 40)
            Progress(m_progress, QStringLiteral("sending %1 of %2 bytes").arg(sent).arg(total));
    });
    run.SetWindUpHook(
        [this] { Progress(m_progress, QStringLiteral("returning the meter to run mode")); });
    const ListRun::Outcome outcome = co_await run.RunFile(runner, fileName, &fields, &m_link);
    EndProgress(m_progress);
    if (fieldCut)
        *fieldCut = outcome.fieldCut;
    if (fieldCut)
        *fieldCut = outcome.fieldCut;
    // A failed list jumps to a label that is its message ("Meter did not answer").
    QStringList said;
    for (const CQueExecutor::Message &message : outcome.messages)
        said << message.text;
    switch (outcome.end) {
    case ListRun::End::Ended:
        co_return 0;
    case ListRun::End::Unreadable:
        *failure = QStringLiteral("The command list %1 cannot be read in the data folder %2 "
                                  "(%3).")
                       .arg(fileName, QDir::currentPath(), outcome.error);
        co_return 2;
    case ListRun::End::Failed:
        *failure = said.isEmpty() ? QStringLiteral("The command list stopped.")
                                  : said.join(QLatin1Char('\n'));
        co_return 1;
    case ListRun::End::Cancelled:
        break;
    }
    *failure = QStringLiteral("Interrupted: the meter's exchange was stopped.");
    if (outcome.windUp == ListRun::WindUp::Back)
        *failure += QStringLiteral("\nThe meter is back in run mode.");
    else if (outcome.windUp == ListRun::WindUp::Unconfirmed)
        *failure += QStringLiteral("\nThe meter did not confirm that it is back in run mode: it "
                                   "may still be in command mode.");
    co_return 1;
}

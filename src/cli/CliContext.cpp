#include "cli/CliContext.h"

#include "base/DialogueRunner.h"
#include "cli/CliSignals.h"
#include "meter/MeterSeriesModel.h"
#include "meterqx/SeriesModels.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
bool g_outputFailed = false;
QString g_outputError;
} // namespace

void CliContext::Out(const QString &text)
{
    if (g_outputFailed)
        return;
    const QByteArray bytes = text.toLocal8Bit();
    errno = 0;
    if (std::fputs(bytes.constData(), stdout) < 0 || std::fflush(stdout) != 0)
        SetOutputFailed(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
}

void CliContext::OutBytes(const QByteArray &bytes)
{
    if (g_outputFailed || bytes.isEmpty())
        return;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
        || std::fflush(stdout) != 0)
        SetOutputFailed(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
}

void CliContext::Err(const QString &text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char('\n'), QStringLiteral("\ntarvik-cli: "));
    std::fprintf(stderr, "tarvik-cli: %s\n", t.toLocal8Bit().constData());
}

bool CliContext::OutputFailed()
{
    return g_outputFailed;
}

QString CliContext::OutputError()
{
    return g_outputError;
}

void CliContext::SetOutputFailed(const QString &reason)
{
    g_outputFailed = true;
    g_outputError = reason;
}

QString CliContext::Capital(const QString &text)
{
    return text.isEmpty() ? text : text.at(0).toUpper() + text.mid(1);
}

QString CliContext::PdfName(const QString &given)
{
    if (given.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return given;
    return given + QStringLiteral(".pdf");
}

QString CliContext::UserPath(const QString &given) const
{
    if (given.isEmpty() || dataDir.isEmpty() || dataDir == startDir)
        return given;
    return QDir(startDir).absoluteFilePath(given);
}

QString CliContext::Baud() const
{
    return args.Has(QStringLiteral("--baud")) ? args.Value(QStringLiteral("--baud"))
                                              : QStringLiteral("9600");
}

double CliContext::Pace() const
{
    // Checked before the run: above 0 and at most 1.
    bool ok = false;
    const double pace = args.Value(QStringLiteral("--pace")).toDouble(&ok);
    return ok ? pace : 1.0;
}

bool CliContext::Progress() const
{
    return !args.Has(QStringLiteral("--quiet"))
        && CliSignals::IsTerminal(CliSignals::Stream::Error);
}

int CliContext::RunDialogue(Task<void> dialogue)
{
    DialogueRunner dialogueRunner;
    // A Ctrl+C that came before the dialogue could start: nothing is begun.
    if (signals->Interrupted()) {
        Err(QStringLiteral("Interrupted before anything was done."));
        return kMeterFailed;
    }
    QObject::connect(signals, &CliSignals::Interrupt, &dialogueRunner, &DialogueRunner::Cancel);
    runner = &dialogueRunner;
    bool finished = false;
    dialogueRunner.Start(std::move(dialogue), [&finished] {
        finished = true;
        QCoreApplication::exit(0);
    });
    if (!finished)
        QCoreApplication::exec();
    runner = nullptr;
    if (signals->Interrupted() && code == kDone && !interruptEnds)
        code = kMeterFailed;
    return code;
}

std::unique_ptr<MeterSeriesModel> CliContext::OpenFile(const QString &path)
{
    std::unique_ptr<MeterSeriesModel> file = SeriesModels::OfPath(path);
    QString error;
    if (file->Open(path, &error))
        return file;
    Err(error);
    return nullptr;
}

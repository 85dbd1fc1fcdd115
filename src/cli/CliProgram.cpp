#include "cli/CliProgram.h"

#include "base/DataFolder.h"
#include "base/UserMessage.h"
#include "cli/CliAudit.h"
#include "cli/CliFileCommands.h"
#include "cli/CliLogCommands.h"
#include "cli/CliMeterCommands.h"
#include "cli/CliModbusCommand.h"
#include "cli/CliPublishing.h"
#include "cli/CliRecords.h"
#include "cli/CliSignals.h"
#include "datalog/LogFileWriter.h"
#include "link/SerialPort.h"
#include "link/SerialPortList.h"
#include "link/mbCSerial.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterSeries.h"
#include "meter/MeterSeriesModel.h"
#include "meter/ZarnFormRules.h"
#include "meterqx/SeriesModels.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

CliProgram::CliProgram() = default;
CliProgram::~CliProgram() = default;

int CliProgram::Run(const QStringList &arguments)
{
    // Ctrl+C is taken from the start, so it never kills the program in the middle of a step.
    m_signals = std::make_unique<CliSignals>();
    m_cli.signals = m_signals.get();
    // Messages the shared code would show in a box go to standard error; its questions (none
    // are asked on these paths) are answered No, so nothing is replaced unasked.
    UserMessage::SetHandler([](const QString &text, const QString &) { CliContext::Err(text); });
    UserMessage::SetAskHandler([](const QString &text, const QString &) {
        CliContext::Err(text);
        return false;
    });
    if (arguments.size() < 2) {
        std::fputs(CliHelp::Overview().toLocal8Bit().constData(), stderr);
        return kBadInput;
    }
    const QString first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        CliContext::Out(CliHelp::Overview());
        return Finish(kDone);
    }
    if (first == QLatin1String("--version")) {
        CliContext::Out(CliHelp::VersionText());
        return Finish(kDone);
    }
    if (first == QLatin1String("--man")) {
        CliContext::Out(CliHelp::ManPage());
        return Finish(kDone);
    }
    const CliHelp::Command *command = CliHelp::Find(first);
    if (!command) {
        CliContext::Err(
            QStringLiteral("\"%1\" is no command of tarvik-cli; \"tarvik-cli --help\" lists "
                           "them.")
                .arg(first));
        return kBadInput;
    }
    m_name = first;
    if (!m_cli.args.Parse(*command, arguments.mid(2))) {
        CliContext::Err(
            m_cli.args.Error() + QStringLiteral(" (\"tarvik-cli %1 --help\")").arg(m_name));
        return kBadInput;
    }
    if (m_cli.args.Has(QStringLiteral("--help"))) {
        CliContext::Out(CliHelp::HelpText(*command));
        return Finish(kDone);
    }
    // Everything the arguments name is checked before a port is opened or a file read.
    m_cli.startDir = QDir::currentPath();
    QStringList looked;
    m_cli.dataDir = DataFolder::Find(m_cli.startDir, qEnvironmentVariable("TARVIK_DATA"),
        DataFolder::InstalledDir(QCoreApplication::applicationDirPath()), &looked);
    m_looked = looked.join(QStringLiteral(", "));
    if (const int refused = Prepare(*command); refused != kDone) {
        CliContext::Err(m_prepareError + QStringLiteral(" (\"tarvik-cli %1 --help\")").arg(m_name));
        return refused;
    }
    // The data files are opened by bare name: the program works in their folder, the user's
    // paths made absolute against the folder it was started in.
    // A port given relative to the starting folder (a simulator's link) is made a device path
    // first.
    m_cli.port = SerialPortList::Resolved(m_cli.args.Value(QStringLiteral("--port")));
    CliAudit::SetStartFolder(m_cli.startDir);
    CliRecords::WatchTrail();
    if (!m_cli.dataDir.isEmpty() && m_cli.dataDir != m_cli.startDir)
        QDir::setCurrent(m_cli.dataDir);
    const int code = Dispatch(*command);
    CliRecords(m_cli).DeliverIfAppended();
    return Finish(code);
}

int CliProgram::Finish(int code)
{
    if (!CliContext::OutputFailed() && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        CliContext::SetOutputFailed(QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
    if (!CliContext::OutputFailed())
        return code;
    CliContext::Err(
        QStringLiteral("Could not write the output: %1.").arg(CliContext::OutputError()));
    return code == kDone ? kMeterFailed : code;
}

namespace {
bool IsMeterFileName(const QString &path)
{
    return path.endsWith(MeterSeries::Extension(MeterSeries::Kelvane), Qt::CaseInsensitive)
        || path.endsWith(MeterSeries::Extension(MeterSeries::Quixal), Qt::CaseInsensitive);
}

// Whether the file at path holds a meter image, whatever its name.
bool HoldsMeterImage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString line = CMeterDoc::MeterLine(file.read(64));
    return line.size() >= 9 && ZarnFormRules::ImageBytes(line, 3) == 3;
}
} // namespace

QString CliProgram::OutputRefusal(
    const QString &given, const QString &path, OutputKind kind, const QString &input) const
{
    const QFileInfo info(path);
    // A link is an existing output even when what it points to is gone.
    const bool exists = info.exists() || info.isSymLink();
    // A FIFO, a terminal or /dev/stdout: nothing is read from it first (that would wait for a
    // writer), and nothing is replaced there.
    const bool inPlace = LogFileWriter::WritesInPlace(path);
    if (kind == OutputKind::Log
        && (IsMeterFileName(path) || (exists && !inPlace && HoldsMeterImage(path))))
        return QStringLiteral("%1 is a meter file; a log is never written over one.").arg(given);
    if (exists && info.isDir())
        return QStringLiteral("%1 is a folder; give a file name.").arg(given);
    if (inPlace)
        return kind == OutputKind::Log
            ? QString()
            : QStringLiteral("%1 is no regular file; give a file name.").arg(given);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("%1: the folder %2 does not exist.").arg(given, info.absolutePath());
    if (!folder.isWritable())
        return QStringLiteral("%1: the folder %2 cannot be written.")
            .arg(given, info.absolutePath());
    if (m_cli.args.Has(QStringLiteral("--force")) || !exists)
        return QString();
    if (!input.isEmpty() && QFileInfo(input).exists()
        && QFileInfo(input).canonicalFilePath() == info.canonicalFilePath())
        return QStringLiteral("%1 is the input file itself; --force to replace it.").arg(given);
    if (info.isSymLink())
        return QStringLiteral("%1 exists (a link to %2); --force to replace it.")
            .arg(given, info.symLinkTarget());
    return QStringLiteral("%1 exists; --force to replace it.").arg(given);
}

int CliProgram::Prepare(const CliHelp::Command &command)
{
    const auto refuse = [this](const QString &text) {
        m_prepareError = text;
        return kBadInput;
    };
    if (m_cli.args.Has(QStringLiteral("--baud"))
        && !SerialPort::BaudTexts().contains(m_cli.args.Value(QStringLiteral("--baud"))))
        return refuse(QStringLiteral("--baud %1 is no speed of the meter link: give %2.")
                          .arg(m_cli.args.Value(QStringLiteral("--baud")),
                              SerialPort::BaudTexts().join(QStringLiteral(", "))));
    if (m_cli.args.Has(QStringLiteral("--pace"))) {
        bool ok = false;
        const double pace = m_cli.args.Value(QStringLiteral("--pace")).toDouble(&ok);
        if (!ok || !(pace > 0 && pace <= 1))
            return refuse(QStringLiteral("--pace %1 is no factor: give a number above 0 and at "
                                         "most 1 (1 for a real meter).")
                              .arg(m_cli.args.Value(QStringLiteral("--pace"))));
    }
    if (m_cli.args.Has(QStringLiteral("--parity"))
        && !mbCSerial::ParityTexts().contains(m_cli.args.Value(QStringLiteral("--parity"))))
        return refuse(QStringLiteral("--parity \"%1\" is no character format: give \"%2\".")
                          .arg(m_cli.args.Value(QStringLiteral("--parity")),
                              mbCSerial::ParityTexts().join(QStringLiteral("\", \""))));
    if (QString why; !CliRecords::CheckDb(m_cli, &why))
        return refuse(why);
    const QString name = QLatin1String(command.name);
    // The commands that read meter files or run command lists need the data files.
    const bool needsData = name == QLatin1String("show") || name == QLatin1String("set")
        || name == QLatin1String("convert") || name == QLatin1String("sheet")
        || name == QLatin1String("read") || name == QLatin1String("send");
    if (needsData && m_cli.dataDir.isEmpty()) {
        const QString file = m_cli.args.Plain().value(0);
        const QString layout = file.isEmpty() ? QString::fromLatin1(DataFolder::kMarkerFile)
                                              : SeriesModels::OfPath(file)->LayoutFile();
        return refuse(
            QStringLiteral("%1cannot run without the layout file %2, and no data "
                           "folder was found: looked in %3.")
                .arg(file.isEmpty() ? QString() : file + QStringLiteral(": "), layout, m_looked));
    }
    // Outputs: the folder must be there, and nothing is replaced unasked.
    const QString input
        = m_cli.args.Plain().isEmpty() ? QString() : m_cli.UserPath(m_cli.args.Plain().at(0));
    QString given;
    OutputKind kind = OutputKind::MeterFile;
    if ((name == QLatin1String("sheet") || name == QLatin1String("report"))
        && m_cli.args.Has(QStringLiteral("--pdf"))) {
        given = CliContext::PdfName(m_cli.args.Value(QStringLiteral("--pdf")));
        kind = OutputKind::Other;
    } else if ((name == QLatin1String("read") || name == QLatin1String("set")
                   || name == QLatin1String("convert") || name == QLatin1String("log")
                   || name == QLatin1String("transfer"))
        && m_cli.args.Has(QStringLiteral("--out"))) {
        given = m_cli.args.Value(QStringLiteral("--out"));
        if (given.isEmpty())
            return refuse(QStringLiteral("--out needs a file name."));
        if (name == QLatin1String("log") || name == QLatin1String("transfer"))
            kind = OutputKind::Log;
    }
    // The log on standard output ("-") replaces nothing.
    if (!given.isEmpty()
        && !(kind == OutputKind::Log && given == QLatin1String("-")
            && name == QLatin1String("log"))) {
        const QString refusal = OutputRefusal(given, m_cli.UserPath(given), kind, input);
        if (!refusal.isEmpty())
            return refuse(refusal);
    }
    return kDone;
}

int CliProgram::Dispatch(const CliHelp::Command &command)
{
    const QString name = QLatin1String(command.name);
    CliFileCommands files(m_cli);
    CliMeterCommands meter(m_cli);
    if (name == QLatin1String("ports"))
        return files.Ports();
    if (name == QLatin1String("show"))
        return files.Show();
    if (name == QLatin1String("set"))
        return files.Set();
    if (name == QLatin1String("convert"))
        return files.Convert();
    if (name == QLatin1String("sheet"))
        return files.Sheet();
    if (name == QLatin1String("identify"))
        return m_cli.RunDialogue(meter.Identify());
    if (name == QLatin1String("read"))
        return m_cli.RunDialogue(meter.Read());
    if (name == QLatin1String("send"))
        return m_cli.RunDialogue(meter.Send());
    if (name == QLatin1String("log") || name == QLatin1String("modbus")) {
        CliPublishing publishing(m_cli);
        if (!publishing.Start())
            return m_cli.code;
        CliModbusCommand modbus(m_cli);
        const int code = name == QLatin1String("log") ? CliLogCommands(m_cli).Log()
                                                      : m_cli.RunDialogue(modbus.Modbus());
        publishing.Finish();
        return code;
    }
    if (name == QLatin1String("transfer"))
        return CliLogCommands(m_cli).Transfer();
    if (name == QLatin1String("watch"))
        return CliLogCommands(m_cli).Watch();
    if (name == QLatin1String("diff"))
        return m_cli.RunDialogue(meter.Diff());
    if (name == QLatin1String("report"))
        return files.Report();
    if (name == QLatin1String("history"))
        return CliRecords(m_cli).History();
    CliContext::Err(
        QStringLiteral("%1 is not built into this version of tarvik-cli yet.").arg(name));
    return kBadInput;
}

#include "cli/CliProgram.h"

#include "audit/AsFoundStore.h"
#include "audit/AuditSettings.h"
#include "audit/ConfigDiff.h"
#include "base/CsvTime.h"
#include "base/DataFolder.h"
#include "base/DialogueRunner.h"
#include "base/OperatorIds.h"
#include "base/ReadingSink.h"
#include "base/SheetPdf.h"
#include "base/UserMessage.h"
#include "cli/CliAudit.h"
#include "cli/CliDatalog.h"
#include "cli/CliMeter.h"
#include "cli/CliMeterFile.h"
#include "cli/CliSignals.h"
#include "datalog/LogFileWriter.h"
#include "link/SerialPortList.h"
#include "link/mbCSerial.h"
#include "meter/CMeterDoc.h"
#include "meter/FormSendCheck.h"
#include "meter/MeterIdentText.h"
#include "meter/MeterSeries.h"
#include "meter/ZarnFormRules.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusPoller.h"
#include "publish/MqttPublisher.h"
#include "publish/PublishSettings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
// The first failure to write standard output, with the system's reason; the run then ends
// with status 1 however it went, as output lost on a full disk is no success.
bool g_outputFailed = false;
QString g_outputError;

void Out(const QString &text)
{
    if (g_outputFailed)
        return;
    const QByteArray bytes = text.toLocal8Bit();
    errno = 0;
    if (std::fputs(bytes.constData(), stdout) < 0 || std::fflush(stdout) != 0) {
        g_outputFailed = true;
        g_outputError = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    }
}

void Err(const QString &text)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char('\n'), QStringLiteral("\ntarvik-cli: "));
    std::fprintf(stderr, "tarvik-cli: %s\n", t.toLocal8Bit().constData());
}
} // namespace

CliProgram::CliProgram() = default;
CliProgram::~CliProgram() = default;

int CliProgram::Run(const QStringList &arguments)
{
    // Ctrl+C is taken from the start, so it never kills the program in the middle of a step.
    m_signals = std::make_unique<CliSignals>();
    // Messages the shared code would show in a box go to standard error; its questions (none
    // are asked on these paths) are answered No, so nothing is replaced unasked.
    UserMessage::SetHandler([](const QString &text, const QString &) { Err(text); });
    UserMessage::SetAskHandler([](const QString &text, const QString &) {
        Err(text);
        return false;
    });
    if (arguments.size() < 2) {
        std::fputs(CliHelp::Overview().toLocal8Bit().constData(), stderr);
        return kBadInput;
    }
    const QString first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        Out(CliHelp::Overview());
        return Finish(kDone);
    }
    if (first == QLatin1String("--version")) {
        Out(CliHelp::VersionText());
        return Finish(kDone);
    }
    if (first == QLatin1String("--man")) {
        Out(CliHelp::ManPage());
        return Finish(kDone);
    }
    const CliHelp::Command *command = CliHelp::Find(first);
    if (!command) {
        Err(QStringLiteral("\"%1\" is no command of tarvik-cli; \"tarvik-cli --help\" lists "
                           "them.")
                .arg(first));
        return kBadInput;
    }
    m_name = first;
    if (!m_args.Parse(*command, arguments.mid(2))) {
        Err(m_args.Error() + QStringLiteral(" (\"tarvik-cli %1 --help\")").arg(m_name));
        return kBadInput;
    }
    if (m_args.Has(QStringLiteral("--help"))) {
        Out(CliHelp::HelpText(*command));
        return Finish(kDone);
    }
    // Everything the arguments name is checked before a port is opened or a file read.
    m_startDir = QDir::currentPath();
    QStringList looked;
    m_dataDir = DataFolder::Find(m_startDir, qEnvironmentVariable("TARVIK_DATA"),
        DataFolder::InstalledDir(QCoreApplication::applicationDirPath()), &looked);
    m_looked = looked.join(QStringLiteral(", "));
    if (const int refused = Prepare(*command); refused != kDone) {
        Err(m_prepareError + QStringLiteral(" (\"tarvik-cli %1 --help\")").arg(m_name));
        return refused;
    }
    // The data files are opened by bare name: the program works in their folder, the user's
    // paths made absolute against the folder it was started in.
    // A port given relative to the starting folder (a simulator's link) is made a device path
    // first.
    m_port = SerialPortList::Resolved(m_args.Value(QStringLiteral("--port")));
    CliAudit::SetStartFolder(m_startDir);
    if (!m_dataDir.isEmpty() && m_dataDir != m_startDir)
        QDir::setCurrent(m_dataDir);
    return Finish(Dispatch(*command));
}

int CliProgram::Finish(int code)
{
    if (!g_outputFailed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        g_outputFailed = true;
        g_outputError = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    }
    if (!g_outputFailed)
        return code;
    Err(QStringLiteral("Could not write the output: %1.").arg(g_outputError));
    return code == kDone ? kMeterFailed : code;
}

bool CliProgram::OutputFailed()
{
    return g_outputFailed;
}

QString CliProgram::UserPath(const QString &given) const
{
    if (given.isEmpty() || m_dataDir.isEmpty() || m_dataDir == m_startDir)
        return given;
    return QDir(m_startDir).absoluteFilePath(given);
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
    if (m_args.Has(QStringLiteral("--force")) || !exists)
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
    if (m_args.Has(QStringLiteral("--baud"))
        && !SerialPort::BaudTexts().contains(m_args.Value(QStringLiteral("--baud"))))
        return refuse(QStringLiteral("--baud %1 is no speed of the meter link: give %2.")
                          .arg(m_args.Value(QStringLiteral("--baud")),
                              SerialPort::BaudTexts().join(QStringLiteral(", "))));
    if (m_args.Has(QStringLiteral("--pace"))) {
        bool ok = false;
        const double pace = m_args.Value(QStringLiteral("--pace")).toDouble(&ok);
        if (!ok || !(pace > 0 && pace <= 1))
            return refuse(QStringLiteral("--pace %1 is no factor: give a number above 0 and at "
                                         "most 1 (1 for a real meter).")
                              .arg(m_args.Value(QStringLiteral("--pace"))));
    }
    if (m_args.Has(QStringLiteral("--parity"))
        && !mbCSerial::ParityTexts().contains(m_args.Value(QStringLiteral("--parity"))))
        return refuse(QStringLiteral("--parity \"%1\" is no character format: give \"%2\".")
                          .arg(m_args.Value(QStringLiteral("--parity")),
                              mbCSerial::ParityTexts().join(QStringLiteral("\", \""))));
    const QString name = QLatin1String(command.name);
    // The commands that read meter files or run command lists need the data files.
    const bool needsData = name == QLatin1String("show") || name == QLatin1String("set")
        || name == QLatin1String("convert") || name == QLatin1String("sheet")
        || name == QLatin1String("read") || name == QLatin1String("send");
    if (needsData && m_dataDir.isEmpty()) {
        const QString file = m_args.Plain().value(0);
        const QString layout = file.isEmpty()
            ? QString::fromLatin1(DataFolder::kMarkerFile)
            : CliMeterFile(CliMeterFile::SeriesOfPath(file)).Model().LayoutFile();
        return refuse(
            QStringLiteral("%1cannot run without the layout file %2, and no data "
                           "folder was found: looked in %3.")
                .arg(file.isEmpty() ? QString() : file + QStringLiteral(": "), layout, m_looked));
    }
    // Outputs: the folder must be there, and nothing is replaced unasked.
    const QString input = m_args.Plain().isEmpty() ? QString() : UserPath(m_args.Plain().at(0));
    QString given;
    OutputKind kind = OutputKind::MeterFile;
    if ((name == QLatin1String("sheet") || name == QLatin1String("report"))
        && m_args.Has(QStringLiteral("--pdf"))) {
        given = PdfName(m_args.Value(QStringLiteral("--pdf")));
        kind = OutputKind::Other;
    } else if ((name == QLatin1String("read") || name == QLatin1String("set")
                   || name == QLatin1String("convert") || name == QLatin1String("log")
                   || name == QLatin1String("transfer"))
        && m_args.Has(QStringLiteral("--out"))) {
        given = m_args.Value(QStringLiteral("--out"));
        if (given.isEmpty())
            return refuse(QStringLiteral("--out needs a file name."));
        if (name == QLatin1String("log") || name == QLatin1String("transfer"))
            kind = OutputKind::Log;
    }
    if (!given.isEmpty()) {
        const QString refusal = OutputRefusal(given, UserPath(given), kind, input);
        if (!refusal.isEmpty())
            return refuse(refusal);
    }
    return kDone;
}

QString CliProgram::PdfName(const QString &given)
{
    // As the form's export names it: ".pdf" added when missing, so a meter file given by
    // mistake is never written over.
    if (given.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return given;
    return given + QStringLiteral(".pdf");
}

bool CliProgram::Progress() const
{
    return !m_args.Has(QStringLiteral("--quiet"))
        && CliSignals::IsTerminal(CliSignals::Stream::Error);
}

int CliProgram::Dispatch(const CliHelp::Command &command)
{
    const QString name = QLatin1String(command.name);
    if (name == QLatin1String("ports"))
        return Ports();
    if (name == QLatin1String("show"))
        return Show();
    if (name == QLatin1String("set"))
        return Set();
    if (name == QLatin1String("convert"))
        return Convert();
    if (name == QLatin1String("sheet"))
        return Sheet();
    if (name == QLatin1String("identify"))
        return RunDialogue(Identify());
    if (name == QLatin1String("read"))
        return RunDialogue(Read());
    if (name == QLatin1String("send"))
        return RunDialogue(Send());
    if (name == QLatin1String("log")) {
        if (!StartPublishing())
            return m_code;
        const int code = Log();
        FinishPublishing();
        return code;
    }
    if (name == QLatin1String("transfer"))
        return Transfer();
    if (name == QLatin1String("modbus")) {
        if (!StartPublishing())
            return m_code;
        const int code = RunDialogue(Modbus());
        FinishPublishing();
        return code;
    }
    if (name == QLatin1String("diff"))
        return RunDialogue(Diff());
    if (name == QLatin1String("report"))
        return Report();
    Err(QStringLiteral("%1 is not built into this version of tarvik-cli yet.").arg(name));
    return kBadInput;
}

int CliProgram::RunDialogue(Task<void> dialogue)
{
    DialogueRunner runner;
    // A Ctrl+C that came before the dialogue could start: nothing is begun.
    if (m_signals->Interrupted()) {
        Err(QStringLiteral("Interrupted before anything was done."));
        return kMeterFailed;
    }
    QObject::connect(m_signals.get(), &CliSignals::Interrupt, &runner, &DialogueRunner::Cancel);
    m_runner = &runner;
    bool finished = false;
    runner.Start(std::move(dialogue), [&finished] {
        finished = true;
        QCoreApplication::exit(0);
    });
    if (!finished)
        QCoreApplication::exec();
    m_runner = nullptr;
    if (m_signals->Interrupted() && m_code == kDone)
        m_code = kMeterFailed;
    return m_code;
}

QString CliProgram::Baud() const
{
    return m_args.Has(QStringLiteral("--baud")) ? m_args.Value(QStringLiteral("--baud"))
                                                : QStringLiteral("9600");
}

double CliProgram::Pace() const
{
    // Checked before the run: above 0 and at most 1.
    bool ok = false;
    const double pace = m_args.Value(QStringLiteral("--pace")).toDouble(&ok);
    return ok ? pace : 1.0;
}

QString CliProgram::PortArg()
{
    return m_port;
}

QString CliProgram::Capital(const QString &text)
{
    return text.isEmpty() ? text : text.at(0).toUpper() + text.mid(1);
}

QString CliProgram::Silent(const CliMeter &meter)
{
    return meter.Link().SilentText();
}

std::unique_ptr<CliMeterFile> CliProgram::OpenFile(const QString &path)
{
    auto file = std::make_unique<CliMeterFile>(CliMeterFile::SeriesOfPath(path));
    QString error;
    if (file->Open(path, &error))
        return file;
    Err(error);
    return nullptr;
}

int CliProgram::Ports()
{
    QJsonArray list;
    QString text;
    // The ports present first; the COM names of no device only when asked for.
    QList<SerialPortList::Entry> present;
    QList<SerialPortList::Entry> absent;
    for (const SerialPortList::Entry &e : SerialPortList::Entries())
        (QFileInfo::exists(e.device) ? present : absent) << e;
    if (m_args.Has(QStringLiteral("--all")))
        present += absent;
    for (const SerialPortList::Entry &e : std::as_const(present)) {
        text += QStringLiteral("%1\t%2\t%3\n").arg(e.port, e.device, e.what);
        list.append(QJsonObject { { QStringLiteral("port"), e.port },
            { QStringLiteral("device"), e.device }, { QStringLiteral("what"), e.what } });
    }
    if (m_args.Has(QStringLiteral("--json")))
        Out(QString::fromUtf8(QJsonDocument(list).toJson()));
    else
        Out(text);
    return kDone;
}

int CliProgram::Show()
{
    if (m_args.Plain().size() != 1) {
        Err(QStringLiteral("show takes one meter file."));
        return kBadInput;
    }
    const QString path = UserPath(m_args.Plain().at(0));
    const std::unique_ptr<CliMeterFile> file = OpenFile(path);
    if (!file)
        return kBadInput;
    const auto rows = file->Rows();
    if (m_args.Has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const auto &row : rows)
            list.append(QJsonObject { { QStringLiteral("caption"), row.caption },
                { QStringLiteral("id"), row.id }, { QStringLiteral("text"), row.text } });
        Out(QString::fromUtf8(QJsonDocument(list).toJson()));
        return kDone;
    }
    QString text;
    for (const auto &row : rows)
        text += QStringLiteral("%1\t%2\t%3\n").arg(row.caption).arg(row.id).arg(row.text);
    Out(text);
    return kDone;
}

int CliProgram::Set()
{
    const QStringList plain = m_args.Plain();
    if (plain.size() < 2) {
        Err(QStringLiteral("set takes a meter file and at least one NAME=VALUE."));
        return kBadInput;
    }
    const QString path = UserPath(plain.at(0));
    const std::unique_ptr<CliMeterFile> file = OpenFile(path);
    if (!file)
        return kBadInput;
    const std::vector<ConfigDiff::Field> before = CliAudit::Fields(*file);
    for (int i = 1; i < plain.size(); ++i) {
        const int equals = plain.at(i).indexOf(QLatin1Char('='));
        if (equals <= 0) {
            Err(QStringLiteral("\"%1\" is not NAME=VALUE.").arg(plain.at(i)));
            return kBadInput;
        }
        const QString refusal = file->Set(plain.at(i).left(equals), plain.at(i).mid(equals + 1));
        if (!refusal.isEmpty()) {
            Err(refusal + QStringLiteral("\nNothing was written."));
            return kBadInput;
        }
    }
    const QString out = m_args.Has(QStringLiteral("--out"))
        ? UserPath(m_args.Value(QStringLiteral("--out")))
        : path;
    QString error;
    const bool saved = file->Save(out, &error);
    const CliAudit audit(m_args);
    AuditRecord record = audit.Record(QStringLiteral("save"));
    CliAudit::Describe(record, *file, saved ? out : QString());
    record.changes = ConfigDiff::Compare(before, CliAudit::Fields(*file)).changes;
    record.result = saved ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message
        = saved ? QStringLiteral("from %1").arg(QFileInfo(path).absoluteFilePath()) : error;
    audit.Append(record);
    if (!saved) {
        Err(error);
        return kMeterFailed;
    }
    return kDone;
}

int CliProgram::Convert()
{
    if (m_args.Plain().size() != 1 || !m_args.Has(QStringLiteral("--to"))
        || !m_args.Has(QStringLiteral("--out"))) {
        Err(QStringLiteral("convert takes one meter file, --to VERSION and --out FILE2."));
        return kBadInput;
    }
    const QString path = UserPath(m_args.Plain().at(0));
    const QString out = UserPath(m_args.Value(QStringLiteral("--out")));
    const std::unique_ptr<CliMeterFile> file = OpenFile(path);
    if (!file)
        return kBadInput;
    QString error;
    const bool converted
        = file->Convert(m_args.Value(QStringLiteral("--to")), &error) && file->Save(out, &error);
    const CliAudit audit(m_args);
    AuditRecord record = audit.Record(QStringLiteral("convert"));
    CliAudit::Describe(record, *file, converted ? out : QString());
    record.result = converted ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message = converted
        ? QStringLiteral("%1 converted to %2")
              .arg(QFileInfo(path).absoluteFilePath(), m_args.Value(QStringLiteral("--to")))
        : error;
    audit.Append(record);
    if (!converted) {
        Err(error);
        return kBadInput;
    }
    return kDone;
}

int CliProgram::Sheet()
{
    const bool text = m_args.Has(QStringLiteral("--text"));
    if (m_args.Plain().size() != 1 || (!text && !m_args.Has(QStringLiteral("--pdf")))) {
        Err(QStringLiteral("sheet takes one meter file and --pdf OUT (or --text)."));
        return kBadInput;
    }
    const QString path = UserPath(m_args.Plain().at(0));
    const std::unique_ptr<CliMeterFile> file = OpenFile(path);
    if (!file)
        return kBadInput;
    const QDateTime now = QDateTime::currentDateTime();
    if (m_args.Has(QStringLiteral("--pdf"))) {
        // The sheet prints no operator; a registered ID gives its name (none, the operator of
        // the settings), and the name goes into the PDF's properties.
        const QString given = m_args.Value(QStringLiteral("--operator")).trimmed();
        const QString registered = OperatorIds::NameOf(given);
        const QString operatorName = !registered.isEmpty() ? registered
            : !given.isEmpty()                             ? given
                                                           : AuditSettings::Operator();
        const QString named = PdfName(m_args.Value(QStringLiteral("--pdf")));
        const QString out = UserPath(named);
        if (QFileInfo(out).canonicalFilePath() == QFileInfo(path).canonicalFilePath()) {
            Err(QStringLiteral("%1 is the meter file itself; give the PDF another name.").arg(out));
            return kBadInput;
        }
        const bool written = SheetPdf::Write(
            out, [&](const SheetMetrics &metrics) { return file->Sheet(metrics, now); },
            SheetPdf::DefaultLayout(), QFileInfo(path).fileName(),
            operatorName.isEmpty() ? QStringLiteral("Tarvik")
                                   : QStringLiteral("Tarvik, operator %1").arg(operatorName));
        if (!written) {
            Err(QStringLiteral("The datasheet could not be written to %1.").arg(named));
            return kMeterFailed;
        }
        if (!text)
            Out(named + QLatin1Char('\n'));
    }
    if (text)
        Out(file->Sheet(SheetMetrics {}, now).Texts().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return kDone;
}

Task<void> CliProgram::Identify()
{
    if (PortArg().isEmpty()) {
        Err(QStringLiteral("identify needs --port."));
        m_code = kBadInput;
        co_return;
    }
    CliMeter meter(PortArg(), Baud(), Progress(), Pace());
    if (!OpenMeter(meter))
        co_return;
    CliMeter::Identity id;
    if (!co_await meter.Identify(*m_runner, &id)) {
        Err(m_runner->Cancelled() ? QStringLiteral("Interrupted.")
                : id.answered     ? QStringLiteral("%1 answered but did not identify itself.")
                                    .arg(Capital(meter.Where()))
                              : Silent(meter));
        m_code = kMeterFailed;
        co_return;
    }
    const MeterSeries::Series series = MeterSeries::OfVersion(id.version);
    const QString seriesName
        = series == MeterSeries::Unknown ? QStringLiteral("unknown") : MeterSeries::Name(series);
    if (m_args.Has(QStringLiteral("--json"))) {
        Out(QString::fromUtf8(QJsonDocument(
            QJsonObject { { QStringLiteral("series"), seriesName },
                { QStringLiteral("model"), id.model }, { QStringLiteral("version"), id.version },
                { QStringLiteral("revision"), id.revision }, { QStringLiteral("range"), id.range },
                { QStringLiteral("serial"),
                    id.serial } }).toJson()));
    } else {
        Out(QStringLiteral(
            "series\t%1\nmodel\t%2\nversion\t%3\nrevision\t%4\nrange\t%5\nserial\t%6\n")
                .arg(seriesName, id.model, id.version, id.revision, id.range,
                    id.serial.isEmpty() ? MeterIdentText::NotRead() : id.serial));
    }
}

Task<void> CliProgram::Read()
{
    if (PortArg().isEmpty() || !m_args.Plain().isEmpty()) {
        Err(QStringLiteral("read takes --port P [--out FILE] and nothing else."));
        m_code = kBadInput;
        co_return;
    }
    CliMeter meter(PortArg(), Baud(), Progress(), Pace());
    if (!OpenMeter(meter))
        co_return;
    // A meter that is not there is said within seconds, not after the list's time-outs.
    CliMeter::Identity id;
    const bool identified = co_await meter.Identify(*m_runner, &id);
    if (m_runner->Cancelled() || !id.answered) {
        Err(m_runner->Cancelled() ? QStringLiteral("Interrupted; nothing was written.")
                                  : Silent(meter) + QStringLiteral(" Nothing was written."));
        m_code = kMeterFailed;
        co_return;
    }
    // The series decides the list and the file type: a given --out names it, else the meter.
    const bool named = m_args.Has(QStringLiteral("--out"));
    const bool force = m_args.Has(QStringLiteral("--force"));
    CliMeterFile::Series series = CliMeterFile::Series::Kelvane;
    if (named) {
        series = CliMeterFile::SeriesOfPath(m_args.Value(QStringLiteral("--out")));
    } else {
        if (!identified) {
            Err(QStringLiteral("%1 did not identify itself; nothing was written.")
                    .arg(Capital(meter.Where())));
            m_code = kMeterFailed;
            co_return;
        }
        if (MeterSeries::OfVersion(id.version) == MeterSeries::Quixal)
            series = CliMeterFile::Series::Quixal;
    }
    CliMeterFile file(series);
    if (!named) {
        // The name the read will give, known from the identification: an as-found copy there
        // is not read over.
        const QString expected
            = QDir(m_startDir)
                  .filePath(file.Model().FileName(id.serial.trimmed(), id.range.trimmed()));
        if (!force && QFileInfo::exists(expected)) {
            Err(QStringLiteral("%1 exists; --force to replace it. Nothing was read.")
                    .arg(expected));
            m_code = kBadInput;
            co_return;
        }
    }
    const CliAudit audit(m_args);
    AuditRecord record = audit.Record(QStringLiteral("read"));
    record.model = id.model.trimmed(); // the image holds no model: the meter's screen names it
    QString error;
    const int result = co_await meter.RunList(
        *m_runner, file.Model().ReadList(), file.Fields(), file.Model().ReadPeriodMs(), &error);
    if (result != 0 || !file.FinishRead(&error)) {
        Err(error + QStringLiteral("\nNothing was written."));
        m_code = result == 2 ? kBadInput : kMeterFailed;
        record.series = CliMeterFile::SeriesName(series);
        record.result
            = m_runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed");
        record.message = error;
        audit.Append(record);
        co_return;
    }
    const QString out = named ? UserPath(m_args.Value(QStringLiteral("--out")))
                              : QDir(m_startDir).filePath(file.ProposedName());
    const QFileInfo outInfo(out);
    if (!named && !force && (outInfo.exists() || outInfo.isSymLink())) {
        Err(QStringLiteral("%1 exists; --force to replace it. Nothing was written.").arg(out));
        m_code = kBadInput;
        co_return;
    }
    const bool saved = file.Save(out, &error);
    CliAudit::Describe(record, file, saved ? out : QString());
    record.result = saved ? QStringLiteral("ok") : QStringLiteral("failed");
    record.message = saved ? QString() : error;
    audit.Append(record);
    if (!saved) {
        Err(error);
        m_code = kMeterFailed;
        co_return;
    }
    Out((named ? m_args.Value(QStringLiteral("--out")) : out) + QLatin1Char('\n'));
}

Task<void> CliProgram::Send()
{
    if (PortArg().isEmpty() || m_args.Plain().size() != 1) {
        Err(QStringLiteral("send takes one meter file and --port P."));
        m_code = kBadInput;
        co_return;
    }
    const QString path = UserPath(m_args.Plain().at(0));
    CliMeterFile file(CliMeterFile::SeriesOfPath(path));
    QString error;
    if (!file.Open(path, &error)) {
        Err(error);
        m_code = kBadInput;
        co_return;
    }
    CliMeter meter(PortArg(), Baud(), Progress(), Pace());
    if (!OpenMeter(meter))
        co_return;
    const CliAudit audit(m_args);
    AuditRecord record = audit.Record(QStringLiteral("send"));
    CliAudit::Describe(record, file, path);
    // Every way a send ends is a line of the trail.
    const auto logged = [&](const QString &result, const QString &message) {
        record.result = result;
        record.message = message.trimmed();
        audit.Append(record);
    };
    // Not even --force sends to a port where nothing answers: a silent meter is said within
    // seconds, naming the port and speed tried.
    CliMeter::Identity probe;
    const bool identified = co_await meter.Identify(*m_runner, &probe);
    if (m_runner->Cancelled() || !probe.answered) {
        const QString said = m_runner->Cancelled()
            ? QStringLiteral("Interrupted before anything was sent.")
            : Silent(meter) + QStringLiteral(" Nothing was sent.");
        Err(said);
        m_code = kMeterFailed;
        record.result
            = m_runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed");
        record.message = said;
        audit.Append(record);
        co_return;
    }
    const bool force = m_args.Has(QStringLiteral("--force"));
    const bool compare
        = AuditSettings::CompareBeforeSend() && !m_args.Has(QStringLiteral("--no-compare"));
    const bool verify
        = AuditSettings::ReadBackAfterSend() && !m_args.Has(QStringLiteral("--no-verify"));
    record.model = probe.model.trimmed();
    // The send is confirmed unless --yes says so; without a terminal to ask, it is not sent.
    // False when the send stops here (said, the trail written).
    const auto confirmed = [&](const QString &question) {
        if (m_args.Has(QStringLiteral("--yes")))
            return true;
        if (!CliSignals::IsTerminal(CliSignals::Stream::Input)) {
            const QString refusal = QStringLiteral(
                "Nothing was sent: with no terminal to ask, confirm the send with --yes.");
            Err(refusal);
            m_code = kBadInput;
            logged(QStringLiteral("cancelled"), refusal);
            return false;
        }
        if (!CliAudit::Confirm(question, *m_signals) || m_runner->Cancelled()) {
            Err(QStringLiteral("Nothing was sent."));
            m_code = kMeterFailed;
            logged(QStringLiteral("cancelled"), QStringLiteral("Nothing was sent."));
            return false;
        }
        return true;
    };
    CliMeter::Identity id;
    if (compare) {
        // The meter read as Read reads it: its series, serial number and range come from what
        // it holds, and what it holds is kept before anything is written.
        CliMeterFile found(file.Kind());
        const int status = co_await ReadMeter(meter, found, &error);
        if (status != kDone) {
            Err(error + QStringLiteral("\nNothing was sent."));
            m_code = status;
            logged(m_runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"),
                error);
            co_return;
        }
        id.version = found.Firmware();
        id.serial = found.Serial();
        id.range = found.ActiveRange();
        record.firmware = AuditRecord::FirmwareText(id.version);
        record.serial = id.serial.trimmed();
        if (!force && id.serial.trimmed() != file.Serial().trimmed()) {
            const QString refusal
                = QStringLiteral("%1 holds serial number %2, but the meter on %3 has serial "
                                 "number %4; nothing was sent (--force sends it anyway).")
                      .arg(path, file.Serial(), PortArg(), id.serial);
            Err(refusal);
            m_code = kBadInput;
            logged(QStringLiteral("refused"), refusal);
            co_return;
        }
        file.PrepareSend(id.range);
        const ConfigDiff::Result diff
            = ConfigDiff::Compare(CliAudit::Fields(found), CliAudit::Fields(file));
        record.changes = diff.changes;
        if (!force && diff.changes.empty()
            && file.Model().ImageBytes() == found.Model().ImageBytes()) {
            // Nothing to write, and no as-found copy of it; --force writes it all the same.
            const QString said = QString::fromLatin1(FormSendCheck::kAlreadyHeldText);
            Out(said + QLatin1Char('\n'));
            logged(QStringLiteral("unchanged"), said);
            co_return;
        }
        const QString kept = AsFoundStore::Save(CliAudit::AsFoundFolder(), id.serial,
            CliMeterFile::Extension(file.Kind()), found.StoredText().toLatin1(),
            QDateTime::currentDateTime(), &error);
        if (kept.isEmpty()) {
            // What the meter held cannot be had back once it is written over: no send.
            Err(error
                + QStringLiteral("\nNothing was sent: the meter's configuration as found could "
                                 "not be kept."));
            m_code = kBadInput;
            logged(QStringLiteral("failed"), error);
            co_return;
        }
        record.asFound = kept;
        Out(ConfigDiff::Text(diff) + QStringLiteral("\nAs found: %1\n").arg(kept));
        if (!confirmed(QStringLiteral("Send %1 change(s) to the meter %2?")
                           .arg(diff.changes.size())
                           .arg(id.serial.trimmed())))
            co_return;
    } else {
        // Without the comparing read, the presence check's identification is the meter's.
        id = probe;
        if (!identified && !force) {
            Err(QStringLiteral("The meter on %1 did not identify itself, so its serial number "
                               "cannot be checked; nothing was sent (--force sends without the "
                               "check).")
                    .arg(PortArg()));
            m_code = kMeterFailed;
            co_return;
        }
        if (identified)
            record.firmware = AuditRecord::FirmwareText(id.version);
        if (identified && !force) {
            if (MeterSeries::OfVersion(id.version) != file.Kind()) {
                Err(QStringLiteral("%1 is a %2 file, but the meter on %3 is a %4 meter "
                                   "(firmware %5); nothing was sent.")
                        .arg(path, CliMeterFile::SeriesName(file.Kind()), PortArg(),
                            MeterSeries::OfVersion(id.version) == MeterSeries::Quixal
                                ? QStringLiteral("Quixal")
                                : QStringLiteral("Kelvane"),
                            id.version));
                m_code = kBadInput;
                co_return;
            }
            if (id.serial.trimmed().isEmpty()) {
                Err(QStringLiteral("%1 holds serial number %2, but the meter on %3 did not tell "
                                   "its own (%4); nothing was sent (--force sends it anyway).")
                        .arg(path, file.Serial(), PortArg(), MeterIdentText::NotRead()));
                m_code = kMeterFailed;
                co_return;
            }
            if (id.serial.trimmed() != file.Serial().trimmed()) {
                Err(QStringLiteral("%1 holds serial number %2, but the meter on %3 has serial "
                                   "number %4; nothing was sent (--force sends it anyway).")
                        .arg(path, file.Serial(), PortArg(), id.serial));
                m_code = kBadInput;
                co_return;
            }
        }
        file.PrepareSend(id.range);
        // No comparing read showed what changes: the send itself is confirmed.
        if (!confirmed(
                QStringLiteral("Send %1 to the meter on %2?").arg(m_args.Plain().at(0), PortArg())))
            co_return;
    }
    bool partly = false;
    const int result = co_await meter.RunList(*m_runner, file.Model().SendList(), file.Fields(),
        file.Model().SendPeriodMs(), &error, &partly);
    if (result != 0) {
        // Cut inside the image (Ctrl+C, the port gone), part of it may be in the meter.
        const QString held = partly
            ? QStringLiteral("The meter may now hold part of the new configuration; read it to "
                             "see what it holds.")
            : result == 1 && !m_runner->Cancelled()
            ? QString()
            : QStringLiteral("The meter may not have stored the configuration; read it to see "
                             "what it holds.");
        Err(error + (held.isEmpty() ? QString() : QLatin1Char('\n') + held));
        m_code = result == 2 ? kBadInput : kMeterFailed;
        logged(m_runner->Cancelled() ? QStringLiteral("cancelled") : QStringLiteral("failed"),
            held.isEmpty() ? error : error + QLatin1Char('\n') + held);
        co_return;
    }
    if (verify) {
        QString mismatch;
        if (!co_await Verify(meter, file, &mismatch)) {
            Err(mismatch);
            m_code = kMeterFailed;
            logged(QStringLiteral("mismatch"), mismatch);
            co_return;
        }
    }
    // Only a read back tells what the meter stored.
    const QString said = verify ? QStringLiteral("Meter stored the configuration")
                                : QString::fromLatin1(FormSendCheck::kAcknowledgedText);
    Out(said + QLatin1Char('\n'));
    logged(QStringLiteral("ok"), said);
}

Task<int> CliProgram::ReadMeter(CliMeter &meter, CliMeterFile &found, QString *error)
{
    const int result = co_await meter.RunList(
        *m_runner, found.Model().ReadList(), found.Fields(), found.Model().ReadPeriodMs(), error);
    if (result != 0)
        co_return result == 2 ? kBadInput : kMeterFailed;
    // A meter of the other series is refused as a file of the other series is.
    if (!found.FinishRead(error))
        co_return MeterSeries::OfVersion(found.Firmware()) == MeterSeries::Unknown ? kMeterFailed
                                                                                   : kBadInput;
    co_return kDone;
}

Task<bool> CliProgram::Verify(CliMeter &meter, CliMeterFile &sent, QString *mismatch)
{
    CliMeterFile stored(sent.Kind());
    QString error;
    if (co_await ReadMeter(meter, stored, &error) != kDone) {
        *mismatch = QStringLiteral("The meter acknowledged the configuration, but it could not "
                                   "be read back, so what it stored is not known:\n%1")
                        .arg(error);
        co_return false;
    }
    *mismatch = sent.Model().StoredDifference(stored.Model());
    co_return mismatch->isEmpty();
}

Task<void> CliProgram::Diff()
{
    const QStringList plain = m_args.Plain();
    const bool withMeter = !PortArg().isEmpty();
    if (plain.size() != (withMeter ? 1 : 2)) {
        Err(QStringLiteral("diff takes two meter files, or one and --port P."));
        m_code = kBadInput;
        co_return;
    }
    const std::unique_ptr<CliMeterFile> a = OpenFile(UserPath(plain.at(0)));
    if (!a) {
        m_code = kBadInput;
        co_return;
    }
    std::unique_ptr<CliMeterFile> b;
    if (!withMeter) {
        b = OpenFile(UserPath(plain.at(1)));
        if (!b) {
            m_code = kBadInput;
            co_return;
        }
        if (b->Kind() != a->Kind()) {
            Err(QStringLiteral("%1 is a %2 file and %3 a %4 file: they have no fields in common.")
                    .arg(plain.at(0), CliMeterFile::SeriesName(a->Kind()), plain.at(1),
                        CliMeterFile::SeriesName(b->Kind())));
            m_code = kBadInput;
            co_return;
        }
    } else {
        CliMeter meter(PortArg(), Baud(), Progress(), Pace());
        if (!OpenMeter(meter))
            co_return;
        b = std::make_unique<CliMeterFile>(a->Kind());
        QString error;
        if (co_await ReadMeter(meter, *b, &error) != kDone) {
            // Not 1: that says "they differ".
            Err(error);
            m_code = kBadInput;
            co_return;
        }
    }
    const ConfigDiff::Result diff = ConfigDiff::Compare(CliAudit::Fields(*a), CliAudit::Fields(*b));
    if (m_args.Has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const AuditRecord::Change &c : diff.changes)
            list.append(QJsonObject { { QStringLiteral("caption"), c.caption },
                { QStringLiteral("id"), c.id }, { QStringLiteral("a"), c.before },
                { QStringLiteral("b"), c.after } });
        Out(QString::fromUtf8(QJsonDocument(list).toJson()));
    } else {
        QString text;
        for (const AuditRecord::Change &c : diff.changes)
            text += QStringLiteral("%1\t%2\t%3\t%4\n")
                        .arg(c.caption)
                        .arg(c.id)
                        .arg(c.before, c.after);
        Out(text);
    }
    m_code = diff.Equal() ? kDone : kMeterFailed;
}

int CliProgram::Report()
{
    const QString pdf = m_args.Has(QStringLiteral("--pdf"))
        ? PdfName(m_args.Value(QStringLiteral("--pdf")))
        : QString();
    return CliAudit(m_args).Report(m_args, pdf, UserPath(pdf));
}

namespace {
// "1-8", "1,3,5" or a mix ("1-3,7"): the addresses in order; empty for a text that names none
// or an address outside 1..247.
QList<int> AddressList(const QString &text)
{
    QList<int> addresses;
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = item.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int first = ends.value(0).trimmed().toInt(&ok1);
        const int last = ends.size() == 2 ? ends.at(1).trimmed().toInt(&ok2) : first;
        if (ends.size() > 2 || !ok1 || !ok2 || first < 1 || last > 247 || last < first)
            return {};
        for (int a = first; a <= last; ++a)
            addresses << a;
    }
    return addresses;
}

QString Csv(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')))
        return field.trimmed();
    QString quoted = field.trimmed();
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

Task<void> CliProgram::Modbus()
{
    const QList<int> addresses = AddressList(m_args.Value(QStringLiteral("--addresses")));
    bool countOk = true, intervalOk = true;
    const int count = m_args.Has(QStringLiteral("--count"))
        ? m_args.Value(QStringLiteral("--count")).toInt(&countOk)
        : 1;
    const int interval = m_args.Has(QStringLiteral("--interval"))
        ? m_args.Value(QStringLiteral("--interval")).toInt(&intervalOk)
        : 1000;
    if (PortArg().isEmpty() || addresses.isEmpty() || !countOk || count < 1 || !intervalOk
        || interval < 0 || !m_args.Plain().isEmpty()) {
        Err(QStringLiteral("modbus takes --port P --addresses A-B (within 1..247) and a count "
                           "of 1 or more (\"tarvik-cli modbus --help\")."));
        m_code = kBadInput;
        co_return;
    }
    const QString port = SerialPortList::Resolved(PortArg());
    mbCSerial serial(port);
    serial.SetPortText(port);
    serial.SetBaudText(Baud());
    serial.SetParityText(m_args.Has(QStringLiteral("--parity"))
            ? m_args.Value(QStringLiteral("--parity"))
            : QStringLiteral("1 8 EVEN 1"));
    if (!serial.OpenPort()) {
        Err(QStringLiteral("Cannot use the port %1.\n%2").arg(port, serial.LastError()));
        m_code = kPortUnusable;
        co_return;
    }
    SerialPort::Claim claim(&serial, this);
    ModbusMaster master(&serial);
    // The addresses are the poller's slots, in order.
    ModbusPoller poller(master, int(addresses.size()));
    ModbusPoller::Hooks hooks;
    hooks.address = [&addresses](int slot) { return QString::number(addresses.at(slot - 1)); };
    // What is published carries each meter's units: one static sweep first.
    QHash<int, std::pair<QString, QString>> units;
    ReadingSink *sink = m_publisher ? ReadingSink::Instance() : nullptr;
    if (sink) {
        hooks.result = [&](const ModbusPoller::Result &r) {
            if (r.ok)
                units[addresses.at(r.slot - 1)]
                    = { master.FlowUnitsText().trimmed(), master.TotalizerUnitsText().trimmed() };
        };
        poller.SetHooks(hooks);
        ModbusPoller::Settings statics;
        statics.dynamic = false;
        statics.keepPolling = true;
        poller.SetSettings(statics);
        co_await poller.Run(*m_runner);
    }
    const bool csv = m_args.Has(QStringLiteral("--csv"));
    if (csv)
        Out(QStringLiteral("sweep,time,%1,address,flow,totalizer,temperature,status\n")
                .arg(QLatin1String(CsvTime::kOffsetHeader)));
    hooks.result = [&](const ModbusPoller::Result &r) {
        const int address = addresses.at(r.slot - 1);
        // A CSV line carries the date and offset (two cells) as every CSV the program writes
        // does; a line for people the clock time alone.
        const QDateTime now = QDateTime::currentDateTime();
        const QString time = csv ? QString::fromLatin1(CsvTime::Format(now))
                                 : now.time().toString(QStringLiteral("HH:mm:ss"));
        if (sink) {
            std::vector<ReadingSink::Value> values;
            if (r.ok)
                values = { { QStringLiteral("flow"), master.FlowText(), units[address].first },
                    { QStringLiteral("totalizer"), master.TotalizerText(), units[address].second },
                    { QStringLiteral("temperature"), master.TemperatureText(),
                        QString(QChar(0xB0)) + QLatin1Char('F') } };
            sink->ModbusReading(
                now, address, values, r.ok ? QString() : master.FailureText(r.address).trimmed());
        }
        if (!r.ok) {
            Err(master.FailureText(r.address));
            m_code = kMeterFailed;
        }
        if (OutputFailed()) {
            poller.Stop(); // nothing more can be recorded: the run ends with the reason
            return;
        }
        // A meter that failed keeps its row, cells empty, the failure in the status column:
        // the CSV alone shows every failure.
        if (csv)
            Out(QStringLiteral("%1,%2,%3,%4,%5,%6,%7\n")
                    .arg(r.sweep)
                    .arg(time)
                    .arg(address)
                    .arg(r.ok ? Csv(master.FlowText()) : QString(),
                        r.ok ? Csv(master.TotalizerText()) : QString(),
                        r.ok ? Csv(master.TemperatureText()) : QString(),
                        r.ok ? QStringLiteral("ok") : Csv(master.FailureText(r.address))));
        else if (!r.ok)
            return;
        else
            Out(QStringLiteral("%1 address %2: flow %3, totalizer %4, temperature %5\n")
                    .arg(time)
                    .arg(address)
                    .arg(master.FlowText().trimmed(), master.TotalizerText().trimmed(),
                        master.TemperatureText().trimmed()));
        if (OutputFailed())
            poller.Stop();
    };
    // Sweeps at the window's pace: a meter per step, a sweep every interval.
    hooks.sweepBegins = [this, &poller] {
        if (OutputFailed())
            poller.Stop();
        return true;
    };
    poller.SetHooks(hooks);
    ModbusPoller::Settings settings;
    settings.sweeps = count;
    settings.periodMs = interval;
    settings.keepPolling = true;
    poller.SetSettings(settings);
    poller.SetNext(1);
    if (!m_runner->Cancelled() && !OutputFailed())
        co_await poller.Run(*m_runner);
    if (m_runner->Cancelled())
        Err(QStringLiteral("Interrupted."));
    serial.ClosePort();
}

std::unique_ptr<CSerial> CliProgram::OpenLink()
{
    const QString port = SerialPortList::Resolved(PortArg());
    LinkTiming timing;
    timing.pacingScale = Pace();
    auto link = std::make_unique<CSerial>(port, timing);
    link->SetPortText(port);
    link->SetBaudText(Baud());
    if (!link->OpenPort()) {
        Err(QStringLiteral("Cannot use the port %1.\n%2").arg(port, link->LastError()));
        m_code = kPortUnusable;
        return nullptr;
    }
    return link;
}

int CliProgram::Log()
{
    bool intervalOk = false, secondsOk = true;
    const int interval = m_args.Value(QStringLiteral("--interval")).toInt(&intervalOk);
    int seconds = m_args.Value(QStringLiteral("--seconds")).toInt(&secondsOk);
    if (m_args.Has(QStringLiteral("--until"))) {
        const QTime until = QTime::fromString(
            m_args.Value(QStringLiteral("--until")), QStringLiteral("HH:mm:ss"));
        secondsOk = until.isValid() && !m_args.Has(QStringLiteral("--seconds"));
        seconds = secondsOk ? QTime::currentTime().secsTo(until) : 0;
        if (seconds < 0)
            seconds += 24 * 3600; // tomorrow at that time
    } else if (!m_args.Has(QStringLiteral("--seconds"))) {
        secondsOk = false;
    }
    std::array<bool, 8> options { true, true, true, true, false, false, false, false };
    bool optionsOk = true;
    if (m_args.Has(QStringLiteral("--options"))) {
        options.fill(false);
        for (const QString &name :
            m_args.Value(QStringLiteral("--options")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
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
    if (PortArg().isEmpty() || !intervalOk || interval < 1 || interval > 24 * 3600 - 1 || !secondsOk
        || seconds < 1 || !m_args.Has(QStringLiteral("--out")) || !optionsOk
        || !m_args.Plain().isEmpty()) {
        Err(QStringLiteral("log takes --port P --interval S (1 or more) --seconds N or --until "
                           "hh:mm:ss, --out FILE and --options from %1 (\"tarvik-cli log "
                           "--help\").")
                .arg(QStringLiteral("date,time,flow,total,high,low,relay1,relay2")));
        return kBadInput;
    }
    return RunDatalog([&](CliDatalog &datalog) {
        datalog.StartLog(
            UserPath(m_args.Value(QStringLiteral("--out"))), interval, options, seconds);
    });
}

int CliProgram::Transfer()
{
    if (PortArg().isEmpty() || !m_args.Has(QStringLiteral("--out")) || !m_args.Plain().isEmpty()) {
        Err(QStringLiteral("transfer takes --port P --out FILE."));
        return kBadInput;
    }
    return RunDatalog([this](CliDatalog &datalog) {
        datalog.StartTransfer(UserPath(m_args.Value(QStringLiteral("--out"))));
    });
}

bool CliProgram::StartPublishing()
{
    if (!m_args.Has(QStringLiteral("--mqtt")))
        return true;
    PublishSettings settings;
    settings.enabled = true;
    settings.url = m_args.Value(QStringLiteral("--mqtt"));
    if (m_args.Has(QStringLiteral("--topic")))
        settings.topicPrefix = m_args.Value(QStringLiteral("--topic"));
    settings.caFile = UserPath(m_args.Value(QStringLiteral("--mqtt-ca")));
    settings.user = m_args.Value(QStringLiteral("--mqtt-user"));
    settings.password = qEnvironmentVariable("TARVIK_MQTT_PASSWORD");
    m_publisher = std::make_unique<MqttPublisher>();
    MqttPublisher::Timing timing;
    timing.connectTimeoutMs = 5000;
    timing.maxRetryMs = 10000;
    m_publisher->SetTiming(timing);
    const QString error = m_publisher->Start(settings);
    if (!error.isEmpty()) {
        Err(error);
        m_publisher.reset();
        m_code = kBadInput;
        return false;
    }
    // The first attempt decides: taken, or the reason it was not.
    QObject::connect(m_publisher.get(), &MqttPublisher::Changed, [this] {
        if (m_publisher->GetState() != MqttPublisher::State::Connecting)
            QCoreApplication::exit(0);
    });
    QObject::connect(m_signals.get(), &CliSignals::Interrupt, [] { QCoreApplication::exit(0); });
    if (m_publisher->GetState() == MqttPublisher::State::Connecting)
        QCoreApplication::exec();
    QObject::disconnect(m_publisher.get(), &MqttPublisher::Changed, nullptr, nullptr);
    QObject::disconnect(m_signals.get(), &CliSignals::Interrupt, nullptr, nullptr);
    if (m_publisher->GetState() != MqttPublisher::State::Online) {
        Err(m_signals->Interrupted() ? QStringLiteral("Interrupted before anything was done.")
                                     : m_publisher->LastError());
        m_code = m_signals->Interrupted() ? kMeterFailed : kPortUnusable;
        m_publisher.reset();
        return false;
    }
    // Later troubles (the broker gone, a reading refused) are said as they come; the readings
    // wait in the queue meanwhile.
    QObject::connect(
        m_publisher.get(), &MqttPublisher::Problem, [](const QString &message) { Err(message); });
    ReadingSink::Install(m_publisher.get());
    return true;
}

void CliProgram::FinishPublishing()
{
    if (!m_publisher)
        return;
    ReadingSink::Install(nullptr);
    bool drained = false;
    QObject::connect(m_publisher.get(), &MqttPublisher::Drained, [&drained] {
        drained = true;
        QCoreApplication::exit(0);
    });
    m_publisher->Drain(5000);
    if (!drained)
        QCoreApplication::exec();
    if (m_publisher->Queued() > 0)
        Err(QStringLiteral("%1 readings could not be delivered to the MQTT broker.")
                .arg(m_publisher->Queued()));
    m_publisher.reset();
}

bool CliProgram::OpenMeter(CliMeter &meter)
{
    QString error;
    if (meter.Open(&error))
        return true;
    Err(error);
    m_code = kPortUnusable;
    return false;
}

Task<void> CliProgram::CheckAnswers()
{
    CliMeter meter(PortArg(), Baud(), Progress(), Pace());
    if (!OpenMeter(meter))
        co_return;
    CliMeter::Identity id;
    // On its own line: g++ 12 miscompiles a co_await inside a condition.
    const bool identified = co_await meter.Identify(*m_runner, &id, false);
    Q_UNUSED(identified); // an answer without an identification line is a meter all the same
    if (m_runner->Cancelled() || !id.answered) {
        Err(m_runner->Cancelled() ? QStringLiteral("Interrupted; nothing was written.")
                                  : Silent(meter) + QStringLiteral(" Nothing was written."));
        m_code = kMeterFailed;
    }
}

int CliProgram::RunDatalog(const std::function<void(CliDatalog &)> &start)
{
    // A meter that is not there is said within seconds, not after the logger's time-outs.
    if (RunDialogue(CheckAnswers()) != kDone)
        return m_code;
    std::unique_ptr<CSerial> link = OpenLink();
    if (!link)
        return m_code;
    CliDatalog datalog(link.get(), Progress());
    QObject::connect(m_signals.get(), &CliSignals::Interrupt, &datalog, &CliDatalog::Stop);
    bool finished = false;
    QObject::connect(&datalog, &CliDatalog::Finished, [&finished] {
        finished = true;
        QCoreApplication::exit(0);
    });
    start(datalog);
    if (!finished)
        QCoreApplication::exec();
    if (datalog.Status() != 0)
        Err(datalog.Failure());
    else if (!LogFileWriter::WritesInPlace(UserPath(m_args.Value(QStringLiteral("--out")))))
        Out(m_args.Value(QStringLiteral("--out")) + QLatin1Char('\n')); // not into the log itself
    return datalog.Status();
}

#include "cli/CliHelp.h"

#include <QStringList>

#include <algorithm>

namespace {
const char *const kExitStatus[][2] = {
    { "0", "done" },
    { "1",
        "the meter refused, did not answer, holds other values than were sent, or the run was "
        "interrupted; for diff: the two differ; or output (standard output, a file) could not "
        "be written" },
    { "2", "bad arguments, or a file that is missing, unreadable or of the other series" },
    { "3",
        "the port cannot be used (missing, no permission, or held by another program), or "
        "the MQTT broker of --mqtt cannot be reached at the start" },
};

// The version of --json's output: raised when a field is renamed or removed.
constexpr int kJsonFormat = 1;

const char *const kPortText
    = "the meter's serial port: COM1..COM49, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT";

QString OptionLine(const CliHelp::Option &option)
{
    QString head = QLatin1String(option.name);
    if (*option.value)
        head += QLatin1Char(' ') + QLatin1String(option.value);
    return QStringLiteral("  %1  %2\n").arg(head, -22).arg(QLatin1String(option.text));
}

// The publishing options log and modbus share, after a command's own.
std::vector<CliHelp::Option> WithMqtt(std::vector<CliHelp::Option> options)
{
    options.insert(options.end(),
        { { "--mqtt", "URL",
              "also publish each reading to the MQTT broker at mqtt://host:port or "
              "mqtts://host:port" },
            { "--topic", "PREFIX", "the topics' prefix (default tarvik)" },
            { "--mqtt-ca", "FILE", "the CA certificate of an mqtts broker" },
            { "--mqtt-user", "USER",
                "the broker's user name; the password is taken from TARVIK_MQTT_PASSWORD, else "
                "(for the broker and user of the settings) the one the program keeps" },
            { "--mqtt-cert", "FILE",
                "a client certificate (PEM) to log in to an mqtts broker with, with --mqtt-key" },
            { "--mqtt-key", "FILE", "the client certificate's private key (PEM, unencrypted)" },
            { "--mqtt-client-id", "ID",
                "the client id, which names the status topic PREFIX/status/ID (default "
                "tarvik-HOST-PID)" },
            { "--mqtt-discovery", "",
                "announce each meter and quantity for Home Assistant (retained messages under "
                "homeassistant/)" },
            { "--mqtt-discovery-clear", "SERIALS",
                "first clear the retained announcements of these meters (comma-separated "
                "serial numbers), meters that are gone" } });
    return options;
}

// roff needs its backslashes and leading dots and quotes escaped.
QString Roff(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    out.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    QStringList lines = out.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QStringLiteral("\\&"));
    return lines.join(QLatin1Char('\n'));
}
} // namespace

const std::vector<CliHelp::Option> &CliHelp::CommonOptions()
{
    static const std::vector<Option> options = {
        { "--help", "", "this text (also -h)" },
        { "--quiet", "", "no progress on standard error, even on a terminal" },
        { "--db", "URL",
            "the service records: postgresql://USER@HOST[:PORT]/DB or an SQLite file (default: "
            "the settings', else tarvik-records.sqlite beside the audit trail)" },
    };
    return options;
}

const std::vector<CliHelp::Option> &CliHelp::LineOptions(const Command &command)
{
    static const std::vector<Option> none;
    static const std::vector<Option> speed = {
        { "--baud", "N",
            "the port's speed: 9600 (the default, as the settings propose), 14400, 19200, "
            "28800, 33400, 56000, 57600 or 115200" },
    };
    static const std::vector<Option> speedAndPace = {
        speed.front(),
        { "--pace", "FACTOR",
            "scale the pauses between the bytes sent: a number above 0 and at most 1 (1, the "
            "default, for a real meter; a simulated meter takes less)" },
    };
    const bool onPort = std::any_of(command.options.begin(), command.options.end(),
        [](const Option &option) { return QLatin1String(option.name) == QLatin1String("--port"); });
    if (!onPort)
        return none;
    // The Modbus master keeps the protocol's own timing, and watch sends nothing.
    const QLatin1String name(command.name);
    return name == QLatin1String("modbus") || name == QLatin1String("watch") ? speed : speedAndPace;
}

const std::vector<CliHelp::Command> &CliHelp::Commands()
{
    static const std::vector<Command> commands = {
        { "ports", "", "list the serial ports the Settings sheet offers",
            "Lists the serial ports present (COM names whose device exists, and USB adapters "
            "by their by-id names) first, one a line: the port text, its device path and what "
            "it is. --all adds the COM names COM1..COM49 whose device is absent.",
            { { "--json", "", "the list as JSON" },
                { "--all", "", "also the COM names whose device is absent" } } },
        { "identify", "--port P", "the connected meter's series, firmware, revision and serial",
            "Asks the meter for its main screen, as the terminal does when it opens, and prints "
            "the identification line's series, model, firmware version, revision, active range "
            "and serial number. The meter is sent back to its run mode.",
            { { "--port", "P", kPortText }, { "--json", "", "the identification as JSON" } } },
        { "read", "--port P [--out FILE]", "read the meter's configuration into a meter file",
            "Runs the series' read list (read20.que or qxread.que) and writes the meter file, "
            "byte for byte what the form saves after a Read. Without --out the file is named "
            "as the form names it: serial number, \"_\", active range (\"_1\" for Quixal) and "
            "the series' extension, in the current folder. The meter is first asked to identify "
            "itself: one that sends nothing within 3 s is reported at once. The file is written "
            "whole or not at all, and an existing file is never replaced without --force.",
            { { "--port", "P", kPortText }, { "--out", "FILE", "the meter file to write" },
                { "--force", "", "replace the meter file if it exists" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "send", "FILE --port P [--yes] [--force]",
            "write a meter file's configuration to the meter",
            "Reads the meter first (the series' read list), refuses a meter of another series "
            "or serial number than the file's unless --force, keeps what it held as "
            "as-found/SERIAL_YYYYMMDD-HHMMSS.mtr (.qxm), prints the fields the send will change "
            "(caption: meter value -> file value) and the count of those unchanged, and asks on "
            "a terminal; --yes answers for a script (without a terminal and without --yes "
            "nothing is sent). A meter that holds the file's configuration already is not "
            "written (status 0) unless --force. Without the comparing read the send itself is "
            "asked for in the same way. It then runs the series' send list (send20.que or "
            "qxsend.que), reads the meter back and says \"Meter stored the configuration\" only "
            "when the meter holds what was sent; otherwise it names the fields that differ and "
            "the status is 1. The Settings' \"Compare with the meter before sending\" and "
            "\"Read back after sending\" (or --no-compare, --no-verify) leave the steps out; "
            "without the read back the end says \"The meter acknowledged the configuration (not "
            "read back)\". Every send is a line of the audit trail.",
            { { "--port", "P", kPortText }, { "--yes", "", "send the changes without asking" },
                { "--no-compare", "", "send without reading the meter first" },
                { "--no-verify", "", "do not read the meter back after the send" },
                { "--operator", "ID", "the operator (a registered ID or a name) for the trail" },
                { "--force", "",
                    "send even to a meter of another serial number or series, or one that holds "
                    "the configuration already" } } },
        { "diff", "A B | FILE --port P [--json]", "the fields in which two configurations differ",
            "Compares two meter files, or a meter file with the connected meter (read with the "
            "series' read list), field by field as the form shows them: one line per differing "
            "field with its caption, id, A's text and B's text (the meter's is B). Status 0 when "
            "they are equal, 1 when they differ, 2 for a file that cannot be read or a meter "
            "that cannot be read, 3 when the port cannot be used.",
            { { "--port", "P", kPortText }, { "--json", "", "the differences as a JSON array" } } },
        { "report", "SERIAL --pdf OUT [--text]", "the change report of a meter from the trail",
            "One page per visit of the meter (its serial number on one day) from the audit "
            "trail: the as-found and as-left text of every field its sends changed, the "
            "operators, the date and the program version, drawn as the datasheets are. OUT "
            "takes \".pdf\" when it lacks it; an existing PDF is replaced only with --force.",
            { { "--pdf", "OUT", "the PDF to write" },
                { "--text", "", "print the pages' lines on standard output" },
                { "--force", "", "replace the PDF if it exists" } } },
        { "history", "SERIAL [--json] | --due [--json] | [SERIAL] --interval DAYS",
            "a meter's visits from the service records",
            "Prints the meter's visits (consecutive actions on it by one operator within a "
            "working session) with their actions and changes, oldest first, after the lines of "
            "this computer's audit trail not yet in the store are delivered. --due lists the "
            "meters whose recalibration interval has passed since their last good send. Status "
            "0 when something was found, 1 when nothing, 2 for bad arguments, 3 when the store "
            "cannot be reached or used.",
            { { "--json", "", "the history (or the meters due) as JSON" },
                { "--due", "", "the meters due for recalibration" },
                { "--interval", "DAYS",
                    "set the recalibration interval of the meter (0: the lab's) or, without a "
                    "serial number, the lab-wide one (365 days when never set)" } } },
        { "show", "FILE [--json]", "every field of a meter file as the form shows it",
            "Prints one line per field: its caption, its field id and its text, as the form "
            "shows the file.",
            { { "--json", "", "the fields as a JSON array" } } },
        { "set", "FILE NAME=VALUE... [--out FILE2]", "change fields of a meter file",
            "Changes fields by caption or field id through the form's own rules: limits, "
            "unit conversion, lists by their wording. A coefficient is NAME[i]=VALUE "
            "(Primary[0]). A value the form would refuse is refused with the form's message "
            "and nothing is written. The file is rewritten, or FILE2 written, whole; an existing "
            "FILE2 only with --force.",
            { { "--out", "FILE2", "write the changed file here instead" },
                { "--force", "", "replace FILE2 if it exists" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "log",
            "--port P --interval S (--seconds N | --until TIME) --out FILE [--options LIST] "
            "[--mqtt URL [--topic PREFIX]]",
            "log the meter's readings to a file, as the datalogger does",
            "Takes a snapshot of the meter's reading stream every S seconds into FILE in the "
            "datalogger's format, for N seconds or until TIME (hh:mm:ss today). Ctrl+C ends "
            "the log with its stop line. FILE is never a meter file (.mtr, .qxm), and an "
            "existing FILE is replaced only with --force. With --mqtt each snapshot is also "
            "published on PREFIX/meter/SERIAL; readings still queued at the end are sent within "
            "5 s.",
            WithMqtt(
                { { "--port", "P", kPortText }, { "--interval", "S", "seconds between snapshots" },
                    { "--seconds", "N", "log for N seconds" },
                    { "--until", "TIME", "log until hh:mm:ss" },
                    { "--out", "FILE", "the log file; - for standard output" },
                    { "--options", "LIST",
                        "columns, comma-separated: date,time,flow,total,high,low,relay1,relay2 "
                        "(default date,time,flow,total)" },
                    { "--force", "", "replace FILE if it exists" } }) },
        { "watch", "--port P [--json | --raw] [--for SECONDS]",
            "the meter's reading stream as it arrives",
            "Prints each reading line of the meter's run-mode stream as it arrives, parsed as "
            "the PC logger parses it: the time, flow and its unit, total and its unit, high, "
            "low and the two relays. With --json one object a line, the time in ISO 8601 with "
            "its offset; with --raw the bytes as they come, as the terminal shows them. Nothing "
            "is sent to the meter. Lines that are no reading are skipped and counted; a meter "
            "that streams no reading for 3 s (in command mode, or at another speed) is said on "
            "standard error. It ends after SECONDS or on Ctrl+C, with the count of readings on "
            "standard error; the status is 1 when no reading came.",
            { { "--port", "P", kPortText }, { "--json", "", "one JSON object per reading" },
                { "--raw", "", "the bytes as they come" },
                { "--for", "SECONDS", "end after SECONDS (default: at Ctrl+C)" } } },
        { "transfer", "--port P --out FILE", "copy the meter's stored log to a file",
            "Transfers the meter logger's stored log as the datalogger does. FILE is never a "
            "meter file (.mtr, .qxm), and an existing FILE is replaced only with --force (it is "
            "put back when the transfer fails).",
            { { "--port", "P", kPortText }, { "--out", "FILE", "the log file" },
                { "--force", "", "replace FILE if it exists" } } },
        { "modbus",
            "--port P --addresses A-B [--count N] [--interval MS] [--csv] [--mqtt URL "
            "[--topic PREFIX]] | --port P --scan [--addresses A-B] [--json]",
            "poll a Modbus network as the Modbus window does",
            "Reads flow rate, totalizer and temperature of each address in turn, one line (or "
            "CSV row) per meter per sweep, a meter per 80 ms at most, as the window paces them; N "
            "sweeps (default 1), each begun MS milliseconds after the last. A meter "
            "that does not answer is said on standard error and tried again on the next sweep, "
            "as the window does with \"Keep polling through errors\"; the status is then 1. A CSV "
            "row holds the time to the millisecond, the address, the serial number and units "
            "the static block told, and ends in a status cell: \"ok\", or the failure, the "
            "meter's cells then empty. With "
            "--mqtt each meter's reading is also published on PREFIX/meter/SERIAL, with the "
            "serial number and units of a static read made first (PREFIX/modbus/ADDRESS for a "
            "meter whose static read failed), a failure on that topic with /error added; Ctrl+C "
            "sends what is queued (5 s at most) before the program ends. With --scan each "
            "address (default 1-247) is asked once for its static block, one after another at "
            "the wire's pace: the addresses that answer are listed with serial number, units and "
            "ranges, an address whose reply is faulty (a CRC error where two meters share it) is "
            "said on standard error, and the status is 1 when one was faulty or none answered.",
            WithMqtt({ { "--port", "P", "the RS-485 port" },
                { "--addresses", "A-B", "addresses to poll, e.g. 1-8 or 1,3,5" },
                { "--count", "N", "sweeps (default 1)" },
                { "--interval", "MS", "from one sweep's start to the next (default 1000)" },
                { "--parity", "TEXT",
                    "the character format: \"1 8 EVEN 1\" (default), \"1 8 NONE 1\", "
                    "\"1 8 ODD 1\" or \"1 8 NONE 2\"" },
                { "--csv", "", "CSV rows with a header line" },
                { "--csv-dialect", "NAME",
                    "the CSV for a spreadsheet: excel or rfc4180 (comma, decimal point; excel "
                    "with a byte-order mark) or semicolon (\";\" and the decimal comma, for "
                    "comma-decimal locales); lines end in CR LF (without it: today's CSV, LF)" },
                { "--scan", "", "list the addresses that answer, with their static block" },
                { "--json", "", "the scan's list as a JSON array" },
                { "--timeout", "MS",
                    "wait for a reply's first bytes this long (default 500; more for a slow "
                    "gateway)" },
                { "--retries", "N", "ask again N times after a failed request (default 2)" } }) },
        { "convert", "FILE --to VERSION --out FILE2", "convert a meter file to another firmware",
            "The form's Convert: moves the data into the layout of VERSION (3.9G, 4.0x, "
            ">= 4.1A, or a Quixal version) and writes FILE2, which is replaced, or is FILE "
            "itself, only with --force.",
            { { "--to", "VERSION", "the firmware version to convert to" },
                { "--out", "FILE2", "the converted file" },
                { "--force", "", "replace FILE2 if it exists" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "sheet", "FILE --pdf OUT [--operator NAME] [--text]",
            "the datasheet as the form prints it",
            "Writes the meter file's datasheet into a PDF on A4 paper, as the form's \"Export "
            "Datasheet as PDF...\" does for the file opened with no meter connected (the date "
            "and time lines show the clock of now). The sheet prints no operator: NAME, or the "
            "name registered under the operator ID NAME, goes into the PDF's properties. OUT "
            "takes \".pdf\" when it lacks it, as the form's export does; the PDF's name is "
            "printed; an existing PDF is replaced only with --force. --text prints the sheet's "
            "lines on standard output instead. Needs no display.",
            { { "--pdf", "OUT", "the PDF to write" },
                { "--operator", "NAME",
                    "operator (name or registered ID) in the PDF's properties" },
                { "--text", "", "print the sheet's lines on standard output" },
                { "--force", "", "replace the PDF if it exists" } } },
    };
    return commands;
}

const CliHelp::Command *CliHelp::Find(const QString &name)
{
    for (const Command &command : Commands())
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

QString CliHelp::HelpText(const Command &command)
{
    QString text = QStringLiteral("Usage: tarvik-cli %1 %2\n%3.\n\n%4\n\nOptions:\n")
                       .arg(QLatin1String(command.name), QLatin1String(command.synopsis),
                           QLatin1String(command.summary), QLatin1String(command.description));
    for (const Option &option : command.options)
        text += OptionLine(option);
    for (const Option &option : LineOptions(command))
        text += OptionLine(option);
    for (const Option &option : CommonOptions())
        text += OptionLine(option);
    return text;
}

QString CliHelp::Overview()
{
    QString text = QStringLiteral("Usage: tarvik-cli COMMAND [options]\n"
                                  "Every meter job of Tarvik from a shell.\n\nCommands:\n");
    for (const Command &command : Commands())
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.name), -10)
                    .arg(QLatin1String(command.summary));
    text += QStringLiteral("\n\"tarvik-cli COMMAND --help\" tells more of each.\n\n"
                           "  -h, --help  this text\n"
                           "  --version   the program's version and its output format's\n"
                           "\nExit status:\n");
    for (const auto &row : kExitStatus)
        text += QStringLiteral("  %1  %2\n").arg(QLatin1String(row[0]), QLatin1String(row[1]));
    return text;
}

QString CliHelp::VersionText()
{
    return QStringLiteral("tarvik-cli (Tarvik) %1\nJSON output format %2\n")
        .arg(QLatin1String(TARVIK_VERSION))
        .arg(kJsonFormat);
}

QString CliHelp::ManPage()
{
    QString man = QStringLiteral(".TH TARVIK-CLI 1 \"\" \"Tarvik %1\" \"User Commands\"\n")
                      .arg(QLatin1String(TARVIK_VERSION))
        + QStringLiteral(".SH NAME\ntarvik\\-cli \\- every meter job of Tarvik from a "
                         "shell\n.SH SYNOPSIS\n.B tarvik\\-cli\n.I COMMAND\n[options]\n"
                         ".SH DESCRIPTION\nA command\\-line companion of tarvik over the "
                         "same rules: it reads, checks, writes and documents meters "
                         "without a display. Results go to standard output, messages "
                         "and progress to standard error. Every option is checked before "
                         "a port is opened; output that cannot be written (a full disk, "
                         "a closed standard output) ends with status 1.\n"
                         ".TP\n.BR \\-h \", \" \\-\\-help\n"
                         "The commands and exit statuses; after a command, its own help.\n"
                         ".TP\n.B \\-\\-version\n"
                         "The program's version and the version of its JSON output.\n"
                         ".SH COMMANDS\n");
    for (const Command &command : Commands()) {
        man += QStringLiteral(".SS %1 %2\n%3\n")
                   .arg(Roff(QLatin1String(command.name)), Roff(QLatin1String(command.synopsis)),
                       Roff(QLatin1String(command.description)));
        std::vector<Option> options = command.options;
        options.insert(options.end(), LineOptions(command).begin(), LineOptions(command).end());
        for (const Option &option : options) {
            man += QStringLiteral(".TP\n.B %1").arg(Roff(QLatin1String(option.name)));
            if (*option.value)
                man += QStringLiteral(" \\fI%1\\fR").arg(Roff(QLatin1String(option.value)));
            man += QLatin1Char('\n') + Roff(QLatin1String(option.text)) + QLatin1Char('\n');
        }
    }
    man += QStringLiteral(".SH OPTIONS OF EVERY COMMAND\n");
    for (const Option &option : CommonOptions()) {
        man += QStringLiteral(".TP\n.B %1").arg(Roff(QLatin1String(option.name)));
        if (*option.value)
            man += QStringLiteral(" \\fI%1\\fR").arg(Roff(QLatin1String(option.value)));
        man += QLatin1Char('\n') + Roff(QLatin1String(option.text)) + QLatin1Char('\n');
    }
    man += QStringLiteral(".SH EXIT STATUS\n");
    for (const auto &row : kExitStatus)
        man += QStringLiteral(".TP\n.B %1\n%2\n")
                   .arg(QLatin1String(row[0]), Roff(QLatin1String(row[1])));
    man += QStringLiteral(
        ".SH FILES\n"
        "The data files (the layouts vars20.dat and varsQX.dat, the choice lists, the command "
        "lists read20.que, send20.que, qxread.que and qxsend.que) are taken from the first of "
        "these folders that holds vars20.dat:\n"
        ".TP\n.B the working folder\n"
        "a technician's own copy of the data files;\n"
        ".TP\n.B $TARVIK_DATA\n"
        "a folder named by this environment variable;\n"
        ".TP\n.I PREFIX\\fB/share/tarvik\\fR\n"
        "the installed data, beside the program's bin folder (/usr/share/tarvik from the "
        "package).\n"
        ".PP\nMeter files, PDFs and logs are written where the options name them, relative to "
        "the working folder, never into the data folder; read without \\-\\-out writes "
        "SERIAL_RANGE.mtr (or .qxm) in the working folder. An existing output is replaced only "
        "with \\-\\-force, and a log never over a meter file.\n"
        ".SH EXAMPLES\n"
        "Service a bench of meters one after another, keeping each as found and as left:\n"
        ".PP\n.nf\n"
        "for port in /dev/ttyUSB0 /dev/ttyUSB1 /dev/ttyUSB2; do\n"
        "  tarvik\\-cli identify \\-\\-port \"$port\" || continue\n"
        "  found=$(tarvik\\-cli read \\-\\-port \"$port\") || continue\n"
        "  left=${found%.mtr}_left.mtr\n"
        "  tarvik\\-cli set \"$found\" \"Full Scale=90\" \\-\\-out \"$left\" &&\n"
        "    tarvik\\-cli send \"$left\" \\-\\-port \"$port\" &&\n"
        "    tarvik\\-cli sheet \"$left\" \\-\\-pdf \"${left%.mtr}.pdf\"\n"
        "done\n"
        ".fi\n.PP\nLog a meter overnight, every 5 s until 6 in the morning:\n"
        ".PP\n.nf\n"
        "tarvik\\-cli log \\-\\-port /dev/ttyUSB0 \\-\\-interval 5 \\-\\-until 06:00:00 "
        "\\-\\-out night.log\n"
        ".fi\n"
        ".SH SEE ALSO\n.BR tarvik (1),\n.BR tarvik\\-metersim (1)\n");
    return man;
}

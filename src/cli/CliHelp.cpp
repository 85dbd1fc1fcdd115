#include "cli/CliHelp.h"

#include <QStringList>

namespace {
const char *const kExitStatus[][2] = {
    { "0", "done" },
    { "1",
        "the meter refused, did not answer, holds other values than were sent, or the run was "
        "interrupted; for diff: the two differ" },
    { "2", "bad arguments, or a file that is missing, unreadable or of the other series" },
    { "3", "the port cannot be used (missing, no permission, or held by another program)" },
};

const char *const kPortText = "the meter's serial port: COM1..COM49 or a device path";

QString OptionLine(const CliHelp::Option &option)
{
    QString head = QLatin1String(option.name);
    if (*option.value)
        head += QLatin1Char(' ') + QLatin1String(option.value);
    return QStringLiteral("  %1  %2\n").arg(head, -22).arg(QLatin1String(option.text));
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
        { "--help", "", "this text" },
        { "--baud", "N", "the port's speed (default 9600, as the settings propose)" },
        { "--quiet", "", "no progress on standard error, even on a terminal" },
        { "--pace", "FACTOR",
            "scale the pauses between the bytes sent (1, the default, for a real meter; a "
            "simulated meter takes less)" },
    };
    return options;
}

const std::vector<CliHelp::Command> &CliHelp::Commands()
{
    static const std::vector<Command> commands = {
        { "ports", "", "list the serial ports the Settings sheet offers",
            "Lists COM1..COM49 and the serial devices present (USB adapters by their by-id "
            "names), one a line: the port text, its device path and what it is.",
            { { "--json", "", "the list as JSON" } } },
        { "identify", "--port P", "the connected meter's series, firmware, revision and serial",
            "Asks the meter for its main screen, as the terminal does when it opens, and prints "
            "the identification line's series, model, firmware version, revision, active range "
            "and serial number. The meter is sent back to its run mode.",
            { { "--port", "P", kPortText }, { "--json", "", "the identification as JSON" } } },
        { "read", "--port P [--out FILE]", "read the meter's configuration into a meter file",
            "Runs the series' read list (read20.que or qxread.que) and writes the meter file, "
            "byte for byte what the form saves after a Read. Without --out the file is named "
            "as the form names it: serial number, \"_\", active range (\"_1\" for Quixal) and "
            "the series' extension, in the current folder. The file is written whole or not at "
            "all.",
            { { "--port", "P", kPortText }, { "--out", "FILE", "the meter file to write" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "send", "FILE --port P [--yes] [--force]",
            "write a meter file's configuration to the meter",
            "Reads the meter first (the series' read list), refuses a meter of another series "
            "or serial number than the file's unless --force, keeps what it held as "
            "as-found/SERIAL_YYYYMMDD-HHMMSS.mtr (.qxm), prints the fields the send will change "
            "(caption: meter value -> file value) and the count of those unchanged, and asks on "
            "a terminal; --yes answers for a script (without a terminal and without --yes "
            "nothing is sent). It then runs the series' send list (send20.que or qxsend.que), "
            "reads the meter back and says \"Meter stored the configuration\" only when the "
            "meter holds what was sent; otherwise it names the fields that differ and the "
            "status is 1. The Settings' \"Compare with the meter before sending\" and \"Read "
            "back after sending\" (or --no-compare, --no-verify) leave the steps out. Every send "
            "is a line of the audit trail.",
            { { "--port", "P", kPortText }, { "--yes", "", "send the changes without asking" },
                { "--no-compare", "", "send without reading the meter first" },
                { "--no-verify", "", "do not read the meter back after the send" },
                { "--operator", "ID", "the operator (a registered ID or a name) for the trail" },
                { "--force", "", "send even to a meter of another serial number or series" } } },
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
            "operators, the date and the program version, drawn as the datasheets are.",
            { { "--pdf", "OUT", "the PDF to write" },
                { "--text", "", "print the pages' lines on standard output" } } },
        { "show", "FILE [--json]", "every field of a meter file as the form shows it",
            "Prints one line per field: its caption, its field id and its text, as the form "
            "shows the file.",
            { { "--json", "", "the fields as a JSON array" } } },
        { "set", "FILE NAME=VALUE... [--out FILE2]", "change fields of a meter file",
            "Changes fields by caption or field id through the form's own rules: limits, "
            "unit conversion, lists by their wording. A coefficient is NAME[i]=VALUE "
            "(Primary[0]). A value the form would refuse is refused with the form's message "
            "and nothing is written. The file is rewritten, or FILE2 written, whole.",
            { { "--out", "FILE2", "write the changed file here instead" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "log", "--port P --interval S (--seconds N | --until TIME) --out FILE [--options LIST]",
            "log the meter's readings to a file, as the datalogger does",
            "Takes a snapshot of the meter's reading stream every S seconds into FILE in the "
            "datalogger's format, for N seconds or until TIME (hh:mm:ss today). Ctrl+C ends "
            "the log with its stop line.",
            { { "--port", "P", kPortText }, { "--interval", "S", "seconds between snapshots" },
                { "--seconds", "N", "log for N seconds" },
                { "--until", "TIME", "log until hh:mm:ss" }, { "--out", "FILE", "the log file" },
                { "--options", "LIST",
                    "columns, comma-separated: date,time,flow,total,high,low,relay1,relay2 "
                    "(default date,time,flow,total)" } } },
        { "transfer", "--port P --out FILE", "copy the meter's stored log to a file",
            "Transfers the meter logger's stored log as the datalogger does.",
            { { "--port", "P", kPortText }, { "--out", "FILE", "the log file" } } },
        { "modbus", "--port P --addresses A-B [--count N] [--interval MS] [--csv]",
            "poll a Modbus network as the Modbus window does",
            "Reads flow rate, totalizer and temperature of each address in turn, one line (or "
            "CSV row) per meter per sweep; N sweeps (default 1), MS milliseconds apart. A meter "
            "that does not answer is said on standard error and tried again on the next sweep, "
            "as the window does with \"Keep polling through errors\"; the status is then 1.",
            { { "--port", "P", "the RS-485 port" },
                { "--addresses", "A-B", "addresses to poll, e.g. 1-8 or 1,3,5" },
                { "--count", "N", "sweeps (default 1)" },
                { "--interval", "MS", "pause between sweeps (default 1000)" },
                { "--parity", "TEXT",
                    "the character format: \"1 8 EVEN 1\" (default), \"1 8 NONE 1\", "
                    "\"1 8 ODD 1\" or \"1 8 NONE 2\"" },
                { "--csv", "", "CSV rows with a header line" } } },
        { "convert", "FILE --to VERSION --out FILE2", "convert a meter file to another firmware",
            "The form's Convert: moves the data into the layout of VERSION (3.9G, 4.0x, "
            ">= 4.1A, or a Quixal version) and writes FILE2.",
            { { "--to", "VERSION", "the firmware version to convert to" },
                { "--out", "FILE2", "the converted file" },
                { "--operator", "ID",
                    "the operator (a registered ID or a name) for the trail" } } },
        { "sheet", "FILE --pdf OUT [--operator NAME] [--text]",
            "the datasheet as the form prints it",
            "Writes the meter file's datasheet into a PDF on A4 paper, as the form's \"Export "
            "Datasheet as PDF...\" does for the file opened with no meter connected (the date "
            "and time lines show the clock of now). The sheet prints no operator: NAME, or the "
            "name registered under the operator ID NAME, goes into the PDF's properties. OUT "
            "takes \".pdf\" when it lacks it, as the form's export does; the PDF's name is "
            "printed. --text prints the sheet's lines on standard output instead. Needs no "
            "display.",
            { { "--pdf", "OUT", "the PDF to write" },
                { "--operator", "NAME",
                    "operator (name or registered ID) in the PDF's properties" },
                { "--text", "", "print the sheet's lines on standard output" } } },
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
    text += QStringLiteral("\n\"tarvik-cli COMMAND --help\" tells more of each.\n\nExit status:\n");
    for (const auto &row : kExitStatus)
        text += QStringLiteral("  %1  %2\n").arg(QLatin1String(row[0]), QLatin1String(row[1]));
    return text;
}

QString CliHelp::ManPage()
{
    QString man = QStringLiteral(".TH TARVIK-CLI 1 \"\" \"Tarvik 2.16\" \"User Commands\"\n"
                                 ".SH NAME\ntarvik\\-cli \\- every meter job of Tarvik from a "
                                 "shell\n.SH SYNOPSIS\n.B tarvik\\-cli\n.I COMMAND\n[options]\n"
                                 ".SH DESCRIPTION\nA command\\-line companion of tarvik over the "
                                 "same rules: it reads, checks, writes and documents meters "
                                 "without a display. Results go to standard output, messages "
                                 "and progress to standard error.\n.SH COMMANDS\n");
    for (const Command &command : Commands()) {
        man += QStringLiteral(".SS %1 %2\n%3\n")
                   .arg(Roff(QLatin1String(command.name)), Roff(QLatin1String(command.synopsis)),
                       Roff(QLatin1String(command.description)));
        for (const Option &option : command.options) {
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
    man += QStringLiteral(".SH SEE ALSO\n.BR tarvik (1),\n.BR tarvik\\-metersim (1)\n");
    return man;
}

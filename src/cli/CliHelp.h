#pragma once

#include <QString>

#include <vector>

// The one table of tarvik-cli's commands and options: --help of each command, the overview and
// the man page are all written from it, and the argument parser takes the options it names.
class CliHelp
{
public:
    struct Option
    {
        const char *name; // "--port"
        const char *value; // "P", or "" for a flag
        const char *text;
    };
    struct Command
    {
        const char *name;
        const char *synopsis; // after "tarvik-cli NAME "
        const char *summary;
        const char *description;
        std::vector<Option> options;
    };

    static const std::vector<Command> &Commands();
    static const Command *Find(const QString &name);
    // The options every command takes (--help, --quiet).
    static const std::vector<Option> &CommonOptions();
    // The link's options a command on a port takes after its own: --baud, and --pace where it
    // sends to a meter at the link's pace.
    static const std::vector<Option> &LineOptions(const Command &command);
    // One command's help, as "tarvik-cli NAME --help" prints it.
    static QString HelpText(const Command &command);
    // The program's help: usage, commands, exit statuses.
    static QString Overview();
    // --version: the program's version and its JSON output's.
    static QString VersionText();
    // The manual page (roff) written from the same texts.
    static QString ManPage();
};

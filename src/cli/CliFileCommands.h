#pragma once

class CliContext;

// The commands of tarvik-cli that work on files alone: ports (the port list), show, set,
// convert, sheet and report. Each gives the run's exit status.
class CliFileCommands
{
public:
    explicit CliFileCommands(CliContext &context)
        : m_cli(context)
    {
    }

    int Ports();
    int Show();
    int Set();
    int Convert();
    int Sheet();
    int Report();

private:
    CliContext &m_cli;
};

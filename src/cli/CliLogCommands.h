#pragma once

#include "base/Task.h"
#include "cli/CliReadingWatch.h"

#include <QString>

#include <functional>
#include <memory>

class CliContext;
class CliDatalog;
class CSerial;

// tarvik-cli's datalogger commands: log (the meter's readings into a log file for a time or
// until a clock time) and transfer (the meter's stored log into a file), each once a meter has
// answered on the port; watch (the reading stream on standard output, nothing sent).
class CliLogCommands
{
public:
    explicit CliLogCommands(CliContext &context)
        : m_cli(context)
    {
    }

    int Log();
    int Transfer();
    // The reading stream as it arrives, until --for has passed or Ctrl+C.
    int Watch();

    // Seconds without a reading after which watch says it sees none.
    static constexpr int kNoReadingsSeconds = 3;

private:
    // Runs a datalogger job that start begins on the meter link, under the event loop, once a
    // meter has answered.
    int RunDatalog(const std::function<void(CliDatalog &)> &start);
    // watch's dialogue on the open link: its output in format, for seconds (0: until Ctrl+C).
    Task<void> WatchStream(CSerial *link, int seconds, CliReadingWatch::Format format);
    // Opens the meter link for the datalogger's commands; null and the status set when not.
    std::unique_ptr<CSerial> OpenLink();

    CliContext &m_cli;
};

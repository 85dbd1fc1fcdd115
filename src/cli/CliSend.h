#pragma once

#include "base/Task.h"
#include "cli/CliMeter.h"
#include "meter/SendWithChecks.h"

#include <QString>

#include <memory>

class CliContext;
class MeterSeriesModel;

// tarvik-cli send FILE --port P: the one Send (SendWithChecks) with the command line's lists and
// prompt. Nothing is sent to a port where no meter answers; --force sends to a meter of another
// serial number and a configuration it holds already; the question goes to the terminal unless
// --yes answers it; --no-compare and --no-verify leave out the reads around the send.
class CliSend : private SendWithChecks::Lists, private SendWithChecks::Prompt
{
public:
    explicit CliSend(CliContext &context);
    ~CliSend() override;

    Task<void> Run();

private:
    Task<SendWithChecks::ListEnd> Read(MeterSeriesModel &into) override;
    Task<SendWithChecks::ListEnd> Send(MeterSeriesModel &sent) override;
    bool ConfirmMeter() override;
    bool AcceptMeter(MeterSeriesModel &found) override;
    bool AskToSend(const SendWithChecks::Outcome *changes) override;
    std::optional<QString> End(const SendWithChecks::Outcome &outcome) override;
    // Stops the send with text said and status code; the text is the trail's message.
    bool Refuse(const QString &text, int code);

    CliContext &m_cli;
    QString m_path;
    std::unique_ptr<MeterSeriesModel> m_file;
    std::unique_ptr<CliMeter> m_meter;
    CliMeter::Identity m_probe;
    bool m_identified = false;
    bool m_force = false;
    int m_readStatus = 0; // of the last read: the exit status when it failed
    QString m_said; // what the prompt said when it stopped the send
};

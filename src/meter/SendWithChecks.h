#pragma once

#include "audit/AuditRecord.h"
#include "audit/ConfigDiff.h"
#include "base/Task.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class MeterSeriesModel;

// A Send with the checks asked for, as one dialogue: the meter is read first into a
// configuration of its own (compare), the changes are asked in one Yes/No and the meter's
// configuration as found is kept, then the image is written and read back (verify), and every
// way it ends is a line of the audit trail. What runs the lists on the meter (Lists) and what
// asks and says (Prompt) belong to the caller: the meter form and tarvik-cli each give theirs.
class SendWithChecks
{
public:
    // The end of a send that was not read back: the meter took it, what it stored is not known.
    static constexpr const char *kAcknowledgedText
        = "The meter acknowledged the configuration (not read back)";
    // What a send of a configuration the meter already holds says (nothing is sent).
    static constexpr const char *kAlreadyHeldText
        = "The meter already holds this configuration; nothing was sent";
    // The end of a send whose read back holds what was sent.
    static constexpr const char *kStoredText = "Meter stored the configuration";

    // How a list of the send (or a read with its image taken) ended.
    struct ListEnd
    {
        enum Kind {
            Ended,
            Failed, // the list said why (error)
            Cancelled,
            Unreadable, // the list file could not be read
            Refused, // a read ran, but its answer is no image of the series (error says why)
        };
        Kind kind = Ended;
        QString error;
        bool partly = false; // a send cut inside the image: part of it may be in the meter
        // The audit trail's result when it is not the list's own ("failed", "cancelled").
        QString result;
    };

    // Runs the series' lists on the meter: a read into a configuration (the read list, then
    // its image taken: MeterSeriesModel::FinishRead) and the send of one.
    class Lists
    {
    public:
        virtual ~Lists() = default;
        virtual Task<ListEnd> Read(MeterSeriesModel &into) = 0;
        virtual Task<ListEnd> Send(MeterSeriesModel &sent) = 0;
    };

    // The steps, in order; a send ends at one of them.
    enum class Step {
        // The meter the send goes to: asked about before a send that does not compare
        // (result empty when refused), or checked after the compare read ("refused").
        Meter,
        Compare, // the read before
        Prepare, // the configuration to send, made ready
        Unchanged, // the meter holds it already
        AsFound, // its configuration as found kept
        Ask, // the send confirmed
        Send,
        Verify, // the read back
        Done,
    };

    struct Outcome
    {
        Step step = Step::Done;
        // The audit trail's result: "ok", "unchanged", "refused", "failed", "cancelled",
        // "mismatch"; empty where the prompt stopped the send before anything ran on it.
        QString result;
        ListEnd list; // of the list the send ended in (Compare, Send, Verify)
        QString text; // Verify: what the meter stored differs in; Done: what is said
        ConfigDiff::Result diff;
        QString asFound; // the copy kept (empty before AsFound)
        MeterSeriesModel *found = nullptr; // the compare read's configuration (while ending)
    };

    // What asks and says.
    class Prompt
    {
    public:
        virtual ~Prompt() = default;
        // Without the compare, before anything is sent: whether the meter on the port may be
        // written (its serial number not told, or another meter's); false stops the send
        // (said there).
        virtual bool ConfirmMeter() = 0;
        // After the compare: whether the meter read is one the configuration may go to (its
        // serial number); false stops the send (said there).
        virtual bool AcceptMeter(MeterSeriesModel &found) = 0;
        // The one Yes/No before writing: the changes and the copy kept (compare), or null
        // (the send as it stands).
        virtual bool AskToSend(const Outcome *changes) = 0;
        // The send has come to step (for a progress display).
        virtual void Progress(Step) { }
        // Says how the send ended; gives the audit line's message, none for no line.
        virtual std::optional<QString> End(const Outcome &outcome) = 0;
    };

    struct Options
    {
        bool compare = true;
        bool verify = true;
        // A configuration the meter holds already is written all the same.
        bool force = false;
        QString asFoundFolder;
        QString extension; // of the as-found copy (".mtr", ".qxm")
        // A configuration of the series away from any window, for the reads.
        std::function<std::unique_ptr<MeterSeriesModel>()> makeModel;
        // The configuration to send, made ready for the meter read (null without the compare);
        // null when it fits no layout.
        std::function<MeterSeriesModel *(MeterSeriesModel *found)> prepare;
        // Appends a line to the audit trail; record has been filled with the send's outcome.
        std::function<void(const AuditRecord &record)> audit;
    };

    SendWithChecks(Lists &lists, Prompt &prompt, Options options);

    // The whole send; record is the audit line to write (its action, operator, file and meter
    // as the caller knows them); the compare fills in the meter's serial number and firmware.
    Task<Outcome> Run(AuditRecord record);

private:
    Outcome Ended(Outcome outcome, AuditRecord &record);

    Lists &m_lists;
    Prompt &m_prompt;
    Options m_options;
};

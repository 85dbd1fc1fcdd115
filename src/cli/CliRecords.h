#pragma once

#include "records/RecordsTarget.h"

#include <optional>

class CliContext;

// tarvik-cli's side of the service records: the store named by --db (else the settings' one),
// the lines a command wrote to the trail delivered before the program ends (a store out of
// reach is said; the lines wait in the trail for the next command that reaches it), and
// `history`.
class CliRecords
{
public:
    explicit CliRecords(CliContext &cli);
    // From now on, a line written to the trail (by any command of this run) has the store
    // filled from it when the command ends.
    static void WatchTrail();
    // Checks --db; false (and why in *error) when it names no store.
    static bool CheckDb(const CliContext &cli, QString *error);
    // Delivers the trail's waiting lines if a command of this run wrote one.
    void DeliverIfAppended();
    // tarvik-cli history SERIAL [--json] | --due [--json], and --interval DAYS.
    int History();

private:
    std::optional<RecordsTarget> Target() const;
    int Due(class RecordsStore &store, bool json);

    CliContext &m_cli;
};

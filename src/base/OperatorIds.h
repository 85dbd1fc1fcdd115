#pragma once

#include <QString>

// The operator table in the preferences store: section "Printer", one entry per operator ID
// holding the operator's name. The operator identification dialog applies Accept to what was
// typed; a datasheet asks for it before its first print.
class OperatorIds
{
public:
    static constexpr int kMaxFieldLength = 50;
    static constexpr int kMaxIdLength = 10;

    struct Result
    {
        bool accepted = false; // false: the dialog shows message and stays open
        QString name; // the operator name ("Anon" when none is known)
        QString message;
    };

    // What was typed into the dialog: "name|ID" registers the name under the ID and gives the
    // name; an ID alone gives its registered name; empty text or an unknown ID gives "Anon".
    // A registration is refused (with a message) when the name or the ID is empty, the ID is
    // longer than kMaxIdLength or holds "/" or "\" (the store would read those as a group path).
    static Result Accept(const QString &field);
    // The name registered under id, empty when none (or when the id could not be an entry).
    static QString NameOf(const QString &id);
    // Whether id can be an entry of the table.
    static bool IsValidId(const QString &id);
};

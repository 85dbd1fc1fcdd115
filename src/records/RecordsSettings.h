#pragma once

#include "records/RecordsTarget.h"

#include <QString>

// The service records' settings in the preferences store (section "Records"): whether a lab's
// PostgreSQL server keeps them (else the SQLite file beside the audit trail), its host, port,
// database and user, the password when no keyring keeps it, and the hours of a working
// session. The Settings sheet writes them; the program and tarvik-cli read them.
class RecordsSettings
{
public:
    static bool UseServer();
    static RecordsTarget Server(); // with no password: KeyringPassword gives it
    static void SetServer(bool use, const RecordsTarget &server);
    // The store in force for the trail at trailPath.
    static RecordsTarget Target(const QString &trailPath);
    static int SessionHours();
    static void SetSessionHours(int hours);
    // The password kept in the preferences (where no keyring runs); empty when none.
    static QString StoredPassword();
    static void SetStoredPassword(const QString &password);
};

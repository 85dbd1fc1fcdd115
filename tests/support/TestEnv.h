#pragma once

#include <QString>

#include <functional>

// The place every test binary runs in: a temporary folder holding the preferences store, the
// runtime folder (port lock files) and a working folder seeded with the files of data/.
class TestEnv
{
public:
    // Sets it all up; called once by the test main before any test.
    static void Init();
    static QString Root();
    static QString WorkDir();
    static QString DataDir() { return QStringLiteral(TARVIK_DATA_DIR); }
    static QString MeterSimPath() { return QStringLiteral(TARVIK_METERSIM); }
    // Removes the preferences store, so the next CPrefs reads defaults.
    static void ClearPreferences();
    // Copies every file of data/ into the working folder again, replacing changed copies.
    static void ReseedWorkDir();
    // Runs the event loop until done() holds or timeoutMs pass; whether done() holds. Meter
    // dialogues wait in the event loop, so a test that starts one waits for it here.
    static bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 60000);
};

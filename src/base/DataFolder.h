#pragma once

#include <QString>
#include <QStringList>

// Where the run-time data files (layouts, lists, command lists, templates) are: the program
// opens them by bare name, so it works in a folder that holds them. A folder holds them when it
// has the Kelvane layouts, "vars20.dat".
class DataFolder
{
public:
    static constexpr const char *kMarkerFile = "vars20.dat";

    static bool Holds(const QString &dir);
    // The installed data folder: <program folder>/../share/tarvik, or empty when there is none.
    static QString InstalledDir(const QString &programDir);
    // The first of the working folder, envDir (the TARVIK_DATA variable, may be empty) and
    // installedDir that holds the data files, or empty. `looked` gets each place tried, as a
    // message names it ("the working folder /home/jo").
    static QString Find(const QString &workDir, const QString &envDir, const QString &installedDir,
        QStringList *looked);
};

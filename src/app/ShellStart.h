#pragma once

#include <QString>
#include <QStringList>

// What the desktop hands the program when it starts it: the paths of the documents a user
// double-clicked (or gave on the command line), and a working folder that holds the run-time
// data files. The program opens its data files by bare name, so an installed copy started from
// a menu (working folder: the home folder) works in a per-user folder seeded from the installed
// data instead. main() calls Prepare before the application starts and opens the paths after.
class ShellStart
{
public:
    // The document paths among the arguments (argv[0] and options beginning with "-" left out),
    // made absolute against the folder the program was started in.
    static QStringList DocumentPaths(const QStringList &arguments);

    // The installed data folder: <program folder>/../share/tarvik, or empty when there is none.
    static QString InstalledDataDir(const QString &programDir);
    // Where the data files are, looked for as tarvik-cli looks: the current folder, the folder
    // $TARVIK_DATA names, the installed folder. Empty when none holds them; `looked` then names
    // each place tried, for the message.
    static QString DataSource(const QString &programDir, QStringList *looked);

    // Chooses and enters the working folder: the current one when it holds the data files
    // (a technician's own folder, the run script's); otherwise, when dataDir (DataSource) is
    // given, userDir seeded from it. Seeding copies the program's own data (layouts, lists, command
    // lists) whenever the installed copy differs, and the templates and default documents only when
    // missing, so a user's edited files survive. Returns the folder in force; `error` gets a
    // one-line reason when the user folder could not be made (the current folder stays).
    static QString EnterWorkFolder(const QString &dataDir, const QString &userDir, QString *error);

    // The per-user folder: $XDG_DATA_HOME/tarvik (~/.local/share/tarvik).
    static QString UserWorkDir();
};

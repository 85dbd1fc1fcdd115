#pragma once

#include <QString>
#include <QStringList>

// A name typed in a save dialog, made into the path that is written, and what stands there.
// Blanks and dots at the end of the name are dropped ("victim." and "victim " are "victim");
// a name that ends in none of the type's extensions gets the first one, also after another
// extension ("x.txt" for a meter file is "x.txt.mtr"), so the file is listed under its type
// and a file of another type is never replaced. The path is checked before anything asks to
// replace a file, so the question is about the file that would really be written.
class SaveFileName
{
public:
    enum class State {
        Free, // nothing there: write
        Exists, // a file there: ask before replacing it
        NoName, // nothing left of the name
        Folder, // the name is a folder's
        NoFolder, // the folder it goes in does not exist
        ReadOnlyFolder, // the folder it goes in may not be written
    };

    // extensions with their dots (".mtr"); none keeps the name's own.
    SaveFileName(const QString &typed, const QStringList &extensions);

    // The path to write; empty when nothing is left of the name.
    const QString &Path() const { return m_path; }
    State Check() const;
    // Why the name is refused in state, or empty when it is not (Free, Exists).
    QString RefusalText(State state) const;
    // The question before an existing file at Path() is replaced.
    QString ReplaceText() const;
    // The refusal of a path that another window's document has open.
    static QString OpenElsewhereText(const QString &path);

private:
    QString m_typed; // the name, its end trimmed, without the extension added
    QString m_path;
};

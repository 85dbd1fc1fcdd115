#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A log file written as a text-mode stream writes it: every line feed goes to disk as CR LF
// (so a CR LF in the text becomes CR CR LF) and NUL bytes are left out. A failed write (disk
// full, the file or its folder removed) is remembered, so the logger can stop and say so
// instead of going on without a file.
class LogFileWriter
{
public:
    // What the datalogger says when a log file cannot be created or written.
    static const char *const kCreateErrorText;
    static const char *const kCreateErrorTitle;
    static const char *const kWriteErrorText;
    static const char *const kDatalogErrorTitle;

    // The file a transfer into path writes until the log is whole: "NAME.partial.log" for
    // "NAME.log" (any other name gets ".partial.log" added).
    static QString PartialName(const QString &path);
    // Whether path is written as it stands instead of through a file beside it: a FIFO, a
    // terminal or /dev/stdout, where nothing can be put beside it, replace it or read it back.
    static bool WritesInPlace(const QString &path);
    // Puts the file from in place of to in one step (to may exist); false with the system's
    // reason when it cannot, both files then as they were. A read-only to is not replaced.
    static bool Replace(const QString &from, const QString &to, QString *error);

    // Creates the file or empties it. False when it cannot be created.
    bool Create(const QString &path);
    void Write(const QByteArray &text);
    // Pushes what was written to disk and checks the file is still there; false once anything
    // failed since Create.
    bool Commit();
    void Close();
    bool IsOpen() const { return m_file.isOpen(); }
    bool Failed() const { return m_failed; }
    QString Path() const { return m_path; }

private:
    QFile m_file;
    QString m_path;
    bool m_failed = false;
};

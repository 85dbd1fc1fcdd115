#pragma once

#include <QByteArray>
#include <QString>

// Whole lines appended to a file that must keep them through a crash (the audit trail), and the
// account the process runs as: the platform's own calls, one half per platform
// (AppendOnlyFilePosix.cpp, AppendOnlyFileWin32.cpp) chosen at build time. Each line goes in one
// write on a descriptor opened for appending and reaches the disk before Append returns, so two
// programs appending at once never interleave inside a line. Used by AuditLog.
class AppendOnlyFile
{
public:
    // What an append came to. The texts are the system's; the caller says what they mean to it.
    struct Result
    {
        enum class Failed { Nothing, Open, Write, Sync };
        Failed failed = Failed::Nothing;
        QString reason; // the system's words; empty for a short write
        qint64 written = 0; // a short write: the bytes written of size
        qint64 size = 0;
        bool partLeft = false; // a short write whose part could not be taken back
        bool Ok() const { return failed == Failed::Nothing; }
    };

    // Appends line to path (created when missing). A last line cut short by a crash is closed
    // first, so that line stands on a line of its own; a part of line written to a full disk is
    // taken back when nobody appended after it.
    static Result Append(const QString &path, QByteArray line);
    // The login of the account this process runs as, from the operating system (never from the
    // environment, which anyone can set and cron leaves empty); the user id when it has no name.
    static QString AccountName();
};

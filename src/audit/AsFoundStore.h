#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The as-found copies: the image a meter held before a send changed it, kept as a meter file
// "as-found/SERIAL_YYYYMMDD-HHMMSS.mtr" (or ".qxm") under a folder of the user's choice (the
// working folder by default). A copy is never written over: a second one within the same
// second gets "-2", "-3" ... before its extension.
class AsFoundStore
{
public:
    static constexpr const char *kFolder = "as-found";

    // "SERIAL_yyyyMMdd-HHmmss" and extension (".mtr"); a serial number that could not be a
    // file name ("/", "\", ":", blanks, or none at all) has those characters as "_" or is
    // "unknown".
    static QString FileName(const QString &serial, const QString &extension, const QDateTime &at);
    // Writes bytes whole under base (the working folder when empty)/as-found, creating the
    // folder; the path written, or empty with the reason in error.
    static QString Save(const QString &base, const QString &serial, const QString &extension,
        const QByteArray &bytes, const QDateTime &at, QString *error);
};

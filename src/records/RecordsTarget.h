#pragma once

#include <QString>

#include <optional>

// Where the service records are kept: an SQLite file (the default, beside the audit trail) or a
// PostgreSQL database a lab shares, given as "postgresql://USER@HOST[:PORT]/DB".
struct RecordsTarget
{
    static constexpr const char *kFileName = "tarvik-records.sqlite";
    static constexpr int kDefaultPort = 5432;

    enum class Kind { Sqlite, Postgresql };
    Kind kind = Kind::Sqlite;
    QString path; // SQLite
    QString host;
    int port = kDefaultPort;
    QString database;
    QString user;
    QString password; // never part of Url()

    // The SQLite file beside the trail at trailPath.
    static RecordsTarget BesideTrail(const QString &trailPath);
    // "postgresql://USER@HOST[:PORT]/DB", "sqlite:PATH" or the path of an SQLite file; nothing
    // (and why in *error) for a text that is neither.
    static std::optional<RecordsTarget> Parse(const QString &text, QString *error);
    // The store as the user names it: the URL (no password) or the file's path.
    QString Url() const;
};

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

// One line of the audit trail: who did what to which meter or meter file, when, with which
// file, what changed and how it ended. Written as one compact JSON object per line.
struct AuditRecord
{
    struct Change
    {
        QString caption;
        int id = 0;
        QString before;
        QString after;
        bool operator==(const Change &) const = default;
    };

    QDateTime time;
    QString operatorName;
    QString account; // the login name on the computer, for lines whose operator is "Anon"
    QString computer;
    QString version; // the program's
    QString action; // "read", "send", "range change", "logger configuration", "convert", "save"
    QString series;
    QString model;
    QString firmware;
    QString serial;
    QString file;
    QString sha256;
    std::vector<Change> changes;
    QString result; // "ok", "refused", "mismatch", "failed", "cancelled"
    QString message;

    // The record as one line of JSON and its line feed.
    QByteArray ToJsonLine() const;
    // A line of the file; nothing for a line that is not a whole JSON object (a line cut short
    // by a crash while it was written).
    static std::optional<AuditRecord> FromJson(const QByteArray &line);
    // ISO 8601 with the local offset, to the second: "2026-12-09T04:01:02+01:00".
    static QString TimeText(const QDateTime &time);
    // A record stamped now, on this computer, by this program, for operatorName ("Anon" when
    // empty, as the operator identification names an unknown operator).
    static AuditRecord Now(const QString &action, const QString &operatorName);
};

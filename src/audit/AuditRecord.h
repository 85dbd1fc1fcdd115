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

    QString lineId; // unique per line, so a store filled from the trail takes each line once
    QDateTime time;
    QString operatorName;
    QString account; // the process's login on the computer, for lines whose operator is "Anon"
    QString computer;
    QString version; // the program's
    QString action; // "read", "send", "range change", "logger configuration", "convert", "save"
    QString series;
    QString model;
    QString firmware; // as the meter reports it ("4.1A"), empty when no meter told it
    QString serial;
    QString file; // the document's file, only when one was opened or saved
    QString sha256;
    QString asFound; // a send's copy of what the meter held before it
    std::vector<Change> changes;
    QString result; // "ok", "refused", "mismatch", "failed", "cancelled"
    QString message;

    // The record as one line of JSON and its line feed.
    QByteArray ToJsonLine() const;
    // A line of the file; nothing for a line that is not a whole JSON object (a line cut short
    // by a crash while it was written).
    static std::optional<AuditRecord> FromJson(const QByteArray &line);
    // A fresh line id; a line written before lines had ids is known by its bytes' SHA-256.
    static QString NewLineId();
    static QString LineIdOf(const QByteArray &line);
    // ISO 8601 with the local offset, to the second: "2026-12-09T04:01:02+01:00".
    static QString TimeText(const QDateTime &time);
    // A record stamped now, on this computer, by this program, for operatorName; when that is
    // empty or the unknown operator, the operator of the settings, else "Anon" (as the operator
    // identification names an unknown operator).
    static AuditRecord Now(const QString &action, const QString &operatorName);
    // The login of the account this process runs as, from the operating system (never from the
    // environment, which anyone can set and cron leaves empty); the user id when it has no name.
    static QString ProcessAccount();
    // A firmware label as the trail writes it: "v4.1A" and " 4.1A " are "4.1A"; a label that
    // names no firmware ("?", "?.??", a layout section "[4.1A]") is empty.
    static QString FirmwareText(const QString &label);
};

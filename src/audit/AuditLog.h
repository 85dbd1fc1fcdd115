#pragma once

#include "audit/AuditRecord.h"

#include <QDate>
#include <QString>

#include <functional>
#include <vector>

// The append-only audit trail, tarvik-audit.jsonl: one JSON object per line. Each record goes
// to the file in one write on a descriptor opened for appending and reaches the disk before
// Append returns (link/AppendOnlyFile), so two programs appending at once never interleave inside a
// line and a line that Append reported written survives a crash. The forms, the documents and
// tarvik-cli append; the Audit Trail window and `tarvik-cli report` read.
class AuditLog
{
public:
    explicit AuditLog(QString path);
    QString Path() const { return m_path; }

    // Appends record as one line. False with the reason (the system's) when the line could not
    // be written whole; the file then holds no part of it, as far as the system lets us undo it.
    bool Append(const AuditRecord &record, QString *error) const;

    struct Loaded
    {
        std::vector<AuditRecord> records;
        int skipped = 0; // lines that are no whole record (one cut short by a crash)
        QString error; // the file could not be read (a missing file is an empty trail)
    };
    Loaded Load() const;
    // Called with the trail's path after each line written whole: the service records are
    // filled from the trail afterwards, never in the way of the action that wrote it.
    static void SetAppendedHook(std::function<void(const QString &path)> hook);

    // The records of serial (all when empty) stamped from `from` to `to` (local dates, either
    // end open when invalid), in file order.
    static std::vector<AuditRecord> Filter(
        const std::vector<AuditRecord> &records, const QString &serial, QDate from, QDate to);
    // The records as CSV, one row per changed field (one row with empty change cells for a
    // record that changed none), with a header row.
    static QString Csv(const std::vector<AuditRecord> &records);
    // Writes Csv(records) to path whole or not at all.
    static bool WriteCsv(
        const QString &path, const std::vector<AuditRecord> &records, QString *error);
    // The SHA-256 of a file's bytes in lower-case hexadecimal; empty when it cannot be read.
    static QString Sha256Of(const QString &path);
    // A record that does not know its meter's model or firmware (a save or convert of a file,
    // with no meter on the line) takes them from the trail's last line of the same series and
    // serial number that does, so every action names the meter alike.
    void CompleteMeter(AuditRecord &record) const;

private:
    static std::function<void(const QString &)> &AppendedHook();
    QString m_path;
};

#pragma once

#include "audit/AuditRecord.h"
#include "audit/ConfigDiff.h"

#include <QString>

#include <vector>

class CliSignals;

class CliArgs;
class MeterSeriesModel;

// tarvik-cli's side of the audit trail: the operator named by --operator, the lines its
// commands append (a trail that cannot be written is said on standard error and the command
// goes on), the comparison fields of a meter file, the question before a send and the change
// report command.
class CliAudit
{
public:
    explicit CliAudit(const CliArgs &args);
    // The folder the program was started in: the trail and the as-found copies go there when
    // the settings name no folder (the program itself works in the data folder).
    static void SetStartFolder(const QString &folder);
    static QString TrailPath();
    static QString AsFoundFolder();

    // A record of action stamped now by the operator.
    AuditRecord Record(const QString &action) const;
    // The meter file's series, firmware (as a meter told it), serial number, path and SHA-256
    // into record.
    static void Describe(AuditRecord &record, MeterSeriesModel &file, const QString &path);
    // Appends record to the trail in force; false (and said) when it could not be written.
    bool Append(const AuditRecord &record) const;
    // Asks question on the terminal (standard error, answer on standard input): true for "y"
    // or "yes"; false for anything else, the end of the input or Ctrl+C.
    static bool Confirm(const QString &question, CliSignals &signals);
    // tarvik-cli report SERIAL --pdf OUT [--text]: the PDF named pdf (as the user gave it, with
    // its extension) is written at pdfPath.
    int Report(const CliArgs &args, const QString &pdf, const QString &pdfPath) const;

private:
    QString m_operator;
};

#pragma once

#include "audit/AuditRecord.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The audit trail read as the journal the service records are filled from: whole lines from a
// byte offset on, each with its record and its id. A line that is no record (one a crash cut
// short, which the next append closed) is passed over and counted; a last line still without its
// line feed is left where it is, for a later read.
class JournalReader
{
public:
    struct Line
    {
        QByteArray bytes; // as the trail holds it, without the line feed
        AuditRecord record;
        qint64 offset = 0; // where the line begins in the trail
    };
    struct Batch
    {
        std::vector<Line> lines;
        int skipped = 0;
        qint64 end = 0; // the offset after the last line taken or passed over
        bool more = false; // whole lines remain after end
        QString error;
    };

    explicit JournalReader(QString path);
    QString Path() const { return m_path; }
    // At most maxLines records from offset on.
    Batch Read(qint64 offset, int maxLines) const;
    // The id of the trail's first record (empty for an empty trail): a trail begun anew under
    // the same name is told from the one a store has taken from.
    QString Head() const;
    // Whole lines after offset.
    qint64 LinesAfter(qint64 offset) const;

private:
    QString m_path;
};

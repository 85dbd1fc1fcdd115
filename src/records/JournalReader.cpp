#include "records/JournalReader.h"

#include <QFile>

JournalReader::JournalReader(QString path)
    : m_path(std::move(path))
{
}

JournalReader::Batch JournalReader::Read(qint64 offset, int maxLines) const
{
    Batch batch;
    batch.end = offset;
    QFile file(m_path);
    if (!file.exists())
        return batch;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
        batch.error = QStringLiteral("The audit trail %1 cannot be read: %2.")
                          .arg(m_path, file.errorString());
        return batch;
    }
    // Read in blocks: a batch is a few hundred lines of a trail that may be large.
    QByteArray pending;
    qint64 at = offset;
    while (int(batch.lines.size()) < maxLines) {
        const qsizetype feed = pending.indexOf('\n');
        if (feed < 0) {
            const QByteArray block = file.read(1 << 16);
            if (block.isEmpty())
                break;
            pending += block;
            continue;
        }
        const QByteArray bytes = pending.left(feed);
        pending.remove(0, feed + 1);
        const qint64 begins = at;
        at += feed + 1;
        batch.end = at;
        if (bytes.trimmed().isEmpty())
            continue;
        if (auto record = AuditRecord::FromJson(bytes))
            batch.lines.push_back({ bytes.trimmed(), std::move(*record), begins });
        else
            ++batch.skipped;
    }
    if (int(batch.lines.size()) >= maxLines)
        batch.more = !pending.isEmpty() || !file.atEnd();
    return batch;
}

QString JournalReader::Head() const
{
    const Batch first = Read(0, 1);
    return first.lines.empty() ? QString() : first.lines.front().record.lineId;
}

qint64 JournalReader::LinesAfter(qint64 offset) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
        return 0;
    qint64 count = 0;
    while (!file.atEnd())
        count += file.read(1 << 16).count('\n');
    return count;
}

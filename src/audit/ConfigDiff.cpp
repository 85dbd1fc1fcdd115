#include "audit/ConfigDiff.h"

#include <QHash>

#include <algorithm>

ConfigDiff::Result ConfigDiff::Compare(
    const std::vector<Field> &before, const std::vector<Field> &after)
{
    Result result;
    QHash<QString, const Field *> old;
    for (const Field &f : before)
        old.insert(f.caption, &f);
    QHash<QString, bool> seen;
    for (const Field &f : after) {
        seen.insert(f.caption, true);
        const Field *was = old.value(f.caption, nullptr);
        const QString previous = was ? was->text.trimmed() : QString();
        if (was && previous == f.text.trimmed())
            ++result.unchanged;
        else
            result.changes.push_back({ f.caption, f.id, previous, f.text.trimmed() });
    }
    for (const Field &f : before)
        if (!seen.contains(f.caption))
            result.changes.push_back({ f.caption, f.id, f.text.trimmed(), QString() });
    return result;
}

QString ConfigDiff::Text(const Result &result, int maxChanges)
{
    QString text;
    const int count = int(result.changes.size());
    const int shown = maxChanges < 0 || count <= maxChanges ? count : maxChanges;
    for (int i = 0; i < shown; ++i) {
        const AuditRecord::Change &c = result.changes[size_t(i)];
        text += QStringLiteral("%1: %2 -> %3\n").arg(c.caption, c.before, c.after);
    }
    if (shown < count)
        text += QStringLiteral("... and %1 more changes.\n").arg(count - shown);
    text += result.unchanged == 1 ? QStringLiteral("1 field unchanged.")
                                  : QStringLiteral("%1 fields unchanged.").arg(result.unchanged);
    return text;
}

std::vector<int> ConfigDiff::DifferingBytes(const QByteArray &sent, const QByteArray &stored)
{
    std::vector<int> offsets;
    const int common = int(std::min(sent.size(), stored.size()));
    for (int i = 0; i < common; ++i)
        if (sent.at(i) != stored.at(i))
            offsets.push_back(i);
    for (int i = common; i < int(std::max(sent.size(), stored.size())); ++i)
        offsets.push_back(i);
    return offsets;
}

QStringList ConfigDiff::ByteNames(
    const std::vector<int> &offsets, const std::function<QString(int)> &nameAt)
{
    QStringList names;
    for (int offset : offsets) {
        const QString name = nameAt ? nameAt(offset) : QString();
        names << (name.isEmpty() ? QStringLiteral("byte %1").arg(offset)
                                 : QStringLiteral("byte %1 (%2)").arg(offset).arg(name));
    }
    return names;
}

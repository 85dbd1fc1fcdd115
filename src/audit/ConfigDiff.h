#pragma once

#include "audit/AuditRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Two configurations compared field by field as the form shows them (caption, field id, text),
// and two meter images byte by byte. The send's comparison before writing, its check after,
// `tarvik-cli diff` and the audit trail's changed fields all come from here.
class ConfigDiff
{
public:
    struct Field
    {
        QString caption;
        int id = 0;
        QString text;
    };
    struct Result
    {
        std::vector<AuditRecord::Change> changes; // in the order of `after`, then before's own
        int unchanged = 0;
        bool Equal() const { return changes.empty(); }
    };

    // The fields whose text differs, matched by caption (a coefficient line's caption carries its
    // index); a field on one side only is a change to or from empty text. Blanks around a text
    // do not count: the forms pad some fields.
    static Result Compare(const std::vector<Field> &before, const std::vector<Field> &after);
    // "Caption: before -> after" a line, then "N fields unchanged." ("1 field unchanged.").
    // With maxChanges, at most that many change lines, then "... and N more changes." (a
    // question box must fit the screen).
    static QString Text(const Result &result, int maxChanges = -1);

    // Image bytes that differ between what was sent and what the meter holds after storing it.
    // Nothing in the image is the meter's to change when it stores one: the only byte it keeps
    // of its own, the active range (in "mode" or "meter_num"), is sent as the meter reported it
    // in the read before the send, so it comes back unchanged; the firmware version and
    // revision are not in the image. A difference anywhere is therefore a fault. Offsets in
    // byte order; images of different sizes differ from the shorter one's end on.
    static std::vector<int> DifferingBytes(const QByteArray &sent, const QByteArray &stored);
    // The differing bytes named for a message: a variable's name by its offset ("byte 12
    // (evalue[2])"), through nameAt (empty when no variable covers the offset).
    static QStringList ByteNames(
        const std::vector<int> &offsets, const std::function<QString(int)> &nameAt);
};

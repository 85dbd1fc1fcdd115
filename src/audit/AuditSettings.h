#pragma once

#include <QString>

// The settings of the checks around a send and of the audit trail, in the preferences store
// (section "Audit"): whether a send compares with the meter first and reads back after, and the
// folders of the trail and of the as-found copies (empty: the working folder), and the operator
// the records name when nobody identified otherwise. The Settings sheet writes them; the forms
// and tarvik-cli read them when they act.
class AuditSettings
{
public:
    static constexpr const char *kTrailFileName = "tarvik-audit.jsonl";

    static bool CompareBeforeSend();
    static void SetCompareBeforeSend(bool on);
    static bool ReadBackAfterSend();
    static void SetReadBackAfterSend(bool on);
    static QString Folder();
    static void SetFolder(const QString &folder);
    static QString AsFoundFolder();
    static void SetAsFoundFolder(const QString &folder);
    // The operator's name (empty: none set, the records then say "Anon").
    static QString Operator();
    static void SetOperator(const QString &name);
    // The trail's path for the folder in force.
    static QString TrailPath();
    // The trail in folder (the working folder when empty).
    static QString TrailPathIn(const QString &folder);
};

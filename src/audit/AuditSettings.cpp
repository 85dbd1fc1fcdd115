#include "audit/AuditSettings.h"

#include "base/CPrefs.h"

#include <QDir>
#include <QSettings>

namespace {
const QString kAuditCompareKey = QStringLiteral("Audit/CompareBeforeSend");
const QString kAuditReadBackKey = QStringLiteral("Audit/ReadBackAfterSend");
const QString kAuditFolderKey = QStringLiteral("Audit/Folder");
const QString kAuditAsFoundKey = QStringLiteral("Audit/AsFoundFolder");
const QString kAuditOperatorKey = QStringLiteral("Audit/Operator");

bool AuditFlag(const QString &key)
{
    // On unless the store says off: a value that is no flag keeps the checks.
    const QString text = CPrefs::OpenStore()->value(key).toString().trimmed().toLower();
    return !(text == QLatin1String("false") || text == QLatin1String("0")
        || text == QLatin1String("off"));
}

void AuditPut(const QString &key, const QString &value)
{
    CPrefs::OpenStore()->setValue(key, value);
}
} // namespace

bool AuditSettings::CompareBeforeSend()
{
    return AuditFlag(kAuditCompareKey);
}

void AuditSettings::SetCompareBeforeSend(bool on)
{
    AuditPut(kAuditCompareKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

bool AuditSettings::ReadBackAfterSend()
{
    return AuditFlag(kAuditReadBackKey);
}

void AuditSettings::SetReadBackAfterSend(bool on)
{
    AuditPut(kAuditReadBackKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

QString AuditSettings::Folder()
{
    auto store = CPrefs::OpenStore();
    return CPrefs::ReadText(*store, QStringLiteral("Audit"), QStringLiteral("Folder"));
}

void AuditSettings::SetFolder(const QString &folder)
{
    AuditPut(kAuditFolderKey, folder.trimmed());
}

QString AuditSettings::AsFoundFolder()
{
    auto store = CPrefs::OpenStore();
    return CPrefs::ReadText(*store, QStringLiteral("Audit"), QStringLiteral("AsFoundFolder"));
}

void AuditSettings::SetAsFoundFolder(const QString &folder)
{
    AuditPut(kAuditAsFoundKey, folder.trimmed());
}

QString AuditSettings::Operator()
{
    auto store = CPrefs::OpenStore();
    return CPrefs::ReadText(*store, QStringLiteral("Audit"), QStringLiteral("Operator")).trimmed();
}

void AuditSettings::SetOperator(const QString &name)
{
    AuditPut(kAuditOperatorKey, name.trimmed());
}

QString AuditSettings::TrailPath()
{
    return TrailPathIn(Folder());
}

QString AuditSettings::TrailPathIn(const QString &folder)
{
    const QDir dir(folder.isEmpty() ? QDir::currentPath() : folder);
    return dir.filePath(QString::fromLatin1(kTrailFileName));
}

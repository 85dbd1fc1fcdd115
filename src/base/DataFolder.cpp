#include "base/DataFolder.h"

#include <QDir>
#include <QFileInfo>

bool DataFolder::Holds(const QString &dir)
{
    return !dir.isEmpty() && QFileInfo(QDir(dir).filePath(QLatin1String(kMarkerFile))).isFile();
}

QString DataFolder::InstalledDir(const QString &programDir)
{
    const QString dir = QDir::cleanPath(programDir + QStringLiteral("/../share/tarvik"));
    return Holds(dir) ? dir : QString();
}

QString DataFolder::Find(
    const QString &workDir, const QString &envDir, const QString &installedDir, QStringList *looked)
{
    const struct
    {
        QString dir;
        QString name;
    } places[] = {
        { workDir, QStringLiteral("the working folder %1").arg(workDir) },
        { envDir,
            envDir.isEmpty() ? QStringLiteral("TARVIK_DATA (not set)")
                             : QStringLiteral("TARVIK_DATA=%1").arg(envDir) },
        { installedDir,
            installedDir.isEmpty() ? QStringLiteral("the installed folder (none)")
                                   : QStringLiteral("the installed folder %1").arg(installedDir) },
    };
    for (const auto &place : places) {
        if (looked)
            *looked << place.name;
        if (Holds(place.dir))
            return QDir(place.dir).absolutePath();
    }
    return QString();
}

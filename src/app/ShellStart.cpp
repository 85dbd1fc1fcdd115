#include "app/ShellStart.h"

#include "base/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace {

// The program's own data, replaced by a newer installed copy; everything else belongs to the
// user once it exists.
bool IsProgramData(const QString &name)
{
    return name.endsWith(QLatin1String(".dat")) || name.endsWith(QLatin1String(".que"));
}

bool SameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    return first.size() == second.size() && first.readAll() == second.readAll();
}

} // namespace

QStringList ShellStart::DocumentPaths(const QStringList &arguments)
{
    QStringList paths;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        // A desktop may hand over a file URL instead of a path.
        QString path = argument;
        if (path.startsWith(QLatin1String("file://")))
            path = QUrl(path).toLocalFile();
        paths << QFileInfo(path).absoluteFilePath();
    }
    return paths;
}

QString ShellStart::InstalledDataDir(const QString &programDir)
{
    return DataFolder::InstalledDir(programDir);
}

QString ShellStart::DataSource(const QString &programDir, QStringList *looked)
{
    return DataFolder::Find(QDir::currentPath(), qEnvironmentVariable("TARVIK_DATA"),
        InstalledDataDir(programDir), looked);
}

QString ShellStart::UserWorkDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tarvik");
}

QString ShellStart::EnterWorkFolder(const QString &dataDir, const QString &userDir, QString *error)
{
    if (DataFolder::Holds(QDir::currentPath()) || dataDir.isEmpty())
        return QDir::currentPath();
    if (!QDir().mkpath(userDir)) {
        if (error)
            *error = QStringLiteral("%1: cannot create the working folder").arg(userDir);
        return QDir::currentPath();
    }
    const QDir source(dataDir);
    for (const QString &name : source.entryList(QDir::Files, QDir::Name)) {
        const QString from = source.filePath(name);
        const QString to = userDir + QLatin1Char('/') + name;
        const bool exists = QFileInfo::exists(to);
        if (exists && (!IsProgramData(name) || SameContent(from, to)))
            continue;
        if (exists)
            QFile::remove(to);
        if (QFile::copy(from, to))
            QFile(to).setPermissions(
                QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        else if (error)
            *error = QStringLiteral("%1: cannot copy %2 there").arg(userDir, name);
    }
    QDir::setCurrent(userDir);
    return QDir::currentPath();
}

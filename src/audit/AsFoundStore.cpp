#include "audit/AsFoundStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString AsFoundStore::FileName(const QString &serial, const QString &extension, const QDateTime &at)
{
    QString name = serial.trimmed();
    for (QChar &c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.isSpace()
            || c.unicode() < 0x20)
            c = QLatin1Char('_');
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("unknown");
    return name + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd-HHmmss")) + extension;
}

QString AsFoundStore::Save(const QString &base, const QString &serial, const QString &extension,
    const QByteArray &bytes, const QDateTime &at, QString *error)
{
    const QDir root(base.isEmpty() ? QDir::currentPath() : base);
    const QString folder = root.filePath(QString::fromLatin1(kFolder));
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        *error = QStringLiteral("The as-found folder %1 cannot be created.").arg(folder);
        return QString();
    }
    const QString name = FileName(serial, QString(), at);
    QString path = QDir(folder).filePath(name + extension);
    for (int n = 2; QFileInfo::exists(path) && n < 1000; ++n)
        path = QDir(folder).filePath(QStringLiteral("%1-%2%3").arg(name).arg(n).arg(extension));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("The as-found copy %1 could not be written: %2.")
                     .arg(path, file.errorString());
        return QString();
    }
    return path;
}

#include "base/SaveFileName.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString ShownPath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}
} // namespace

SaveFileName::SaveFileName(const QString &typed, const QStringList &extensions)
{
    QString path = QDir::fromNativeSeparators(typed);
    while (!path.isEmpty() && (path.back().isSpace() || path.back() == QLatin1Char('.')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1).trimmed();
    if (name.isEmpty())
        return;
    path = path.left(slash + 1) + name;
    m_typed = path;
    bool own = extensions.isEmpty();
    for (const QString &extension : extensions) {
        if (!name.endsWith(extension, Qt::CaseInsensitive))
            continue;
        if (name.size() == extension.size())
            return; // only an extension: no name
        own = true;
    }
    m_path = own ? path : path + extensions.constFirst();
}

SaveFileName::State SaveFileName::Check() const
{
    if (m_path.isEmpty())
        return State::NoName;
    const QFileInfo info(m_path);
    if (info.isDir() || QFileInfo(m_typed).isDir())
        return State::Folder;
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return State::NoFolder;
    if (!folder.isWritable())
        return State::ReadOnlyFolder;
    return info.exists() || info.isSymLink() ? State::Exists : State::Free;
}

QString SaveFileName::RefusalText(State state) const
{
    const QFileInfo info(m_path);
    switch (state) {
    case State::NoName:
        return QStringLiteral("Type a name for the file.");
    case State::Folder:
        return QStringLiteral("%1 is a folder.\nType the name of a file to save.")
            .arg(ShownPath(info.isDir() ? m_path : m_typed));
    case State::NoFolder:
        return QStringLiteral("%1 cannot be saved: there is no folder %2.\nNothing was saved; "
                              "choose a folder that exists.")
            .arg(ShownPath(m_path), ShownPath(info.absolutePath()));
    case State::ReadOnlyFolder:
        return QStringLiteral("%1 cannot be saved: the folder %2 may not be written to.\n"
                              "Nothing was saved; choose another folder.")
            .arg(ShownPath(m_path), ShownPath(info.absolutePath()));
    case State::Free:
    case State::Exists:
        break;
    }
    return QString();
}

QString SaveFileName::ReplaceText() const
{
    return QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(ShownPath(m_path));
}

QString SaveFileName::OpenElsewhereText(const QString &path)
{
    return QStringLiteral("%1 is open in another window.\nClose that window first, or save "
                          "under another name.")
        .arg(ShownPath(path));
}

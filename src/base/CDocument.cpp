#include "base/CDocument.h"

#include <QFileInfo>

CDocument::CDocument(QObject *parent)
    : QObject(parent)
{
}

CDocument::~CDocument() = default;

bool CDocument::OnOpenDocument(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

bool CDocument::OnSaveDocument(const QString &)
{
    return true;
}

void CDocument::SetPathName(const QString &path)
{
    m_pathName = path;
    SetTitle(QFileInfo(path).fileName());
}

void CDocument::SetTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    Q_EMIT TitleChanged(m_title);
}

void CDocument::SetModifiedFlag(bool modified)
{
    if (modified == m_modified)
        return;
    m_modified = modified;
    Q_EMIT ModifiedChanged(modified);
}

QString CDocument::FrameTitle() const
{
    // The placeholder only while modified, so an unmodified window's title is the title exactly.
    return m_title + (m_modified ? QStringLiteral("[*]") : QString());
}

#include "terminal/CTermDoc.h"

#include <QFile>

CTermDoc::CTermDoc(QObject *parent)
    : CDocument(parent)
{
}

bool CTermDoc::OnOpenDocument(const QString &path)
{
    if (!CDocument::OnOpenDocument(path))
        return false;
    m_screen.Reset();
    UpdateViews();
    return true;
}

bool CTermDoc::OnSaveDocument(const QString &path)
{
    // The terminal stores nothing, so Save leaves an empty file behind. An existing file is
    // opened for appending, not truncated: "Save As" onto another document's file must not
    // wipe it for a document that has nothing to write.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    file.close();
    return true;
}

void CTermDoc::UpdateViews()
{
    if (!m_screen.HasRepaint())
        return;
    Q_EMIT ScreenChanged(m_screen.TakeRepaint());
}

#include "lists/CQueDoc.h"

#include "base/UserMessage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

CQueDoc::CQueDoc(QObject *parent)
    : CDocument(parent)
{
}

QStringList CQueDoc::SplitLines(const QByteArray &content)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        const qsizetype next = end < 0 ? content.size() : end + 1;
        if (end < 0)
            end = content.size();
        qsizetype stop = end;
        if (stop > start && content.at(stop - 1) == '\r')
            --stop;
        lines.append(QString::fromLatin1(content.constData() + start, stop - start));
        start = next;
    }
    return lines;
}

bool CQueDoc::OnOpenDocument(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    DeleteContents();
    m_lines = SplitLines(file.readAll());
    m_loadedFrom = QFileInfo(path).canonicalFilePath();
    SetModifiedFlag(false);
    return true;
}

bool CQueDoc::OnSaveDocument(const QString &path)
{
    // The list's own file is never rewritten: the steps on disk stay exactly as they are.
    const QFileInfo target(path);
    if (target.exists() && target.canonicalFilePath() == m_loadedFrom)
        return true;
    QByteArray content;
    for (const QString &line : m_lines)
        content += line.toLatin1() + "\r\n";
    QSaveFile file(path);
    // Unbuffered, so a short write (disk full) is seen here and the old file stays.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || file.write(content) != content.size() || !file.commit()) {
        UserMessage::Show(QStringLiteral("Failed to save document."));
        return false;
    }
    return true;
}

#include "datalog/DatalogDoc.h"

#include <QFile>
#include <QFileInfo>

DatalogDoc::DatalogDoc(QObject *parent)
    : CDocument(parent)
{
}

bool DatalogDoc::OnOpenDocument(const QString &path)
{
    // Nothing is read: the file only has to exist and be readable.
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

bool DatalogDoc::OnSaveDocument(const QString &path)
{
    // Nothing to write; a log file saved over by mistake keeps its rows.
    if (QFileInfo::exists(path))
        return QFileInfo(path).isWritable();
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

bool DatalogDoc::IsDatalogLog(const QString &path)
{
    QFile file(path);
    return !path.isEmpty() && file.open(QIODevice::ReadOnly)
        && file.read(11) == QByteArrayLiteral("\"Halvren - ");
}

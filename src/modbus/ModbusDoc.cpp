#include "modbus/ModbusDoc.h"

#include <QFile>
#include <QFileInfo>

ModbusDoc::ModbusDoc(QObject *parent)
    : CDocument(parent)
{
}

bool ModbusDoc::OnOpenDocument(const QString &path)
{
    // Nothing is read: the file only has to exist and be readable.
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

bool ModbusDoc::OnSaveDocument(const QString &path)
{
    // Nothing to write. A new name gets an empty file, so the document can be opened from it
    // again; an existing file keeps its content (any ".txt" file opens here, and saving it must
    // not empty it).
    if (QFileInfo::exists(path))
        return QFileInfo(path).isWritable();
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

#include "modbus/ModbusDoc.h"

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

bool ModbusDoc::OnSaveDocument(const QString &)
{
    return true;
}

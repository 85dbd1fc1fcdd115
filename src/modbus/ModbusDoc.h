#pragma once

#include "base/CDocument.h"

// The Modbus window's document: holds nothing and stores nothing. Any ".txt" file opens as
// one; saving creates an empty file under a new name but leaves an existing file as it is, so
// a text file opened by mistake is never emptied.
class ModbusDoc : public CDocument
{
    Q_OBJECT
public:
    explicit ModbusDoc(QObject *parent = nullptr);
    bool OnOpenDocument(const QString &path) override;
    bool OnSaveDocument(const QString &path) override;
    bool StoresContent() const override { return false; }
};

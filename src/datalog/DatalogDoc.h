#pragma once

#include "base/CDocument.h"

// The datalogger window's document: holds nothing and stores nothing (the form writes and reads
// its log files itself). Any readable ".log" file opens as one; the New datalog form command
// opens "Datalog.log". Saving never empties an existing file.
class DatalogDoc : public CDocument
{
    Q_OBJECT
public:
    explicit DatalogDoc(QObject *parent = nullptr);
    bool OnOpenDocument(const QString &path) override;
    bool OnSaveDocument(const QString &path) override;
    // Whether path is a log the datalogger wrote (PC or meter log): its first bytes are a quote
    // and "Halvren - ", as the desktop type tells such logs apart.
    static bool IsDatalogLog(const QString &path);
};

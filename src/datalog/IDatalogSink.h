#pragma once

#include "datalog/LogData.h"

#include <QString>

// What the GUI-free datalogger tells its form: the status and mode displays (also in the middle
// of a meter dialogue), changed fields and lists, and whether a meter
// dialogue runs and how far it is.
// The form implements it; tests record what it is told.
class IDatalogSink
{
public:
    virtual ~IDatalogSink() = default;
    virtual void StatusChanged(const QString &status, const QString &mode) = 0;
    virtual void FieldsChanged() { }
    // The three lists were emptied or replaced as a whole.
    virtual void ListsReset() { }
    // One entry was added at the end of a list.
    virtual void ListAppended(LogData::List /*list*/) { }
    virtual void FocusStopButton() { }
    // How far the running meter dialogue is ("attempt 2 of 5", bytes of a transfer).
    virtual void ProgressChanged(const QString & /*progress*/) { }
    // A meter dialogue began or ended: the buttons that would start another are refused
    // meanwhile, and Cancel is offered.
    virtual void DialogueRunning(bool /*running*/) { }
};

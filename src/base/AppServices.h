#pragma once

#include <QString>

class CDocument;
class CSerial;
class CView;
class MeterSession;
class mbCSerial;

// What the application owns and lends to its subsystems: the meter link, the Modbus port and
// the document manager's opening of files. The application installs itself at start-up; tests
// install their own. Subsystems reach these through Instance() and never include the
// application's headers, so the floors stay one-way.
class AppServices
{
public:
    virtual ~AppServices() = default;

    // The installed services, or null before start-up (and in tests that install none).
    static AppServices *Instance();
    // Installs services and returns the ones they replace; null uninstalls.
    static AppServices *Install(AppServices *services);
    // What the connected meter said about itself: the installed services' session, or, in a
    // program that installs none (the command line, tests), one kept here for it.
    static MeterSession &Meter();

    // The meter link (RS-232) and the Modbus port; either may be null.
    virtual CSerial *MeterLink() = 0;
    virtual mbCSerial *ModbusPort() = 0;
    // Opens a document by file name as File > Open does (an open one is brought forward) and
    // gives it, or null when it cannot be opened. addToRecent false keeps the file out of the
    // recent-file list (files the program opens for itself).
    virtual CDocument *OpenDocument(const QString &path, bool addToRecent = true) = 0;
    // The view of the first window showing the document, or null.
    virtual CView *FirstViewOf(CDocument *document) = 0;
    virtual void AddToRecentFiles(const QString &path) = 0;
    // The open document whose file is path (by any spelling of it), or null.
    virtual CDocument *OpenDocumentAt(const QString & /*path*/) { return nullptr; }
    // The application's meter session; null leaves Meter() to the standing one.
    virtual MeterSession *Session() { return nullptr; }
};

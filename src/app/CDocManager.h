#pragma once

#include "base/CDocTemplate.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>
#include <vector>

class CChildFrame;
class CDocument;
class QMdiArea;
class QWidget;

// The program's document/view framework: document types in registration order, open by file
// name (bringing an already open file's window forward instead), the recent-file list, the Open
// prompt, Save and Save As, and the child frames of every document in the main frame's MDI area.
class CDocManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRecentFileCount = 8;

    explicit CDocManager(QObject *parent = nullptr);
    ~CDocManager() override;

    void AddDocTemplate(const CDocTemplate &docTemplate);
    const std::vector<CDocTemplate> &Templates() const { return m_templates; }
    // Index of the type whose extension the file has, or -1.
    int TemplateFor(const QString &path) const;
    // The Open prompt's filters: one per type in registration order, then "All Files (*)".
    QStringList OpenFilters() const;

    // Where child frames go; null (tests of documents alone) creates documents without windows.
    void SetMdiArea(QMdiArea *area) { m_mdiArea = area; }
    QMdiArea *MdiArea() const { return m_mdiArea; }

    // Opens a file as a document, as if picked in the Open prompt: the type chosen by extension,
    // an open document of the same file activated instead, the file added to the recent list
    // unless addToRecent is false (files the program opens for itself).
    // Shows "Failed to open document." and returns null when it cannot be opened. A document
    // opened asTemplate (the New commands) is never saved over its file without a new name.
    CDocument *OpenDocumentFile(
        const QString &path, bool addToRecent = true, bool asTemplate = false);
    // Shows the Open prompt (File New and File Open) and opens the chosen file; File New opens
    // it as a template.
    void OnFileOpen(QWidget *parent, bool asTemplate = false);
    // Save and Save As of a document; false when nothing was written.
    bool SaveDocument(CDocument *document, bool askForName, QWidget *parent);
    // A further window onto a document (Window > New Window).
    CChildFrame *NewWindow(CDocument *document);

    QList<CDocument *> Documents() const { return m_documents; }
    // The windows showing the document; a window whose close was accepted counts no more,
    // though it is deleted only later.
    QList<CChildFrame *> FramesOf(const CDocument *document) const;
    // The open document of the file; one whose windows have all closed is not open any more
    // (opening the file again gives a new document and window).
    CDocument *FindOpenDocument(const QString &path) const;

    QStringList RecentFiles() const { return m_recentFiles; }
    void AddToRecentFiles(const QString &path);
    void RemoveFromRecentFiles(const QString &path);

    void LoadRecentFiles();
    void SaveRecentFiles() const;

    // Closes every window; false when the user cancelled the closing of a modified document.
    bool CloseAllDocuments();
    // Asks whether a modified document is to be saved before its last window closes (Save,
    // Discard, Cancel); Save goes through the document's view when it has its own Save (a form
    // collects its fields first). False when the closing is to stop.
    bool SaveModified(CDocument *document, QWidget *parent);
    // The save question: QMessageBox::Save, Discard or Cancel. The default shows a message box;
    // tests install their own answer.
    using SavePrompt = std::function<int(QWidget *parent, const QString &title)>;
    static SavePrompt SetSavePrompt(SavePrompt prompt);

Q_SIGNALS:
    void RecentFilesChanged();
    void DocumentTitleChanged();

private:
    CChildFrame *CreateFrame(CDocument *document);
    void OnFrameDestroyed(CChildFrame *frame);
    void RemoveDocument(CDocument *document);

    std::vector<CDocTemplate> m_templates;
    QList<CDocument *> m_documents;
    QList<CChildFrame *> m_frames; // in creation order
    QHash<const CChildFrame *, CDocument *> m_frameDocs; // until each frame is destroyed
    QStringList m_recentFiles;
    QMdiArea *m_mdiArea = nullptr;
    // Exit has asked every question already: the windows' own guards let them go.
    bool m_closingAll = false;
};

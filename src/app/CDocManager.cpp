#include "app/CDocManager.h"

#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/CView.h"
#include "base/SaveDialog.h"
#include "base/SaveFileName.h"
#include "base/UserMessage.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMessageBox>
#include <QPointer>

namespace {
QString CanonicalOrAbsolute(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

const QString kRecentSection = QStringLiteral("Recent File List");
} // namespace

CDocManager::CDocManager(QObject *parent)
    : QObject(parent)
{
}

CDocManager::~CDocManager()
{
    // Frames belong to the MDI area; documents left without one are ours.
    qDeleteAll(m_documents);
}

void CDocManager::AddDocTemplate(const CDocTemplate &docTemplate)
{
    m_templates.push_back(docTemplate);
}

int CDocManager::TemplateFor(const QString &path) const
{
    for (size_t i = 0; i < m_templates.size(); ++i) {
        const QString ext = m_templates[i].Extension();
        if (!ext.isEmpty() && path.endsWith(ext, Qt::CaseInsensitive))
            return int(i);
    }
    return -1;
}

QStringList CDocManager::OpenFilters() const
{
    QStringList filters;
    for (const CDocTemplate &t : m_templates)
        filters << QStringLiteral("%1 (%1)").arg(t.FilterName());
    filters << QStringLiteral("All Files (*)");
    return filters;
}

CDocument *CDocManager::FindOpenDocument(const QString &path) const
{
    const QString wanted = CanonicalOrAbsolute(path);
    for (CDocument *doc : m_documents) {
        // Its windows closed, it only waits to be deleted.
        const bool closing = m_frameDocs.key(doc) && FramesOf(doc).isEmpty();
        if (!closing && !doc->PathName().isEmpty()
            && CanonicalOrAbsolute(doc->PathName()) == wanted)
            return doc;
    }
    return nullptr;
}

CDocument *CDocManager::OpenDocumentFile(const QString &path, bool addToRecent, bool asTemplate)
{
    const int typeIndex = TemplateFor(path);
    if (CDocument *open = FindOpenDocument(path)) {
        const QList<CChildFrame *> frames = FramesOf(open);
        if (!frames.isEmpty() && m_mdiArea)
            m_mdiArea->setActiveSubWindow(frames.first());
        return open;
    }
    const QFileInfo info(path);
    // A file that fails to open leaves the recent list (a recent entry whose file has gone).
    const auto fail = [this, &info](bool said = false) {
        RemoveFromRecentFiles(info.absoluteFilePath());
        if (!said)
            UserMessage::Show(QStringLiteral("Failed to open document."));
        return nullptr;
    };
    if (typeIndex < 0 || !info.isFile())
        return fail();
    const CDocTemplate &type = m_templates[size_t(typeIndex)];
    CDocument *doc = type.createDocument ? type.createDocument() : nullptr;
    if (!doc)
        return fail();
    doc->SetTypeIndex(typeIndex);
    const QString fullPath = info.absoluteFilePath();
    if (!doc->OnOpenDocument(fullPath)) {
        // A document that named what is wrong with the file is not followed by a second box.
        const bool said = doc->SaidWhyOpenFailed();
        delete doc;
        return fail(said);
    }
    doc->SetPathName(fullPath);
    doc->SetModifiedFlag(false);
    doc->SetOpenedAsTemplate(asTemplate);
    m_documents.append(doc);
    const auto retitle = [this, doc] {
        for (CChildFrame *frame : FramesOf(doc)) {
            frame->setWindowTitle(doc->FrameTitle());
            frame->setWindowModified(doc->IsModified());
        }
        Q_EMIT DocumentTitleChanged();
    };
    connect(doc, &CDocument::TitleChanged, this, retitle);
    connect(doc, &CDocument::ModifiedChanged, this, retitle);
    connect(doc, &CDocument::CloseRequested, this, [this, doc] {
        for (CChildFrame *frame : FramesOf(doc))
            frame->close();
    });
    if (addToRecent)
        AddToRecentFiles(fullPath);
    if (m_mdiArea)
        CreateFrame(doc);
    return doc;
}

CChildFrame *CDocManager::CreateFrame(CDocument *doc)
{
    const CDocTemplate &type = m_templates[size_t(doc->TypeIndex())];
    CChildFrame *frame = type.createFrame ? type.createFrame() : new CChildFrame;
    CView *view = type.createView ? type.createView(doc) : new CView(doc);
    frame->SetView(view);
    frame->setWindowTitle(doc->FrameTitle());
    frame->setWindowModified(doc->IsModified());
    frame->SetCloseGuard([this, doc, frame] {
        if (m_closingAll)
            return true;
        // The unsaved edits are asked about first: the view's own question may agree to stop
        // what it is doing, which must not happen when the save question is then cancelled.
        if (FramesOf(doc).size() == 1 && !SaveModified(doc, frame))
            return false;
        return !frame->View() || frame->View()->CanClose();
    });
    m_frames.append(frame);
    m_frameDocs.insert(frame, doc);
    // A closed frame is deleted later: until then it must not be handed out as the document's.
    connect(frame, &CChildFrame::Closed, this, [this, frame] { m_frames.removeAll(frame); });
    connect(frame, &QObject::destroyed, this, [this, frame] { OnFrameDestroyed(frame); });
    m_mdiArea->addSubWindow(frame);
    frame->PlaceIn(m_mdiArea->viewport()->rect());
    frame->show();
    m_mdiArea->setActiveSubWindow(frame);
    view->OnInitialUpdate();
    return frame;
}

CChildFrame *CDocManager::NewWindow(CDocument *document)
{
    if (!document || !m_mdiArea || !m_documents.contains(document))
        return nullptr;
    return CreateFrame(document);
}

QList<CChildFrame *> CDocManager::FramesOf(const CDocument *document) const
{
    QList<CChildFrame *> frames;
    for (CChildFrame *frame : m_frames) {
        if (m_frameDocs.value(frame) == document)
            frames.append(frame);
    }
    return frames;
}

void CDocManager::OnFrameDestroyed(CChildFrame *frame)
{
    CDocument *doc = m_frameDocs.take(frame);
    m_frames.removeAll(frame);
    // A document goes with its last window (closed ones included, which still show it).
    if (doc && !m_frameDocs.key(doc))
        RemoveDocument(doc);
}

void CDocManager::RemoveDocument(CDocument *document)
{
    m_documents.removeAll(document);
    document->deleteLater();
    Q_EMIT DocumentTitleChanged();
}

void CDocManager::OnFileOpen(QWidget *parent, bool asTemplate)
{
    QFileDialog dialog(parent, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(OpenFilters());
    dialog.setDirectory(QDir::currentPath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    OpenDocumentFile(dialog.selectedFiles().constFirst(), true, asTemplate);
}

bool CDocManager::SaveDocument(CDocument *document, bool askForName, QWidget *parent)
{
    if (!document)
        return false;
    QString path = document->PathName();
    if (askForName || path.isEmpty()) {
        const int typeIndex = document->TypeIndex();
        SaveDialog::Request request;
        request.caption = QStringLiteral("Save As");
        request.proposed = path.isEmpty() ? document->Title() : path;
        if (typeIndex >= 0) {
            request.filters = QStringList { OpenFilters().value(typeIndex) };
            request.extensions = QStringList { m_templates[size_t(typeIndex)].Extension() };
        }
        // Another window's file is saved from that window.
        request.refuse = [this, document](const QString &target) {
            const CDocument *open = FindOpenDocument(target);
            return open && open != document ? SaveFileName::OpenElsewhereText(target) : QString();
        };
        path = SaveDialog::Ask(parent, request);
        if (path.isEmpty())
            return false;
    }
    if (!document->OnSaveDocument(path))
        return false; // the document has told the user why
    if (path != document->PathName()) {
        document->SetPathName(path);
        AddToRecentFiles(path);
    }
    document->SetModifiedFlag(false);
    return true;
}

namespace {
int AskToSave(QWidget *parent, const QString &title)
{
    return QMessageBox::question(parent, QStringLiteral("Tarvik V2.16"),
        QStringLiteral("Save changes to %1?").arg(title),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
}

CDocManager::SavePrompt &Prompt()
{
    static CDocManager::SavePrompt prompt = AskToSave;
    return prompt;
}
} // namespace

CDocManager::SavePrompt CDocManager::SetSavePrompt(SavePrompt prompt)
{
    SavePrompt old = Prompt();
    Prompt() = std::move(prompt);
    return old;
}

bool CDocManager::SaveModified(CDocument *document, QWidget *parent)
{
    if (!document || !document->IsModified() || !document->StoresContent())
        return true;
    const int answer = Prompt() ? Prompt()(parent, document->Title()) : QMessageBox::Discard;
    if (answer == QMessageBox::Cancel)
        return false;
    if (answer != QMessageBox::Save)
        return true;
    // A form holds edits its document has not taken yet: its own Save collects them.
    for (CChildFrame *frame : FramesOf(document)) {
        CView *view = frame->View();
        if (view && view->HandlesCommand(AppCommand::Save)) {
            view->OnCommand(AppCommand::Save);
            return !document->IsModified();
        }
    }
    return SaveDocument(document, false, parent);
}

bool CDocManager::CloseAllDocuments()
{
    if (!m_mdiArea)
        return true;
    // Every question first, nothing closed meanwhile: a Cancel anywhere leaves every window as
    // it was. Discard takes effect only once all have agreed.
    // A question's message box runs events: a window may close meanwhile (a list ending).
    // The views' own questions (a send to stop) come last, after every save question.
    QList<QPointer<CChildFrame>> frames;
    for (CChildFrame *frame : m_frames)
        frames.append(frame);
    QList<QPointer<CDocument>> documents;
    for (CDocument *doc : m_documents)
        documents.append(doc);
    QList<QPointer<CDocument>> discarded;
    for (const QPointer<CDocument> &doc : documents) {
        if (!doc || FramesOf(doc).isEmpty())
            continue;
        if (!SaveModified(doc, FramesOf(doc).constFirst()))
            return false;
        if (doc->IsModified())
            discarded.append(doc);
    }
    for (const QPointer<CChildFrame> &frame : frames) {
        if (frame && frame->View() && !frame->View()->CanClose())
            return false;
    }
    for (const QPointer<CDocument> &doc : discarded) {
        if (doc)
            doc->SetModifiedFlag(false);
    }
    m_closingAll = true;
    m_mdiArea->closeAllSubWindows();
    m_closingAll = false;
    return m_mdiArea->subWindowList().isEmpty();
}

void CDocManager::AddToRecentFiles(const QString &path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    m_recentFiles.removeAll(full);
    m_recentFiles.prepend(full);
    while (m_recentFiles.size() > kRecentFileCount)
        m_recentFiles.removeLast();
    SaveRecentFiles();
    Q_EMIT RecentFilesChanged();
}

void CDocManager::RemoveFromRecentFiles(const QString &path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    if (m_recentFiles.removeAll(full) == 0)
        return;
    SaveRecentFiles();
    Q_EMIT RecentFilesChanged();
}

void CDocManager::LoadRecentFiles()
{
    auto store = CPrefs::OpenStore();
    m_recentFiles.clear();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        const QString file
            = CPrefs::ReadText(*store, kRecentSection, QStringLiteral("File%1").arg(i));
        if (!file.isEmpty())
            m_recentFiles.append(file);
    }
    Q_EMIT RecentFilesChanged();
}

void CDocManager::SaveRecentFiles() const
{
    auto store = CPrefs::OpenStore();
    store->remove(kRecentSection);
    for (int i = 0; i < m_recentFiles.size(); ++i)
        store->setValue(kRecentSection + QStringLiteral("/File%1").arg(i + 1), m_recentFiles.at(i));
}

#include "meter/FormFileCommands.h"

#include "base/AppServices.h"
#include "base/AppTitle.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/SaveDialog.h"
#include "base/SaveFileName.h"
#include "base/UserMessage.h"
#include "meter/CConvertDlg.h"
#include "meter/CMeterDoc.h"
#include "meter/ZarnFormBase.h"

#include <QDir>
#include <QFileInfo>

namespace {
FormFileCommands::SaveAsPrompt &Prompt()
{
    static FormFileCommands::SaveAsPrompt prompt;
    return prompt;
}

// Another window's document is saved from that window: writing its file here would leave it
// showing what is no longer there.
QString OpenElsewhereText(const CDocument *doc, const QString &path)
{
    AppServices *services = AppServices::Instance();
    const CDocument *open = services ? services->OpenDocumentAt(path) : nullptr;
    if (!open || open == doc)
        return QString();
    return SaveFileName::OpenElsewhereText(path);
}

// A document title made from a meter's serial number must not lead out of the folder.
QString SafeFileName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name;
}
} // namespace

FormFileCommands::SaveAsPrompt FormFileCommands::SetSaveAsPrompt(SaveAsPrompt prompt)
{
    SaveAsPrompt old = Prompt();
    Prompt() = std::move(prompt);
    return old;
}

bool FormFileCommands::Write(const QString &path)
{
    CDocument *doc = m_form.GetDocument();
    if (!doc)
        return false;
    if (!doc->OnSaveDocument(path)) {
        // A meter document has told the user why; anything else gets the general message.
        if (!m_form.MeterDoc())
            UserMessage::Show(QStringLiteral("Failed to save document."));
        return false;
    }
    if (path != doc->PathName()) {
        doc->SetPathName(path);
        doc->SetOpenedAsTemplate(false);
        if (AppServices *services = AppServices::Instance())
            services->AddToRecentFiles(path);
    }
    doc->SetModifiedFlag(false);
    m_form.Audit(QStringLiteral("save"), QStringLiteral("ok"));
    return true;
}

bool FormFileCommands::Save()
{
    CDocument *doc = m_form.GetDocument();
    if (!doc || m_form.RefuseWhileListRuns() || !m_form.CheckTypedNumbers())
        return false;
    if (doc->PathName().isEmpty())
        return SaveAs();
    // A file read in a layout it does not fit would be rewritten in that layout: it is kept.
    const CMeterDoc *meter = m_form.MeterDoc();
    if (meter && meter->LayoutMismatch() && !meter->PathName().isEmpty()
        && doc->Title() == m_form.m_openingTitle) {
        UserMessage::Show(QStringLiteral("%1 was opened in a meter layout it does not fit, so "
                                         "saving would rewrite it in that layout.\nThe file is "
                                         "kept as it is; use Save As to write the form to a new "
                                         "file.")
                              .arg(QFileInfo(doc->PathName()).fileName()),
            QString::fromLatin1(kAppTitle));
        return false;
    }
    // A read renamed the document after the meter: the file takes that name, in the folder of
    // the file the form was opened from.
    QString path = doc->PathName();
    const int at = m_form.m_openingTitle.isEmpty() ? -1 : path.lastIndexOf(m_form.m_openingTitle);
    if (at >= 0) {
        path = path.left(at) + SafeFileName(doc->Title());
        if (!path.contains(m_form.FileExtension()))
            path += m_form.FileExtension();
    }
    // A form opened from a template by a New command and not renamed by a read: the template
    // stays as it is, the user names the file.
    if (doc->OpenedAsTemplate() && path == doc->PathName())
        return SaveAs();
    const QString before = doc->PathName();
    if (path != before) {
        // The name the read gave may be another window's file or a file from an earlier visit.
        const SaveFileName target(path, QStringList());
        const QString refusal = OpenElsewhereText(doc, path);
        if (!refusal.isEmpty()) {
            UserMessage::Show(refusal, QString::fromLatin1(kAppTitle));
            return false;
        }
        if (target.Check() == SaveFileName::State::Exists
            && !UserMessage::Ask(target.ReplaceText(), QString::fromLatin1(kAppTitle)))
            return false;
    }
    if (at >= 0) {
        doc->SetPathName(path);
        doc->SetOpenedAsTemplate(false);
        m_form.m_openingTitle = doc->Title();
    }
    m_form.CollectFields();
    doc->SetModifiedFlag(true);
    if (!Write(path))
        return false;
    // A new file named after the meter goes to the recent list, as one named by Save As does.
    if (path != before) {
        if (AppServices *services = AppServices::Instance())
            services->AddToRecentFiles(path);
    }
    return true;
}

bool FormFileCommands::SaveAs()
{
    CDocument *doc = m_form.GetDocument();
    if (!doc || m_form.RefuseWhileListRuns() || !m_form.CheckTypedNumbers())
        return false;
    m_form.CollectFields();
    const QString oldTitle = doc->Title();
    // A read named the document after the meter it read: that name is proposed as it is.
    const bool readNamed = !m_form.m_openingTitle.isEmpty() && oldTitle != m_form.m_openingTitle;
    const QString title = SafeFileName(readNamed ? oldTitle : m_form.SaveAsTitle());
    doc->SetTitle(title);
    const QString folder = doc->PathName().isEmpty() ? QDir::currentPath()
                                                     : QFileInfo(doc->PathName()).absolutePath();
    SaveDialog::Request request;
    request.caption = QStringLiteral("Save As");
    request.proposed = QDir(folder).filePath(title);
    request.filters = QStringList { QLatin1Char('*') + m_form.FileExtension() };
    request.extensions = QStringList { m_form.FileExtension() };
    request.refuse = [doc](const QString &path) { return OpenElsewhereText(doc, path); };
    const QString path = SaveDialog::Ask(&m_form, request, Prompt());
    if (path.isEmpty()) {
        doc->SetTitle(oldTitle);
        return false;
    }
    if (!Write(path)) {
        doc->SetTitle(oldTitle);
        return false;
    }
    m_form.m_openingTitle = doc->Title();
    m_form.Retitle(doc->Title());
    return true;
}

void FormFileCommands::Convert()
{
    CMeterDoc *doc = m_form.MeterDoc();
    if (!doc || m_form.RefuseWhileListRuns() || !m_form.CheckTypedNumbers())
        return;
    QString target;
    {
        CPrefs prefs;
        target = prefs.GetVersion();
    }
    if (!m_form.CanConvertTo(target))
        return;
    CConvertDlg dialog(doc->ConvertPrompt(target), &m_form);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_form.CollectFields(); // edits not yet collected move with the data
    const bool converted = m_form.ConvertDocument(*doc, target);
    if (converted)
        doc->SetModifiedFlag();
    m_form.ShowFields();
    m_form.Audit(QStringLiteral("convert"),
        converted ? QStringLiteral("ok") : QStringLiteral("failed"),
        QStringLiteral("to %1").arg(target));
}

#pragma once

#include <QString>

#include <functional>

class CDocument;
class CMeterDoc;
class QWidget;

// File > Save, Save As and Convert... of a meter form's document. Save keeps a file opened in a
// layout it does not fit, names the file after the meter a read renamed the document for (in the
// folder it was opened from), and leaves a template to Save As; each command first checks the
// typed fields and refuses while a list runs. Owned by the form (ZarnFormBase), whose series
// parts (file extension, Save As title, collecting and showing the fields, converting) it calls
// through Host.
class FormFileCommands
{
public:
    // What the commands need of their form.
    class Host
    {
    public:
        virtual QWidget *FileWindow() = 0; // the parent of the prompts
        virtual CDocument *FileDocument() const = 0;
        virtual CMeterDoc *MeterDoc() const = 0;
        // Title the document had when the form opened (Save rebuilds the path from it).
        virtual QString OpeningTitle() const = 0;
        virtual void SetOpeningTitle(const QString &title) = 0;
        virtual bool RefuseWhileListRuns() = 0;
        virtual bool CheckTypedNumbers() = 0;
        virtual QString FileExtension() const = 0;
        virtual QString SaveAsTitle() = 0;
        virtual void CollectFields() = 0;
        virtual void ShowFields() = 0;
        virtual bool CanConvertTo(const QString &target) = 0;
        virtual int ConvertDocument(CMeterDoc &doc, const QString &target) = 0;
        virtual void Retitle(const QString &title) = 0;
        virtual void Audit(const QString &action, const QString &result, const QString &message)
            = 0;

    protected:
        ~Host() = default;
    };

    // Asks for the file name of Save As, proposing a name; empty when cancelled. The default
    // shows the Save As prompt; tests install their own. Gives the one it replaces.
    using SaveAsPrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    static SaveAsPrompt SetSaveAsPrompt(SaveAsPrompt prompt);

    explicit FormFileCommands(Host &form)
        : m_form(form)
    {
    }

    bool Save();
    bool SaveAs();
    void Convert();

private:
    // Writes the document to path and makes it the document's file; false (said) on failure.
    bool Write(const QString &path);

    Host &m_form;
};

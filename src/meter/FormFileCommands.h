#pragma once

#include <QString>

#include <functional>

class QWidget;
class ZarnFormBase;

// File > Save, Save As and Convert... of a meter form's document. Save keeps a file opened in a
// layout it does not fit, names the file after the meter a read renamed the document for (in the
// folder it was opened from), and leaves a template to Save As; each command first checks the
// typed fields and refuses while a list runs. Owned by the form (ZarnFormBase), whose series
// parts (file extension, Save As title, collecting and showing the fields, converting) it calls.
class FormFileCommands
{
public:
    // Asks for the file name of Save As, proposing a name; empty when cancelled. The default
    // shows the Save As prompt; tests install their own. Gives the one it replaces.
    using SaveAsPrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    static SaveAsPrompt SetSaveAsPrompt(SaveAsPrompt prompt);

    explicit FormFileCommands(ZarnFormBase &form)
        : m_form(form)
    {
    }

    bool Save();
    bool SaveAs();
    void Convert();

private:
    // Writes the document to path and makes it the document's file; false (said) on failure.
    bool Write(const QString &path);

    ZarnFormBase &m_form;
};

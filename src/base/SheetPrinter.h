#pragma once

#include "base/SheetPage.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QPrinter;
class QPrintPreviewDialog;
class QWidget;

// The print commands of one meter form: File > Print, Print Preview and "Export Datasheet as
// PDF...". Before the form's first datasheet it asks for the operator's identification (once
// the form holds a name it does not ask again); then it builds the page for the device's font
// metrics and draws it. Each form owns one. The application installs the identification
// dialog; tests install their own prompts.
class SheetPrinter
{
public:
    using Builder = std::function<SheetPage(const SheetMetrics &metrics)>;
    // Asks for the operator: the name, or nothing when the dialog was closed without Accept.
    using OperatorPrompt = std::function<std::optional<QString>(QWidget *parent)>;
    // Asks for a PDF file name, proposing one; empty when cancelled.
    using FilePrompt = std::function<QString(QWidget *parent, const QString &proposed)>;
    // Shows the print dialog for printer; true when the user chose to print.
    using PrintPrompt = std::function<bool(QPrinter *printer, QWidget *parent)>;

    // owner parents the dialogs; title names the document (a proposed PDF takes its name);
    // folder is where a proposed PDF goes.
    SheetPrinter(QWidget *owner, Builder builder, std::function<QString()> title,
        std::function<QString()> folder);

    void Print();
    void Preview();
    void ExportPdf();
    // The preview dialog over the shared printer, not yet shown (Preview runs it modally).
    QPrintPreviewDialog *MakePreview();
    // Draws the page on printer; false when the printer could not be started.
    bool Render(QPrinter *printer);
    // Writes the page to a PDF file at path with the shared printer's page layout.
    bool WritePdf(const QString &path);

    QString OperatorName() const { return m_operatorName; }
    // The name of a PDF for the document: its title without a meter file's extension, never a
    // path of its own.
    QString ProposedPdfPath() const;

    // The printer that Print, Print Preview and Print Setup share.
    static QPrinter *SharedPrinter();
    static OperatorPrompt SetOperatorPrompt(OperatorPrompt prompt);
    static FilePrompt SetPdfPrompt(FilePrompt prompt);
    static PrintPrompt SetPrintPrompt(PrintPrompt prompt);

private:
    void EnsureOperator();

    QPointer<QWidget> m_owner;
    Builder m_builder;
    std::function<QString()> m_title;
    std::function<QString()> m_folder;
    QString m_operatorName;
};

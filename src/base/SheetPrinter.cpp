#include "base/SheetPrinter.h"

#include "base/SaveDialog.h"
#include "base/SheetPdf.h"
#include "base/SheetRenderer.h"
#include "base/UserMessage.h"

#include <QDir>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace {
std::optional<QString> NoOperatorPrompt(QWidget *)
{
    return std::nullopt;
}

bool ShowPrintDialog(QPrinter *printer, QWidget *parent)
{
    QPrintDialog dialog(printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    return dialog.exec() == QDialog::Accepted;
}

SheetPrinter::OperatorPrompt &OperatorPromptSlot()
{
    static SheetPrinter::OperatorPrompt prompt = NoOperatorPrompt;
    return prompt;
}

SheetPrinter::FilePrompt &PdfPromptSlot()
{
    static SheetPrinter::FilePrompt prompt; // none: the save dialog
    return prompt;
}

SheetPrinter::PrintPrompt &PrintPromptSlot()
{
    static SheetPrinter::PrintPrompt prompt = ShowPrintDialog;
    return prompt;
}

const char *const kPrintFailed = "The datasheet could not be printed.";
} // namespace

SheetPrinter::SheetPrinter(QWidget *owner, Builder builder, std::function<QString()> title,
    std::function<QString()> folder)
    : m_owner(owner)
    , m_builder(std::move(builder))
    , m_title(std::move(title))
    , m_folder(std::move(folder))
{
}

QPrinter *SheetPrinter::SharedPrinter()
{
    // Lives to the end of the process: the print setup chosen stays for every later print.
    static QPrinter *printer = new QPrinter(QPrinter::HighResolution);
    return printer;
}

SheetPrinter::OperatorPrompt SheetPrinter::SetOperatorPrompt(OperatorPrompt prompt)
{
    OperatorPrompt old = OperatorPromptSlot();
    OperatorPromptSlot() = std::move(prompt);
    return old;
}

SheetPrinter::FilePrompt SheetPrinter::SetPdfPrompt(FilePrompt prompt)
{
    FilePrompt old = PdfPromptSlot();
    PdfPromptSlot() = std::move(prompt);
    return old;
}

SheetPrinter::PrintPrompt SheetPrinter::SetPrintPrompt(PrintPrompt prompt)
{
    PrintPrompt old = PrintPromptSlot();
    PrintPromptSlot() = std::move(prompt);
    return old;
}

void SheetPrinter::EnsureOperator()
{
    // Asked while the form holds no name; printing goes ahead whatever the answer.
    if (!m_operatorName.isEmpty() || !OperatorPromptSlot())
        return;
    if (const std::optional<QString> name = OperatorPromptSlot()(m_owner))
        m_operatorName = *name;
}

QString SheetPrinter::ProposedPdfPath() const
{
    QString name = m_title ? m_title() : QString();
    for (const char *extension : { ".mtr", ".qxm" }) {
        if (name.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            name.chop(4);
    }
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    if (name.isEmpty())
        name = QStringLiteral("Datasheet");
    const QString folder = m_folder ? m_folder() : QString();
    return QDir(folder.isEmpty() ? QDir::currentPath() : folder)
        .filePath(name + QStringLiteral(".pdf"));
}

bool SheetPrinter::Render(QPrinter *printer)
{
    printer->setFromTo(1, 1);
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    const SheetPage page = m_builder(SheetRenderer::Measure(printer));
    const QRectF area(QPointF(0, 0), printer->pageRect(QPrinter::DevicePixel).size());
    SheetRenderer::Draw(painter, page, area);
    return painter.end();
}

bool SheetPrinter::WritePdf(const QString &path)
{
    return SheetPdf::Write(
        path, m_builder, SharedPrinter()->pageLayout(), m_title ? m_title() : QString());
}

void SheetPrinter::Print()
{
    EnsureOperator();
    QPrinter *printer = SharedPrinter();
    // Without a printer the dialog offers a PDF named after the document.
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(ProposedPdfPath());
    }
    printer->setDocName(m_title ? m_title() : QString());
    if (!PrintPromptSlot() || !PrintPromptSlot()(printer, m_owner))
        return;
    if (!Render(printer)) {
        const QString target = printer->outputFileName().isEmpty()
            ? printer->printerName()
            : QDir::toNativeSeparators(printer->outputFileName());
        UserMessage::Show(QString::fromLatin1(kPrintFailed)
            + (target.isEmpty() ? QString() : QStringLiteral("\n") + target));
    }
}

QPrintPreviewDialog *SheetPrinter::MakePreview()
{
    auto *dialog = new QPrintPreviewDialog(SharedPrinter(), m_owner);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Print Preview"));
    QObject::connect(dialog, &QPrintPreviewDialog::paintRequested, dialog,
        [this](QPrinter *printer) { Render(printer); });
    return dialog;
}

void SheetPrinter::Preview()
{
    EnsureOperator();
    QPrintPreviewDialog *dialog = MakePreview();
    dialog->resize(900, 1000);
    dialog->exec();
}

void SheetPrinter::ExportPdf()
{
    EnsureOperator();
    SaveDialog::Request request;
    request.caption = QStringLiteral("Export Datasheet as PDF");
    request.proposed = ProposedPdfPath();
    request.filters = QStringList { QStringLiteral("PDF files (*.pdf)") };
    request.extensions = QStringList { QStringLiteral(".pdf") };
    const QString path = SaveDialog::Ask(m_owner, request, PdfPromptSlot());
    if (path.isEmpty())
        return;
    if (!WritePdf(path)) {
        UserMessage::Show(QStringLiteral("The datasheet could not be written to\n%1")
                              .arg(QDir::toNativeSeparators(path)));
    }
}

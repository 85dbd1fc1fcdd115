// The Kelvane form's datasheet inside the program: a meter read from the simulator, then
// "Export Datasheet as PDF...", Print and Print Preview through the main frame's commands.
#include "app/CDocManager.h"
#include "app/CMainFrame.h"
#include "app/CTarvikApp.h"
#include "base/CChildFrame.h"
#include "base/CDocument.h"
#include "base/CPrefs.h"
#include "base/Globals.h"
#include "base/SheetPrinter.h"
#include "base/SheetRenderer.h"
#include "base/UserMessage.h"
#include "meter/KelvaneSheet.h"
#include "meter/ZarnFormView.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
} // namespace

TEST(KelvaneSheetInTheProgram, AMeterReadFromTheSimulatorPrintsAsItsFormShowsIt)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "poppler-utils not installed";
    if (!QFile::exists(QStringLiteral("read20.que")))
        GTEST_SKIP() << "read20.que is not among the data files";
    ResetGlobals();
    TestEnv::ClearPreferences();
    QStringList messages;
    int asked = 0;
    QString proposedPdf;
    QTemporaryDir out;
    const QString exported = out.filePath(QStringLiteral("exported"));
    const QString printed = out.filePath(QStringLiteral("printed.pdf"));
    auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    auto oldOperator = SheetPrinter::SetOperatorPrompt([&asked](QWidget *) {
        ++asked;
        return std::optional<QString>(QStringLiteral("Jane"));
    });
    auto oldPdf = SheetPrinter::SetPdfPrompt([&](QWidget *, const QString &proposed) {
        proposedPdf = proposed;
        return exported;
    });
    QString offeredFile;
    auto oldPrint = SheetPrinter::SetPrintPrompt([&](QPrinter *printer, QWidget *) {
        offeredFile = printer->outputFileName();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printed);
        return true;
    });
    const auto restore = qScopeGuard([=] {
        UserMessage::SetHandler(oldHandler);
        SheetPrinter::SetOperatorPrompt(oldOperator);
        SheetPrinter::SetPdfPrompt(oldPdf);
        SheetPrinter::SetPrintPrompt(oldPrint);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });

    QProcess sim;
    sim.start(TestEnv::MeterSimPath(),
        { QStringLiteral("--serial"), QStringLiteral("271828"), QStringLiteral("--range"),
            QStringLiteral("4"), QStringLiteral("--interval"), QStringLiteral("600000"),
            QStringLiteral("--data-dir"), TestEnv::DataDir() });
    ASSERT_TRUE(sim.waitForStarted(5000));
    const auto stopSim = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished(5000);
    });
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
    {
        auto store = CPrefs::OpenStore();
        store->setValue(QStringLiteral("Port/COM"), pty);
        store->setValue(QStringLiteral("MBPort/MBCOM"), QStringLiteral("OFF"));
        store->setValue(QStringLiteral("Version/SELECTION"), QStringLiteral("4.1A"));
    }
    LinkTiming timing;
    timing.pacingScale = 0.04;
    CTarvikApp app(timing, false);
    ASSERT_TRUE(app.InitInstance());
    messages.clear();
    app.MainFrame()->resize(1366, 768);
    app.OnNewMeterForm();
    CDocManager *manager = app.DocManager();
    ASSERT_EQ(manager->Documents().size(), 1);
    CDocument *document = manager->Documents().first();
    auto *form = qobject_cast<ZarnFormView *>(manager->FramesOf(document).first()->View());
    ASSERT_NE(form, nullptr);
    QApplication::processEvents();
    qobject_cast<QPushButton *>(form->Control(1040))->click();
    TestEnv::WaitUntil([&] { return form->RunningList() != ZarnFormView::kReadTimer; });
    ASSERT_EQ(document->Title(), QStringLiteral("271828_4"));
    form->SetField(1010, QStringLiteral("  1234 =>"));

    CMainFrame *frame = app.MainFrame();
    frame->UpdateCommandUI();
    for (const char *name : { "file_print", "file_print_preview", "file_export_pdf" }) {
        ASSERT_NE(frame->Action(QLatin1String(name)), nullptr) << name;
        EXPECT_TRUE(frame->Action(QLatin1String(name))->isEnabled()) << name;
    }
    EXPECT_EQ(frame->Action(QStringLiteral("file_export_pdf"))->text(),
        QStringLiteral("Export Datasheet as PDF..."));

    frame->Action(QStringLiteral("file_export_pdf"))->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(proposedPdf.endsWith(QStringLiteral("/271828_4.pdf"))) << proposedPdf.toStdString();
    ASSERT_TRUE(QFile::exists(exported + QStringLiteral(".pdf")));

    // Every line the form's page holds, in order, and the values the simulated meter gave.
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    const SheetPage page = KelvaneSheet::Build(form->SheetFields(), SheetRenderer::Measure(&probe));
    const QStringList texts = page.Texts();
    ASSERT_EQ(texts.size(), 61); // a ">= 4.1A" meter
    EXPECT_TRUE(texts.at(2).contains(QStringLiteral("Serial#: 271828")))
        << texts.at(2).toStdString();
    EXPECT_TRUE(texts.at(13).endsWith(QStringLiteral("213 - Active Range   => 4")))
        << texts.at(13).toStdString();
    EXPECT_TRUE(texts.at(15).contains(QStringLiteral("Value =>    1234")))
        << texts.at(15).toStdString();
    const QString pdfText = ToolOutput(QStringLiteral("pdftotext"),
        { QStringLiteral("-layout"), exported + QStringLiteral(".pdf"), QStringLiteral("-") })
                                .simplified();
    qsizetype at = 0;
    for (const QString &line : texts) {
        const qsizetype found = pdfText.indexOf(line.simplified(), at);
        EXPECT_GE(found, 0) << line.toStdString();
        if (found >= 0)
            at = found + line.simplified().size();
    }

    // Print through the print dialog into a PDF: the identification is not asked again.
    frame->Action(QStringLiteral("file_print"))->trigger();
    EXPECT_EQ(asked, 1);
    if (QPrinterInfo::availablePrinters().isEmpty()) { // the dialog offers a PDF of the document
        EXPECT_TRUE(offeredFile.endsWith(QStringLiteral("/271828_4.pdf")))
            << offeredFile.toStdString();
    }
    EXPECT_EQ(app.Printer(), SheetPrinter::SharedPrinter()); // the printer Print Setup sets up
    EXPECT_TRUE(ToolOutput(QStringLiteral("pdfinfo"), { printed })
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));
    EXPECT_TRUE(ToolOutput(QStringLiteral("pdftotext"), { printed, QStringLiteral("-") })
                    .contains(QStringLiteral("HALVREN - Meter Datasheet")));

    // The preview shows one page; a screenshot of it when TARVIK_SHEET_PREVIEW_SHOT names a file.
    int previewPages = -1;
    QTimer::singleShot(0, [&previewPages] {
        auto *dialog = qobject_cast<QPrintPreviewDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->resize(760, 1000);
        auto *preview = dialog->findChild<QPrintPreviewWidget *>();
        if (preview) {
            preview->updatePreview();
            previewPages = preview->pageCount();
            preview->setZoomMode(QPrintPreviewWidget::FitInView);
        }
        const QString shot = qEnvironmentVariable("TARVIK_SHEET_PREVIEW_SHOT");
        if (!shot.isEmpty())
            dialog->grab().save(shot);
        dialog->reject();
    });
    frame->Action(QStringLiteral("file_print_preview"))->trigger();
    EXPECT_EQ(previewPages, 1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form->Sheet()->OperatorName(), QStringLiteral("Jane"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
}

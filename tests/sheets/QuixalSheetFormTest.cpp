// The Quixal form's datasheet: what the form shows, read from its controls at the time of
// printing, written into a PDF through the form's own commands.
#include "base/Globals.h"
#include "base/SheetPrinter.h"
#include "base/SheetRenderer.h"
#include "base/UserMessage.h"
#include "meterqx/QXFieldIds.h"
#include "meterqx/QXMeterDoc.h"
#include "meterqx/QuixalSheet.h"
#include "meterqx/ZarnQXFormView.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace QXFieldId;

namespace {
QString PdfText(const QString &path)
{
    QProcess process;
    process.start(
        QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") });
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}
} // namespace

TEST(QuixalSheetForm, PrintsWhatTheFormShowsAndAsksForTheOperatorOnce)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "poppler-utils not installed";
    ResetGlobals();
    QDir::setCurrent(TestEnv::WorkDir());
    QStringList messages;
    int asked = 0;
    QTemporaryDir out;
    QString target = out.filePath(QStringLiteral("first.pdf"));
    const auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    const auto oldOperator = SheetPrinter::SetOperatorPrompt([&asked](QWidget *) {
        ++asked;
        return std::optional<QString>(QStringLiteral("Kim"));
    });
    const auto oldPdf
        = SheetPrinter::SetPdfPrompt([&target](QWidget *, const QString &) { return target; });
    const auto restore = qScopeGuard([=] {
        UserMessage::SetHandler(oldHandler);
        SheetPrinter::SetOperatorPrompt(oldOperator);
        SheetPrinter::SetPdfPrompt(oldPdf);
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    });
    QXMeterDoc doc(QStringLiteral("1.4A"));
    ASSERT_TRUE(doc.OnOpenDocument(QDir::current().filePath(QStringLiteral("Quixal.qxm"))));
    doc.SetPathName(QDir::current().filePath(QStringLiteral("Quixal.qxm")));
    ZarnQXFormView form(&doc);
    form.show();
    form.OnInitialUpdate();
    for (AppCommand command :
        { AppCommand::Print, AppCommand::PrintPreview, AppCommand::ExportPdf })
        EXPECT_TRUE(form.HandlesCommand(command));

    form.SetField(Password, QStringLiteral("4321"));
    form.SetField(NoDisplay, QStringLiteral("TRUE"));
    form.SetField(ZeroCutoff, QStringLiteral("1.50"));
    // A serial number over its 8 characters is printed as shown, without a message.
    qobject_cast<QLineEdit *>(form.Control(SerialNumber))->setText(QStringLiteral("QX12345678"));
    auto *output = qobject_cast<QComboBox *>(form.Control(Output));
    ASSERT_NE(output, nullptr);
    ASSERT_GT(output->count(), 2);
    output->setCurrentIndex(2); // the entry selected at the time of printing

    ASSERT_TRUE(form.OnCommand(AppCommand::ExportPdf));
    EXPECT_EQ(asked, 1);
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    const SheetPage page = QuixalSheet::Build(form.SheetFields(), SheetRenderer::Measure(&probe));
    const QStringList texts = page.Texts();
    ASSERT_EQ(texts.size(), 43);
    EXPECT_EQ(texts.at(1), QStringLiteral("SN# QX12345678 Datasheet"));
    EXPECT_EQ(texts.at(3), QStringLiteral("   ") + doc.PathName());
    EXPECT_TRUE(texts.contains(QStringLiteral("   LCD Display Present   => No")));
    EXPECT_TRUE(texts.contains(QStringLiteral("   Password              => 4321")));
    EXPECT_TRUE(texts.contains(QStringLiteral("   Zero Cutoff %         => 1.50%")));
    EXPECT_TRUE(texts.contains(QStringLiteral("   Output Voltage is for => ")
        + QuixalSheet::OutputText(output->currentText().right(1))));
    EXPECT_FALSE(QuixalSheet::OutputText(output->currentText().right(1)).isEmpty());
    const QString pdf = PdfText(target);
    qsizetype at = 0;
    for (const QString &line : texts) {
        const qsizetype found = pdf.indexOf(line.simplified(), at);
        EXPECT_GE(found, 0) << line.toStdString();
        if (found >= 0)
            at = found + line.simplified().size();
    }

    // An empty output list: the line prints with an empty value. Asked once per form.
    output->clear();
    target = out.filePath(QStringLiteral("second.pdf"));
    ASSERT_TRUE(form.OnCommand(AppCommand::ExportPdf));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(
        PdfText(target).contains(QStringLiteral("Output Voltage is for => Frequency Polarity")));

    // Print Preview: one page, no second question; a screenshot when TARVIK_QX_FORM_SHOT names a
    // file.
    output->setCurrentIndex(1);
    int pages = -1;
    QTimer::singleShot(0, [&pages] {
        auto *dialog = qobject_cast<QPrintPreviewDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->resize(760, 1000);
        if (auto *preview = dialog->findChild<QPrintPreviewWidget *>()) {
            preview->updatePreview();
            pages = preview->pageCount();
            preview->setZoomMode(QPrintPreviewWidget::FitInView);
        }
        const QString shot = qEnvironmentVariable("TARVIK_QX_FORM_SHOT");
        if (!shot.isEmpty())
            dialog->grab().save(shot);
        dialog->reject();
    });
    ASSERT_TRUE(form.OnCommand(AppCommand::PrintPreview));
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form.Sheet()->OperatorName(), QStringLiteral("Kim"));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
}

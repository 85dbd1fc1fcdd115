// Datasheets drawn by the program's renderer into PDF files and read back by poppler's tools:
// every line of the page in order on one page, in the fonts and at the positions the page
// gives, scaled evenly only when the paper is too small.
#include "base/SheetPrinter.h"
#include "base/SheetRenderer.h"
#include "base/UserMessage.h"
#include "meter/KelvaneSheet.h"
#include "meterqx/QuixalSheet.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

bool HavePoppler()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty();
}

QString Collapsed(QString text)
{
    return text.simplified();
}

KelvaneSheet::Fields Meter41A()
{
    KelvaneSheet::Fields f;
    f.pathName = QStringLiteral("/home/tech/meters/41A_Template.mtr");
    f.extended = true;
    f.meterVersion = QStringLiteral("4.1A");
    f.revision = QStringLiteral("B");
    f.serial = QStringLiteral("87654321");
    f.upPcba = QStringLiteral("PC-4711");
    f.refresh = 8;
    f.contrast = 128;
    f.date = QStringLiteral("12/08/26");
    f.time = QStringLiteral("07:21:13AM");
    f.password = QStringLiteral("1234");
    f.calibrationDue = QStringLiteral("12/08/27");
    f.activeRange = QStringLiteral("2");
    for (int i = 0; i < 4; ++i) {
        f.alarmLine[size_t(i)] = QStringLiteral("High flow alarm    403");
        f.alarmValue[size_t(i)] = QStringLiteral("1500");
        f.alarmDelay[size_t(i)] = QStringLiteral("5");
    }
    f.holdFlow1 = true;
    f.unitsLine = QStringLiteral("SCFM  Standard cubic feet per minute   101");
    f.watchdog = QStringLiteral("30");
    f.zeroCutoff = QStringLiteral("1.50");
    f.curveFit = QStringLiteral("Primary and Secondary Coefficients");
    for (int i = 0; i < 10; ++i) {
        f.primary.append(QStringLiteral("%1.00000000e+00").arg(i));
        f.secondary.append(QStringLiteral("-%1.00000000e-01").arg(i));
    }
    for (int i = 0; i <= 20; ++i)
        f.pointWise.append(QStringLiteral("%1.50").arg(i));
    return f;
}

QPageLayout Layout(QPageSize::PageSizeId size)
{
    return QPageLayout(QPageSize(size), QPageLayout::Portrait, QMarginsF(12.7, 12.7, 12.7, 12.7),
        QPageLayout::Millimeter);
}

// Writes the page a builder makes into a PDF on paper of the given size.
QString WritePdf(
    const QString &path, const SheetPrinter::Builder &builder, QPageSize::PageSizeId size)
{
    QWidget owner;
    SheetPrinter printer(&owner, builder, [] { return QStringLiteral("sheet"); }, {});
    SheetPrinter::SharedPrinter()->setPageLayout(Layout(size));
    return printer.WritePdf(path) ? path : QString();
}

// Checks that the text of the PDF holds every line of the page, in order, and only one page.
void ExpectLinesInOrder(const QString &pdf, const SheetPage &page)
{
    const QString info = ToolOutput(QStringLiteral("pdfinfo"), { pdf });
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))))
        << info.toStdString();
    const QString text = Collapsed(ToolOutput(
        QStringLiteral("pdftotext"), { QStringLiteral("-layout"), pdf, QStringLiteral("-") }));
    ASSERT_FALSE(text.isEmpty());
    qsizetype at = 0;
    for (const SheetLine &line : page.Lines()) {
        const QString wanted = Collapsed(line.text);
        const qsizetype found = text.indexOf(wanted, at);
        EXPECT_GE(found, 0) << "not found after position " << at << ": " << wanted.toStdString();
        if (found >= 0)
            at = found + wanted.size();
    }
}
} // namespace

TEST(SheetPdf, TheFontsAreTheInstalledTwinsOfTheNamedFaces)
{
    const QFontInfo heading(SheetRenderer::Font(SheetFont::Heading));
    EXPECT_EQ(heading.family(), QStringLiteral("Liberation Sans"));
    EXPECT_GE(heading.weight(), int(QFont::Bold));
    const QFontInfo body(SheetRenderer::Font(SheetFont::Body));
    EXPECT_EQ(body.family(), QStringLiteral("Liberation Mono"));
    EXPECT_TRUE(body.fixedPitch());
    EXPECT_EQ(SheetRenderer::Font(SheetFont::Title).pointSizeF(), 17.5); // 350 twips
    EXPECT_EQ(SheetRenderer::Font(SheetFont::Body).pointSizeF(), 9.5); // 190 twips
}

TEST(SheetPdf, KelvaneAndQuixalPagesReadBackLineByLineOnOnePage)
{
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils (pdftotext, pdfinfo) not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Sheet
    {
        const char *file;
        SheetPrinter::Builder builder;
    };
    QuixalSheet::Fields qx;
    qx.serial = QStringLiteral("QX000123");
    qx.pathName = QStringLiteral("/tmp/QX000123_1.qxm");
    qx.outputCode = QStringLiteral("1");
    qx.coefficients = QStringList { QStringLiteral("1.25") };
    const Sheet sheets[] = {
        { "kelvane.pdf", [](const SheetMetrics &m) { return KelvaneSheet::Build(Meter41A(), m); } },
        { "quixal.pdf", [qx](const SheetMetrics &m) { return QuixalSheet::Build(qx, m); } },
    };
    for (const Sheet &sheet : sheets) {
        SCOPED_TRACE(sheet.file);
        const QString path
            = WritePdf(dir.filePath(QString::fromLatin1(sheet.file)), sheet.builder, QPageSize::A4);
        ASSERT_FALSE(path.isEmpty());
        QPrinter probe(QPrinter::HighResolution);
        probe.setOutputFormat(QPrinter::PdfFormat);
        ExpectLinesInOrder(path, sheet.builder(SheetRenderer::Measure(&probe)));
        const QString fonts = ToolOutput(QStringLiteral("pdffonts"), { path });
        EXPECT_TRUE(fonts.contains(QStringLiteral("LiberationSans-Bold"))) << fonts.toStdString();
        EXPECT_TRUE(fonts.contains(QStringLiteral("LiberationMono"))) << fonts.toStdString();
    }
}

TEST(SheetPdf, LinesStandAtTheirTwipPositions)
{
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed";
    QTemporaryDir dir;
    KelvaneSheet::Fields f = Meter41A();
    f.extended = false; // a sheet that fits A4 as it stands
    const SheetPrinter::Builder builder
        = [f](const SheetMetrics &m) { return KelvaneSheet::Build(f, m); };
    const QString path
        = WritePdf(dir.filePath(QStringLiteral("positions.pdf")), builder, QPageSize::A4);
    ASSERT_FALSE(path.isEmpty());
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    probe.setPageLayout(Layout(QPageSize::A4));
    const SheetPage page = builder(SheetRenderer::Measure(&probe));
    ASSERT_EQ(SheetRenderer::FitScale(page, &probe, probe.pageRect(QPrinter::DevicePixel)), 1.0);

    // Words with their boxes in points; the first word of each line sits at the line's corner:
    // the margin (12.7 mm = 36 pt) plus the twips position over 20.
    const QString html = ToolOutput(
        QStringLiteral("pdftotext"), { QStringLiteral("-bbox"), path, QStringLiteral("-") });
    const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                       "yMax=\"[0-9.]+\">([^<]*)</word>"));
    struct Word
    {
        double x;
        double y;
        QString text;
    };
    QList<Word> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.append({ m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3) });
    }
    ASSERT_FALSE(words.isEmpty());
    int checked = 0;
    for (const SheetLine &line : page.Lines()) {
        const QString first = line.text.simplified().section(QLatin1Char(' '), 0, 0);
        const double wantY = 36.0 - line.y / 20.0;
        // The word of that text nearest the line's top edge.
        const Word *best = nullptr;
        for (const Word &w : words) {
            if (w.text == first && (!best || std::abs(w.y - wantY) < std::abs(best->y - wantY)))
                best = &w;
        }
        ASSERT_NE(best, nullptr) << first.toStdString();
        EXPECT_NEAR(best->y, wantY, 1.5) << line.text.toStdString();
        if (line.text.startsWith(first)) {
            EXPECT_NEAR(best->x, 36.0 + line.x / 20.0, 1.0) << line.text.toStdString();
        }
        ++checked;
    }
    EXPECT_EQ(checked, 41);
}

TEST(SheetPdf, ASheetTooLargeForThePaperIsScaledEvenlyAndOneThatFitsIsNot)
{
    QPrinter probe(QPrinter::HighResolution);
    probe.setOutputFormat(QPrinter::PdfFormat);
    const auto scaleOn = [&probe](const KelvaneSheet::Fields &f, QPageSize::PageSizeId size) {
        probe.setPageLayout(Layout(size));
        const SheetPage page = KelvaneSheet::Build(f, SheetRenderer::Measure(&probe));
        return SheetRenderer::FitScale(page, &probe, probe.pageRect(QPrinter::DevicePixel));
    };
    KelvaneSheet::Fields early = Meter41A();
    early.extended = false;
    EXPECT_EQ(scaleOn(early, QPageSize::A4), 1.0);
    EXPECT_EQ(scaleOn(early, QPageSize::Letter), 1.0);
    // The Hold Flow relay lines are wider than A4's printable width, the whole ">= 4.1A" sheet
    // taller than Letter's printable height.
    const double a4 = scaleOn(Meter41A(), QPageSize::A4);
    const double letter = scaleOn(Meter41A(), QPageSize::Letter);
    EXPECT_LT(a4, 1.0);
    EXPECT_GT(a4, 0.8);
    EXPECT_LT(letter, 1.0);
    EXPECT_GT(letter, 0.8);
    // A field of hundreds of characters is cut at the edge, not shrinking the sheet further.
    KelvaneSheet::Fields huge = early;
    huge.pathName = QString(500, QLatin1Char('x'));
    huge.serial = QString(300, QLatin1Char('y'));
    EXPECT_GT(scaleOn(huge, QPageSize::A4), 0.75);
}

TEST(SheetPdf, BadInputStillGivesAPage)
{
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed";
    QTemporaryDir dir;
    KelvaneSheet::Fields f; // empty lists, nothing selected
    f.extended = true;
    f.pathName = QString(600, QLatin1Char('p')) + QStringLiteral("\u00e9\u4e2d");
    f.password = QString(300, QLatin1Char('%')) + QStringLiteral("%s%n%d");
    const SheetPrinter::Builder builder
        = [f](const SheetMetrics &m) { return KelvaneSheet::Build(f, m); };
    const QString path = WritePdf(dir.filePath(QStringLiteral("bad.pdf")), builder, QPageSize::A5);
    ASSERT_FALSE(path.isEmpty());
    const QString text = ToolOutput(
        QStringLiteral("pdftotext"), { QStringLiteral("-layout"), path, QStringLiteral("-") })
                             .simplified();
    EXPECT_TRUE(text.contains(QStringLiteral("Curve Fit Settings")));
    EXPECT_TRUE(text.contains(QStringLiteral("770 - Point-Wise @ 100% =>")));
    EXPECT_TRUE(text.contains(QStringLiteral("219 - Password => %%%%"))) << text.toStdString();
    // A file that cannot be written is reported, not taken for a datasheet.
    QWidget owner;
    SheetPrinter printer(&owner, builder, [] { return QString(); }, {});
    EXPECT_FALSE(printer.WritePdf(dir.filePath(QStringLiteral("no/such/folder/x.pdf"))));
}

TEST(SheetPdf, TheOperatorIsAskedUntilAFormHoldsANameAndAFailedPrintSaysSo)
{
    QTemporaryDir dir;
    QStringList messages;
    const auto oldHandler = UserMessage::SetHandler(
        [&messages](const QString &text, const QString &) { messages.append(text); });
    QList<std::optional<QString>> answers { std::nullopt, QStringLiteral("Kim") };
    int asked = 0;
    const auto oldOperator = SheetPrinter::SetOperatorPrompt([&](QWidget *) {
        ++asked;
        return answers.isEmpty() ? std::optional<QString>(QStringLiteral("again"))
                                 : answers.takeFirst();
    });
    QString target = dir.filePath(QStringLiteral("one.pdf"));
    const auto oldPdf
        = SheetPrinter::SetPdfPrompt([&](QWidget *, const QString &) { return target; });
    const auto oldPrint = SheetPrinter::SetPrintPrompt([&](QPrinter *printer, QWidget *) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(dir.filePath(QStringLiteral("missing/folder/print.pdf")));
        return true;
    });
    QWidget owner;
    SheetPrinter printer(
        &owner, [](const SheetMetrics &m) { return QuixalSheet::Build({}, m); },
        [] { return QStringLiteral("QX1/2.qxm"); }, [&dir] { return dir.path(); });
    EXPECT_EQ(printer.ProposedPdfPath(), dir.filePath(QStringLiteral("QX1_2.pdf")));

    printer.ExportPdf(); // closed without Accept: printed all the same, asked again next time
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_TRUE(printer.OperatorName().isEmpty());
    target = dir.filePath(QStringLiteral("two"));
    printer.ExportPdf();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(QFile::exists(target + QStringLiteral(".pdf")));
    EXPECT_EQ(printer.OperatorName(), QStringLiteral("Kim"));
    printer.Print(); // the printer cannot be started: said so
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().startsWith(QStringLiteral("The datasheet could not be printed.")));
    target = dir.filePath(QStringLiteral("missing/folder/three.pdf"));
    printer.ExportPdf();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages.last().contains(QStringLiteral("three.pdf")));

    SheetPrinter::SetOperatorPrompt(oldOperator);
    SheetPrinter::SetPdfPrompt(oldPdf);
    SheetPrinter::SetPrintPrompt(oldPrint);
    UserMessage::SetHandler(oldHandler);
}

TEST(SheetPdf, PreviewShowsOnePageWithoutAnyPrinterSetUp)
{
    // Run on its own (as CTest does) the shared printer is the one the program starts with.
    const auto oldOperator
        = SheetPrinter::SetOperatorPrompt([](QWidget *) { return std::optional<QString>(); });
    QWidget owner;
    QuixalSheet::Fields qx;
    qx.serial = QStringLiteral("QX000123");
    qx.pathName = QStringLiteral("/home/tech/meters/QX000123_1.qxm");
    qx.meterVersion = QStringLiteral("1.4A");
    qx.outputCode = QStringLiteral("2");
    qx.polarityCode = QStringLiteral("0");
    qx.unitsLine = QStringLiteral("SCFH  Standard cubic feet per hour     102");
    qx.zeroCutoff = QStringLiteral("1.50");
    qx.coefficients = QStringList { QStringLiteral("1.00000000e+00"), QStringLiteral("-2.5e-03") };
    SheetPrinter printer(
        &owner, [qx](const SheetMetrics &m) { return QuixalSheet::Build(qx, m); },
        [] { return QStringLiteral("QX000123_1.qxm"); }, {});
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
        const QString shot = qEnvironmentVariable("TARVIK_QX_PREVIEW_SHOT");
        if (!shot.isEmpty())
            dialog->grab().save(shot);
        dialog->reject();
    });
    printer.Preview();
    EXPECT_EQ(pages, 1);
    SheetPrinter::SetOperatorPrompt(oldOperator);
}
